// cgencdec: the encoded tables of a dump appended to one file per table
// ("code,description" lines) in a directory.
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "generators/generators.h"

namespace pcs::generators {
namespace {

int AppendEncodedEntry(const char *dir, const char *name, const char *code,
                       const char *description) {
  const size_t length = std::strlen(dir) + 1 + std::strlen(name);
  if (length > kPathMax) return PCS_PATH_TOO_LONG;
  HostPtr<char> path(static_cast<char *>(gimaloc(length + 1)));
  if (!path) return PCS_GEN_NO_MEMORY;
  join_path(dir, name, path.get());
  FILE *file = io::open(path.get(), "a");
  if (!file) return PCS_CANNOT_OPEN;
  Output out(file);
  int rc = out.put(code).put(",").put(description).end_line();
  if (io::close(file) != 0 && rc == 0) rc = PCS_SHORT_WRITE;
  return rc;
}

int encoded_tables(const char *dump_path, const char *dir) {
  FILE *dump = io::open(dump_path, "r");
  if (!dump) return PCS_CANNOT_OPEN;
  int rc = find_header(dump, "MATHEAD", "GEOHEAD");
  char line[kLineSize], name[kFieldSize], code[kFieldSize], description[kFieldSize];
  while (rc == 0) {
    if (!read_line(dump, line)) rc = PCS_INPUT_ENDED;
    else if (is_end_line(line)) break;
    SplitEncodedEntry(line, name, code, description);
    if (rc == 0 && name[0] && code[0] && description[0])
      rc = AppendEncodedEntry(dir, name, code, description);
  }
  io::close(dump);
  return rc;
}

}  // namespace
}  // namespace pcs::generators

extern "C" PCS_API void cgencdec(const char *dump, const char *directory, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { pcs::generators::fail_into(rc, pcs::generators::encoded_tables(dump, directory)); });
}
