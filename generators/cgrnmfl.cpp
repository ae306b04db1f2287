// cgrnmfl: renames a file named by blank-padded fields and turns the
// system's error number into a result code.
#include <cerrno>
#include <cstdio>

#include "common/fileio.h"
#include "common/memory.h"
#include "generators/generators.h"

namespace pcs::generators {
namespace {

struct RenameError {
  int error, code;
};

constexpr RenameError kRenameErrors[] = {
    {ENOENT, PCS_CANNOT_OPEN},          {EINVAL, PCS_CANNOT_OPEN},
    {EACCES, PCS_RENAME_ACCESS},        {EXDEV, PCS_RENAME_ACCESS},
    {EROFS, PCS_RENAME_ACCESS},         {EILSEQ, PCS_RENAME_ILSEQ},
    {EISDIR, PCS_RENAME_ISDIR},         {EMLINK, PCS_RENAME_MLINK},
    {ENOSPC, PCS_RENAME_NOSPC},         {ETXTBSY, PCS_RENAME_TXTBSY},
    {ENAMETOOLONG, PCS_RENAME_NAMETOOLONG},
};

int rename_code(int error) {
  for (const RenameError &e : kRenameErrors)
    if (e.error == error) return e.code;
  return PCS_RENAME_OTHER;
}

HostPtr<char> name_buffer(const int *width) {
  return HostPtr<char>(static_cast<char *>(gimaloc(size_t(*width > 0 ? *width : 0) + 1)));
}

int rename_file(const char *old_field, const int *old_width, const char *new_field,
                const int *new_width) {
  HostPtr<char> from = name_buffer(old_width), to = name_buffer(new_width);
  if (!from || !to) return PCS_GEN_NO_MEMORY;
  int rc = 0;
  sufscs(old_field, from.get(), old_width, &rc);
  if (rc == 0) sufscs(new_field, to.get(), new_width, &rc);
  if (rc != 0) return rc;
  if (io::rename(from.get(), to.get()) == 0) return 0;
  const int error = errno;
  std::perror("cgrnmfl");
  return rename_code(error);
}

}  // namespace
}  // namespace pcs::generators

extern "C" PCS_API int cgrnmfl(const char *old_name, const int *old_width, const char *new_name,
                               const int *new_width, int *rc) {
  int code = 0;
  pcs::guarded(&code, PCS_GEN_NO_MEMORY, [&] {
    code = pcs::generators::rename_file(old_name, old_width, new_name, new_width);
  });
  pcs::generators::fail_into(rc, code);
  return *rc != 0 ? 1 : 0;
}
