// The catalog index file of an open table: the table's keys taken from its
// tree in ascending order, each written as one index record per record
// position; the header goes in last, when the number of records is known.
// The file is written beside the old one and replaces it when complete.
#include <cstdio>
#include <string>

#include "common/fileio.h"
#include "common/report.h"
#include "keyed/keyed.h"

namespace pcs {
namespace {

constexpr int kWriteFailed = 1;
constexpr int kNoTable = 5;
constexpr int kKeyLengthMax = 9999;  // the header's "%4d" field

// The index records of one key: "%4d" count, "%12d" position, "%12d" first
// record of the key, the key bytes as "%.1s" writes them (a 0 byte gives
// nothing), a newline.
void format_records(const keyed::TableElement &element, int key_length, int64_t first,
                    std::string *out) {
  out->clear();
  char number[48];  // room for the widest values of the three fields
  for (int32_t i = 0; i < element.count; ++i) {
    std::snprintf(number, sizeof number, "%4d%12d%12lld", element.count, element.positions[i],
                  static_cast<long long>(first));
    *out += number;
    for (int b = 0; b < key_length; ++b)
      if (element.key[b] != 0) *out += static_cast<char>(element.key[b]);
    *out += '\n';
  }
}

// Drains the tree into the stream after the header space; false when a write
// fell short (the tree is drained all the same).
bool write_records(Heap *index, FILE *stream, int64_t *total) {
  const int k = index->key_length;
  int64_t first = PCS_INDEX_HEADER;
  bool written = io::seek(stream, PCS_INDEX_HEADER, SEEK_SET) == 0;
  std::string records;
  int error = keyed::kTreeOk;
  while (auto *element = static_cast<keyed::TableElement *>(index->minimum(index, &error))) {
    if (written) {
      format_records(*element, k, first, &records);
      written = io::write(stream, records.data(), records.size()) == records.size();
    }
    first += static_cast<int64_t>(k + PCS_INDEX_OVERHEAD) * element->count;
    *total += element->count;
    index->delete_minimum(index, &error);
    index->free_element(element);
  }
  return written;
}

int write_index(KeyedFile *table, const char *name) {
  if (!table || !table->Index) return kNoTable;
  const int k = table->Index->key_length;
  char path[PCS_KEYED_NAME_LEN + 1];
  if (k > kKeyLengthMax || !keyed::resolve_keyed_name(name, path)) return kWriteFailed;
  io::Replacements output;  // the old index stays unless the new one is whole
  FILE *stream = output.begin(path);
  if (!stream) return kWriteFailed;
  int64_t total = 0;
  bool written = write_records(table->Index, stream, &total);
  char header[PCS_INDEX_HEADER + 16];
  int n = std::snprintf(header, sizeof header, "%12lld%4d\n", static_cast<long long>(total), k);
  written = written && io::seek(stream, 0, SEEK_SET) == 0 &&
            io::write(stream, header, static_cast<size_t>(n)) == static_cast<size_t>(n);
  return written && output.commit() ? 0 : kWriteFailed;
}

}  // namespace
}  // namespace pcs

extern "C" void cgprid(KeyedFile **table, const char *name, int *rc) {
  pcs::guarded(rc, pcs::kWriteFailed, [&] { *rc = pcs::write_index(table ? *table : nullptr, name); });
}
