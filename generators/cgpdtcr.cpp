// cgpdtcr: the pipe outside diameter and wall thickness sections of two
// dumps joined by nominal size into one pipe dimension table file.
#include <cstring>
#include <string>
#include <unordered_map>

#include "common/fileio.h"
#include "generators/generators.h"

namespace pcs::generators {
namespace {

constexpr int kPipeDimFields[] = {1, 2, 4, 3};

// Sizes and diameters of the outside diameter section, by element number.
struct Diameters {
  HostStack sizes, diameters;
  int count = 0;
  std::unordered_map<std::string, int> first;  // size -> first element holding it

  int push(const char *size, const char *diameter) {
    char entry[kStackEntry] = {};
    std::strncpy(entry, size, kStackEntry - 1);
    int rc = 0;
    guspus(&sizes.handle, entry, &count, &rc);
    if (rc != 0) return rc;
    first.emplace(entry, count);
    std::memset(entry, 0, sizeof entry);
    std::strncpy(entry, diameter, kStackEntry - 1);
    guspus(&diameters.handle, entry, &count, &rc);
    return rc;
  }
  // Reads element i of a stack as a string.
  static int read(const HostStack &stack, int i, char *entry) {
    int rc = 0;
    gusrea(&stack.handle, &i, entry, &rc);
    entry[kStackEntry - 1] = '\0';
    return rc;
  }
};

int read_diameters(const char *path, Diameters *d) {
  LargeBuffer buffer;
  FILE *dump = buffer.serve(io::open(path, "r"));
  if (!dump) return PCS_CANNOT_OPEN;
  int rc = find_header(dump, "PIODHEAD");
  if (rc == 0) rc = d->sizes.create(kStackEntry);
  if (rc == 0) rc = d->diameters.create(kStackEntry);
  if (rc == 0)
    rc = read_section(dump, "PIODNTRY", [d](Fields f) { return d->push(f[1], f[2]); });
  io::close(dump);
  return rc;
}

int write_diameters(const Diameters &d, Output &out) {
  char size[kStackEntry], diameter[kStackEntry];
  for (int i = 1; i <= d.count; ++i) {
    int rc = Diameters::read(d.sizes, i, size);
    if (rc == 0) rc = Diameters::read(d.diameters, i, diameter);
    if (rc == 0) rc = out.put(size).put(",,").put(diameter).put(",,").end_line();
    if (rc != 0) return rc;
  }
  return 0;
}

int write_walls(const char *path, const Diameters &d, Output &out) {
  LargeBuffer buffer;
  FILE *dump = buffer.serve(io::open(path, "r"));
  if (!dump) return PCS_CANNOT_OPEN;
  int rc = find_header(dump, "PITHHEAD");
  if (rc == 0)
    rc = read_section(dump, "PITHNTRY", [&](Fields f) {
      const auto found = d.first.find(f[1]);
      if (found != d.first.end())
        if (int read = Diameters::read(d.diameters, found->second, f[4])) return read;
      for (int index : kPipeDimFields) out.value(f[index]);
      return out.end_line();
    });
  io::close(dump);
  return rc;
}

int pipe_dimensions(const char *wall_path, const char *diameter_path, const char *output_path) {
  Diameters d;
  int rc = read_diameters(diameter_path, &d);
  if (rc != 0) return rc;
  LargeBuffer buffer;  // outlives the output stream
  io::Replacements output;  // the old file stays unless the new one is whole
  FILE *file = buffer.serve(output.begin(output_path));
  if (!file) return PCS_CANNOT_OPEN;
  Output out(file);
  rc = write_diameters(d, out);
  if (rc == 0) rc = write_walls(wall_path, d, out);
  if (rc == 0 && !output.commit()) rc = PCS_SHORT_WRITE;
  return rc;
}

}  // namespace
}  // namespace pcs::generators

extern "C" PCS_API void cgpdtcr(const char *wall_dump, const char *diameter_dump,
                                const char *output, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    pcs::generators::fail_into(rc, pcs::generators::pipe_dimensions(wall_dump, diameter_dump, output));
  });
}
