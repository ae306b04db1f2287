// csfdir: the file names of a directory, as 80-character blank-padded
// entries of a new host stack, in the order the directory gives them.
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/host_stack.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

// Pushes every entry but "." and ".."; the stack service's last code, or
// PCS_CANNOT_OPEN when the directory could not be read to its end.
int push_entries(io::DirectoryEntries &directory, int stack) {
  int rc = 0;
  while (const char *name = directory.next()) {
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    char field[PCS_DIR_ENTRY];
    size_t n = std::strlen(name);
    if (n > sizeof field) n = sizeof field;
    std::memset(field, ' ', sizeof field);
    std::memcpy(field, name, n);
    if ((rc = push_entry(stack, field)) != 0) return rc;
  }
  return directory.failed() ? PCS_CANNOT_OPEN : rc;
}

int list_directory(const char *name, int name_length, int *stack) {
  *stack = 0;
  size_t n = name_length > 0 ? static_cast<size_t>(name_length) : 0;
  auto path = host_buffer(n + 1);
  if (!path) return PCS_GEN_NO_MEMORY;
  std::memcpy(path.get(), name, n);
  path.get()[n] = '\0';
  io::DirectoryEntries directory(reinterpret_cast<const char *>(path.get()));
  if (!directory.is_open()) return PCS_CANNOT_OPEN;
  HostStack made;
  int rc = made.create(PCS_DIR_ENTRY);
  if (rc == 0) rc = push_entries(directory, made.handle);
  if (rc != 0) return rc;
  *stack = made.release();
  return 0;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" PCS_API void csfdir(const char *directory, const int *name_length, int *stack,
                               int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { *rc = pcs::catalog::list_directory(directory, *name_length, stack); });
}
