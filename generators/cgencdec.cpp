// cgencdec: the encoded tables of a dump appended to one file per table
// ("code,description" lines) in a directory. Each table file is written
// anew (its old lines copied, the new ones after them) and the files are put
// in place together once the whole dump is read, so a failure leaves every
// table file as it was.
#include <cstring>
#include <map>
#include <string>

#include "common/fileio.h"
#include "common/memory.h"
#include "generators/generators.h"

namespace pcs::generators {
namespace {

// The new versions of the table files met so far, by path.
class TableFiles {
 public:
  // The stream of the table's new version, begun with the old file's bytes.
  int open(const char *dir, const char *name, FILE **file) {
    const size_t length = std::strlen(dir) + 1 + std::strlen(name);
    if (length > kPathMax) return PCS_PATH_TOO_LONG;
    HostPtr<char> path(static_cast<char *>(gimaloc(length + 1)));
    if (!path) return PCS_GEN_NO_MEMORY;
    join_path(dir, name, path.get());
    const auto known = streams_.find(path.get());
    if (known != streams_.end()) return *file = known->second, 0;
    *file = files_.begin(path.get());
    if (!*file) return PCS_CANNOT_OPEN;
    streams_.emplace(path.get(), *file);
    return copy_old(path.get(), *file);
  }
  bool commit() { return files_.commit(); }

 private:
  static int copy_old(const char *path, FILE *to) {
    FILE *from = io::open(path, "rb");
    if (!from) return errno == ENOENT ? 0 : PCS_CANNOT_OPEN;
    char buffer[4096];
    size_t n = 0;
    bool written = true;
    while (written && (n = io::read(from, buffer, sizeof buffer)) > 0)
      written = io::write(to, buffer, n) == n;
    const bool failed = written && std::feof(from) == 0;  // a read failed
    io::close(from);
    if (failed) return PCS_CANNOT_OPEN;
    return written ? 0 : PCS_SHORT_WRITE;
  }

  io::Replacements files_;
  std::map<std::string, FILE *> streams_;
};

int AppendEncodedEntry(TableFiles &files, const char *dir, const char *name, const char *code,
                       const char *description) {
  FILE *file = nullptr;
  if (int rc = files.open(dir, name, &file)) return rc;
  Output out(file);
  return out.put(code).put(",").put(description).end_line();
}

int encoded_tables(const char *dump_path, const char *dir) {
  FILE *dump = io::open(dump_path, "r");
  if (!dump) return PCS_CANNOT_OPEN;
  TableFiles files;
  int rc = find_header(dump, "MATHEAD", "GEOHEAD");
  char line[kLineSize], name[kFieldSize], code[kFieldSize], description[kFieldSize];
  while (rc == 0) {
    if (!read_line(dump, line)) rc = PCS_INPUT_ENDED;
    else if (is_end_line(line)) break;
    SplitEncodedEntry(line, name, code, description);
    if (rc == 0 && name[0] && code[0] && description[0])
      rc = AppendEncodedEntry(files, dir, name, code, description);
  }
  io::close(dump);
  if (rc == 0 && !files.commit()) rc = PCS_SHORT_WRITE;
  return rc;
}

}  // namespace
}  // namespace pcs::generators

extern "C" PCS_API void cgencdec(const char *dump, const char *directory, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { pcs::generators::fail_into(rc, pcs::generators::encoded_tables(dump, directory)); });
}
