// `pcs maint index` in one pass over the catalog: the index builder runs
// with a key reader that passes the library's reader through and checks
// that the keys show every field carried, so the catalog is not read a
// second time before the build; the run summary's duplicates and blank
// keys come from the runs of the index written. What the keys cannot tell
// (why a record could not be read, whether a field no key fills is
// carried at all) the full scan tells, and only then; a refused build has
// written nothing.
#include "tools/index_build.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/host_services.h"
#include "tools/maint.h"

namespace pcs::tools {
namespace {

// What the reader saw. The builder takes a plain function, so its state
// lives here; one build runs at a time.
struct ReaderState {
  std::vector<KeyField> fields;
  bool trust_fields = false;  // the full scan found every field carried
  int counted = 0;            // records the builder counted, deleted ones too
  int read = 0;
};
ReaderState state;

bool all_blank(const char *bytes, size_t size) {
  return std::all_of(bytes, bytes + size, [](char c) { return c == ' '; });
}

// False when some field is blank in every key (no key shows that a record
// carries it); stops at the first keys that show every field.
bool carries_every_field(const KeyRecord *records, int filled, int key_length) {
  std::vector<bool> filled_in(state.fields.size(), false);
  size_t missing = state.fields.size();
  for (int i = 0; i < filled && missing > 0; ++i) {
    const char *key = records[i].Key;
    size_t position = 0;
    for (size_t f = 0; f < state.fields.size(); ++f) {
      const size_t width = static_cast<size_t>(std::max(state.fields[f].length, 0));
      if (!filled_in[f] && position + width <= static_cast<size_t>(key_length) &&
          !all_blank(key + position, width)) {
        filled_in[f] = true;
        --missing;
      }
      position += width;
    }
  }
  return missing == 0;
}

int summarizing_reader(const char *path, const int *field_count, void *description,
                       const int *widths, int record_count, int key_length, KeyRecord *records,
                       int *filled) {
  const int rc = csgia(path, field_count, description, widths, record_count, key_length,
                       records, filled);
  state.counted = record_count;
  state.read = filled ? *filled : 0;
  const bool shown = rc == 0 && records && carries_every_field(records, state.read, key_length);
  return rc != 0 || shown || state.trust_fields ? rc : 1;
}

// The key description the builder passes to the reader: one 16-byte group
// and attribute entry per field.
struct Description {
  void *array = nullptr;
  explicit Description(const std::vector<KeyField> &fields)
      : array(pparynew(static_cast<int>(fields.size()))) {
    for (size_t i = 0; array && i < fields.size(); ++i) {
      const std::string names = name_field(fields[i].group) + name_field(fields[i].attribute);
      auto *entry = static_cast<char *>(gimaloc(names.size()));
      if (!entry) fail("cannot build the index: out of memory");
      std::memcpy(entry, names.data(), names.size());
      pparystr(array, static_cast<int>(i), entry);
    }
    if (!array) fail("cannot build the index: out of memory");
  }
  ~Description() {
    for (int i = 0; array && i < pparysiz(array); ++i) gifree(pparyget(array, i));
    if (array) pparyfre(array);
  }
};

int run_builder(const std::string &catalog, const std::string &index,
                const std::vector<KeyField> &fields, int *error) {
  Description description(fields);
  std::vector<int> widths;
  for (const KeyField &f : fields) widths.push_back(f.length);
  int count = static_cast<int>(fields.size()), rc = 0;
  errno = 0;
  csbndx(csgrn, summarizing_reader, &count, description.array, widths.data(), catalog.c_str(),
         index.c_str(), &rc);
  *error = errno;
  return rc;
}

// What the index just written by the builder tells: the records whose key
// an earlier record holds too (count - 1 in each run: the count field of
// its first line), and the records with a blank key (the count of the
// blank key's run). A line whose count cannot be read counts as a run of
// its own.
struct Runs {
  int duplicates = 0;
  int blank = 0;
};

Runs runs_in(const std::string &index_path, const std::vector<KeyField> &fields) {
  Runs runs;
  FILE *index = std::fopen(index_path.c_str(), "rb");
  if (!index) return runs;
  size_t key_length = 0;
  for (const KeyField &f : fields) key_length += static_cast<size_t>(std::max(f.length, 0));
  const size_t line = key_length + PCS_INDEX_OVERHEAD, lines = (size_t{1} << 20) / line + 1;
  std::unique_ptr<char[]> buffer(new char[lines * line]);
  int rest_of_run = 0;
  std::fseek(index, PCS_INDEX_HEADER, SEEK_SET);
  for (size_t got; (got = std::fread(buffer.get(), line, lines, index)) > 0;) {
    for (size_t i = 0; i < got; ++i) {
      if (rest_of_run > 0) {
        --rest_of_run;
        ++runs.duplicates;
        continue;
      }
      // A line: count (4), data offset (12), first line (12), key, newline.
      const char *entry = buffer.get() + i * line, *count = entry, *end = entry + 4;
      while (count < end && *count == ' ') ++count;
      int run = 0;
      if (std::from_chars(count, end, run).ptr != end || run < 1) run = 1;
      rest_of_run = run - 1;
      if (all_blank(entry + 28, key_length)) runs.blank = run;
    }
  }
  std::fclose(index);
  return runs;
}

}  // namespace

IndexSummary build_index_once(const std::string &catalog_path, const std::string &index_path,
                              const std::vector<KeyField> &fields) {
  state = ReaderState{fields};
  int error = 0;
  int rc = run_builder(catalog_path, index_path, fields, &error);
  if (rc != 0) {
    // The full scan names what the reader refused (damage, records it
    // cannot read, a field no record carries) and fails the command.
    readable_scan(catalog_path, fields, false);
    state.trust_fields = true;
    rc = run_builder(catalog_path, index_path, fields, &error);
  }
  if (rc != 0)
    fail(catalog_path + ": cannot build the index " + index_path +
         cause("csgbldx", rc, rc == 5 || rc == 6 ? error : 0));
  const Runs runs = runs_in(index_path, fields);
  return IndexSummary{state.read, runs.duplicates, state.counted - state.read, runs.blank};
}

}  // namespace pcs::tools
