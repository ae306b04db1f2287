// The maintenance dispatcher's layout: the process table (determine_type),
// csnames, which turns the project setup into the paths of the current
// catalog's files, and csopts, which lays out the index processes of a
// catalog kind in host stacks for cscprt2 to run.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/memory.h"
#include "common/report.h"
#include "host/host_model.h"
#include "maintenance/maintenance.h"

namespace pcs::maintenance {
namespace {

constexpr int kNamesMax = 32;
constexpr int kPathMax = kProcessEntry - 1;
constexpr char kCreateIndexName[] = "create_KELVA_index";

// Process names and their codes, as decimal strings; the last row ends the
// table and answers every name that matches no row.
struct ProcessType {
  const char *name;
  const char *code;
};
constexpr ProcessType kProcessTypes[] = {
    {"merge_KELVA_MORIX_catalogs", "7"},      {"merge_KELVA_catalogs", "6"},
    {"convert_part_catalog", "0"},            {"convert_class_catalog", "2"},
    {"convert_symbol_catalog", "3"},          {"convert_encoded_table", "5"},
    {"convert_compatibility_table", "12"},    {"convert_branch_table", "10"},
    {"convert_pipe_dimension_table", "11"},   {"convert_function_table", "4"},
    {"convert_weld_table", "13"},             {"create_KELVA_standard", "8"},
    {"create_KELVA_function_table", "14"},    {"create_KELVA_index", "1"},
    {"create_KELVA_weld_table", "15"},        {"create_KELVA_branch_table", "16"},
    {"create_KELVA_compatibility_table", "17"}, {"create_KELVA_pipe_dimension_table", "18"},
    {"create_KELVA_piping_class", "19"},      {"unknown", "9"},
};

// ---- process layout of the catalog kinds -------------------------------------

struct KeyField {
  const char *group;
  const char *attribute;
  const char *length;
};
struct Process {
  int source;  // entry of the catalog names stack
  int index;
  int field_count;
  KeyField fields[3];
};
struct KindLayout {
  int kind;
  int process_count;
  Process processes[3];
};

constexpr KeyField kCategory{"PARTDEF ", "CATEGORY", "8"};
constexpr KeyField kPartType{"PARTDEF ", "PARTTYPE", "8"};
constexpr KindLayout kLayouts[] = {
    {0, 3,
     {{9, 6, 3, {kCategory, kPartType, {"PIPESIZE", "SIZE    ", "8"}}},
      {9, 7, 2, {kCategory, kPartType, {}}},
      {9, 8, 1, {{"PARTNUM ", "PARTNO  ", "40"}, {}, {}}}}},
    {1, 1,
     {{5, 4, 3, {{"ELCLASS ", "AELCLASS", "8"}, {"PIPESIZE", "SIZE    ", "16"}, kPartType}}}},
    {2, 1, {{3, 2, 1, {{"ELCATLOG", "SYMNAME ", "16"}, {}, {}}}}},
};

const KindLayout *layout_of(int kind) {
  for (const KindLayout &layout : kLayouts)
    if (layout.kind == kind) return &layout;
  return nullptr;
}

// ---- catalog names ------------------------------------------------------------

int catalog_names(int *catalog_id, int *names_stack) {
  *names_stack = 0;
  char directory[kProcessEntry];
  size_t length = 0;
  int rc = project_catalog_directory(kPathMax, directory, &length);
  if (rc != 0) return rc;
  if (*catalog_id == 0) {
    const int kind = 2, item = 30;
    pladata(&kind, &item, catalog_id, &rc);
    if (rc != 0) return rc;
  }
  char names[kNamesMax * PCS_NAME_LEN];
  int count = 0;
  const int first = 0;
  pu3catn(&first, catalog_id, names, &count, &rc);
  if (rc != 0) return rc;
  count = std::clamp(count, 0, kNamesMax);
  HostStack result;
  if ((rc = result.create(kProcessEntry)) != 0) return rc;
  for (int k = count - 1; k >= 0; --k) {
    char entry[kProcessEntry] = {};
    std::memcpy(entry, directory, length);
    std::memcpy(entry + length, names + k * PCS_NAME_LEN, PCS_NAME_LEN);
    if ((rc = push_entry(result.handle, entry)) != 0) return rc;
  }
  *names_stack = result.release();
  return 0;
}

// ---- layout -------------------------------------------------------------------

int push_process(const Process &process, const int *names, int sources, int indexes,
                 int key_specs, int key_counts, int processes) {
  int rc = 0;
  for (int f = process.field_count - 1; f >= 0; --f) {
    const KeyField &field = process.fields[f];
    if ((rc = push_string(&key_specs, field.length)) != 0 ||
        (rc = push_string(&key_specs, field.attribute)) != 0 ||
        (rc = push_string(&key_specs, field.group)) != 0)
      return rc;
  }
  const int strings = 3 * process.field_count;
  int count = 0;
  guspus(&key_counts, &strings, &count, &rc);
  if (rc != 0) return rc;
  char path[kProcessEntry];
  gusrea(names, &process.source, path, &rc);
  if (rc == 0) guspus(&sources, path, &count, &rc);
  if (rc == 0) gusrea(names, &process.index, path, &rc);
  if (rc == 0) guspus(&indexes, path, &count, &rc);
  if (rc == 0) rc = push_string(&processes, kCreateIndexName);
  return rc;
}

int lay_out(int kind, int *sources, int *indexes, int *key_specs, int *key_counts,
            int *processes) {
  *processes = *sources = *indexes = *key_specs = *key_counts = 0;
  HostStack made_processes, made_sources, made_indexes, made_specs, made_counts;
  int rc = 0;
  for (HostStack *stack : {&made_processes, &made_sources, &made_indexes, &made_specs})
    if ((rc = stack->create(kProcessEntry)) != 0) return rc;
  if ((rc = made_counts.create(4)) != 0) return rc;
  int catalog_id = 0;
  HostStack names;
  if ((rc = catalog_names(&catalog_id, names.out())) != 0) return rc;
  if (const KindLayout *layout = layout_of(kind)) {
    int size = 0, available = 0;
    gusinf(names.ptr(), &size, &available, &rc);
    if (rc != 0) return rc;
    for (int p = layout->process_count - 1; p >= 0; --p) {
      const Process &process = layout->processes[p];
      if (std::max(process.source, process.index) > available) return PCS_CANNOT_OPEN;
      rc = push_process(process, names.ptr(), made_sources.handle, made_indexes.handle,
                        made_specs.handle, made_counts.handle, made_processes.handle);
      if (rc != 0) return rc;
    }
  }
  *processes = made_processes.release();
  *sources = made_sources.release();
  *indexes = made_indexes.release();
  *key_specs = made_specs.release();
  *key_counts = made_counts.release();
  return 0;
}

}  // namespace

int catalog_directory(const int *setup, size_t path_max, char *directory, size_t *length) {
  int entry_size = 0, count = 0, rc = 0;
  gusinf(setup, &entry_size, &count, &rc);
  if (rc != 0) return rc;
  if (count < 1 || entry_size < 1) return PCS_CANNOT_OPEN;
  HostPtr<char> entry(static_cast<char *>(gimaloc(static_cast<size_t>(entry_size))));
  if (!entry) return PCS_GEN_NO_MEMORY;
  const int first = 1;
  gusrea(setup, &first, entry.get(), &rc);
  if (rc != 0) return rc;
  size_t n = 0;
  while (n < static_cast<size_t>(entry_size) && entry.get()[n] != '\0') ++n;
  while (n > 0 && entry.get()[n - 1] == ' ') --n;
  if (n == 0) return PCS_CANNOT_OPEN;
  if (n + 1 + PCS_NAME_LEN > path_max) return PCS_PATH_TOO_LONG;
  for (size_t i = 0; i < n; ++i) directory[i] = entry.get()[i] == ' ' ? '/' : entry.get()[i];
  directory[n] = '/';
  *length = n + 1;
  return 0;
}

int project_catalog_directory(size_t path_max, char *directory, size_t *length) {
  HostStack setup, ids, current;
  int rc = 0;
  gj0frd("PRO     ", "SETUP   ", "CATALOG ", "        ", setup.out(), ids.out(), current.out(), &rc);
  if (rc != 0) return rc;
  if (!setup) return PCS_CANNOT_OPEN;
  return catalog_directory(setup.ptr(), path_max, directory, length);
}

int push_string(const int *stack, const char *text) {
  char entry[kProcessEntry] = {};
  std::strncpy(entry, text, kProcessEntry - 1);
  int count = 0, rc = 0;
  guspus(stack, entry, &count, &rc);
  return rc;
}

// Pops one 80-byte entry as a 0-terminated string; *empty when there was
// none. Returns the stack service's code.
int pop_string(const int *stack, char *entry, bool *empty) {
  int none = 0, rc = 0;
  guspop(stack, entry, &none, &rc);
  *empty = rc == 0 && none != 0;
  entry[kProcessEntry - 1] = '\0';
  return rc;
}

// As pop_string; a key specification stack that runs out before the count
// says gives PCS_BUILD_NO_KEY.
int pop_key_string(const int *stack, char *entry) {
  bool empty = false;
  const int rc = pop_string(stack, entry, &empty);
  return rc != 0 ? rc : empty ? PCS_BUILD_NO_KEY : 0;
}

int determine_type(const char *process_name) {
  const size_t rows = sizeof kProcessTypes / sizeof kProcessTypes[0];
  size_t row = 0;
  while (row + 1 < rows && (!process_name || std::strcmp(process_name, kProcessTypes[row].name) != 0))
    ++row;
  return std::atoi(kProcessTypes[row].code);
}

}  // namespace pcs::maintenance

extern "C" {

PCS_API void csnames(int *catalog_id, int *names, int *rc) {
  if (!rc) return;
  if (!catalog_id || !names) {
    *rc = PCS_CANNOT_OPEN;
    return;
  }
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::maintenance::catalog_names(catalog_id, names); });
}

PCS_API void csopts(const int *kind, int *sources, int *indexes, int *key_specs, int *key_counts,
                    int *processes, int *rc) {
  if (!rc) return;
  if (!kind || !sources || !indexes || !key_specs || !key_counts || !processes) {
    *rc = PCS_CANNOT_OPEN;
    return;
  }
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = pcs::maintenance::lay_out(*kind, sources, indexes, key_specs, key_counts, processes);
  });
}

}  // extern "C"
