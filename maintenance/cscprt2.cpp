// The maintenance dispatcher's run (cscprt2): pops the processes that csopts
// laid out, builds each index (create_index with the key specification of
// the process) and opens the new file to everybody with chmod, its path
// quoted for the shell.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/memory.h"
#include "common/report.h"
#include "host/host_services.h"
#include "maintenance/maintenance.h"

namespace pcs::maintenance {
namespace {

int as_number(const char *text) {
  const long value = std::strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// ---- run ----------------------------------------------------------------------

int run_processes(int kind) {
  HostStack sources, indexes, key_specs, key_counts, processes;
  int rc = 0;
  csopts(&kind, sources.out(), indexes.out(), key_specs.out(), key_counts.out(), processes.out(),
         &rc);
  if (rc != 0) return rc;
  for (;;) {
    char name[kProcessEntry], source[kProcessEntry], index[kProcessEntry];
    bool empty = false;
    if ((rc = pop_string(processes.ptr(), name, &empty)) != 0 || empty) return rc;
    if (determine_type(name) != kCreateIndex) return 0;
    if ((rc = pop_string(sources.ptr(), source, &empty)) != 0 || empty) return rc;
    if ((rc = pop_string(indexes.ptr(), index, &empty)) != 0 || empty) return rc;
    if ((rc = create_index(kind, key_specs.handle, key_counts.handle, source, index)) != 0)
      return rc;
    char command[4 * kProcessEntry + 64];
    if (chmod_command(index, command, sizeof command) && std::system(command) != 0) {
      // A failed chmod is silent.
    }
  }
}

}  // namespace

bool chmod_command(const char *path, char *command, size_t capacity) {
  std::string text = "chmod 666 '";
  // A path that starts with "-" would read as an option.
  if (path[0] == '-') text += "./";
  for (const char *c = path; *c; ++c) {
    if (*c == '\'')
      text += "'\\''";
    else
      text += *c;
  }
  text += "' 2>/dev/null ";
  if (text.size() >= capacity) return false;
  std::memcpy(command, text.c_str(), text.size() + 1);
  return true;
}

// ---- keys of one process --------------------------------------------------

void create_char_key(int key_specs, int count, void **description, int *field_count,
                     int **lengths, int *rc) {
  *description = nullptr;
  *lengths = nullptr;
  *field_count = std::max(count, 0) / 3;
  const auto fields = static_cast<size_t>(*field_count);
  HostPtr<int> widths(static_cast<int *>(gimaloc(std::max<size_t>(fields, 1) * sizeof(int))));
  void *names = widths ? new_key_description(*field_count) : nullptr;
  if (!names) {
    *rc = PCS_GEN_NO_MEMORY;
    return;
  }
  *rc = 0;
  for (int f = 0; f < *field_count && *rc == 0; ++f) {
    char group[kProcessEntry], attribute[kProcessEntry], length[kProcessEntry];
    if ((*rc = pop_key_string(&key_specs, group)) != 0 ||
        (*rc = pop_key_string(&key_specs, attribute)) != 0 ||
        (*rc = pop_key_string(&key_specs, length)) != 0)
      break;
    if (!set_key_field(names, f, group, strnlen(group, PCS_NAME_LEN), attribute,
                       strnlen(attribute, PCS_NAME_LEN))) {
      *rc = PCS_GEN_NO_MEMORY;
      break;
    }
    widths.get()[f] = as_number(length);
  }
  char rest[kProcessEntry];
  for (int extra = std::max(count, 0) % 3; *rc == 0 && extra > 0; --extra)
    *rc = pop_key_string(&key_specs, rest);
  if (*rc != 0) {
    free_key_description(names);
    return;
  }
  *description = names;
  *lengths = widths.release();
}

void create_num_key(int key_specs, int count, int **positions, int *field_count, int **lengths,
                    int *rc) {
  *positions = nullptr;
  *lengths = nullptr;
  *field_count = std::max(count, 0) / 2;
  const size_t bytes = std::max<size_t>(static_cast<size_t>(*field_count), 1) * sizeof(int);
  HostPtr<int> columns(static_cast<int *>(gimaloc(bytes)));
  HostPtr<int> widths(columns ? static_cast<int *>(gimaloc(bytes)) : nullptr);
  if (!widths) {
    *rc = PCS_GEN_NO_MEMORY;
    return;
  }
  *rc = 0;
  char text[kProcessEntry];
  for (int f = 0; f < *field_count && *rc == 0; ++f) {
    if ((*rc = pop_key_string(&key_specs, text)) != 0) break;
    columns.get()[f] = as_number(text);
    if ((*rc = pop_key_string(&key_specs, text)) != 0) break;
    widths.get()[f] = as_number(text);
  }
  if (*rc == 0 && std::max(count, 0) % 2 != 0) *rc = pop_key_string(&key_specs, text);
  if (*rc != 0) return;
  *positions = columns.release();
  *lengths = widths.release();
}

int create_index(int kind, int key_specs, int key_counts, const char *source_path,
                 const char *index_path) {
  int count = 0, empty = 0, rc = 0;
  guspop(&key_counts, &count, &empty, &rc);
  if (rc != 0) return rc;
  if (empty != 0) return PCS_BUILD_NO_KEY;
  bool numeric = false;
  if (count > 0) {
    char top[kProcessEntry];
    if ((rc = pop_key_string(&key_specs, top)) != 0) return rc;
    int pushed = 0;
    guspus(&key_specs, top, &pushed, &rc);
    if (rc != 0) return rc;
    numeric = as_number(top) != 0;
  }
  int fields = 0;
  int *lengths = nullptr;
  if (numeric) {
    int *positions = nullptr;
    create_num_key(key_specs, count, &positions, &fields, &lengths, &rc);
    if (rc == 0)
      csbndx(csgrc, csrikr, &fields, positions, lengths, source_path, index_path, &rc);
    gifree(positions);
  } else {
    void *description = nullptr;
    create_char_key(key_specs, count, &description, &fields, &lengths, &rc);
    if (rc == 0)
      csbndx(csgrn, kind == 1 ? catalog::csgia2 : csgia, &fields, description, lengths, source_path,
             index_path, &rc);
    free_key_description(description);
  }
  gifree(lengths);
  return rc;
}

}  // namespace pcs::maintenance

extern "C" {

PCS_API int cscprt2(const int *kind, int *rc) {
  if (!rc) return 0;
  *rc = 0;
  if (!kind) return 0;
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::maintenance::run_processes(*kind); });
  return 0;
}

}  // extern "C"
