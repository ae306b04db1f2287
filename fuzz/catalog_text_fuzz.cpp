// Arbitrary bytes through the readers of `pcs catalog import`: as CSV (a
// header, then rows built into part records with a small schema) and, line
// by line, as JSON Lines; nothing may crash, and nothing may stay allocated.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "tools/catalog_text.h"

namespace {

using namespace pcs::tools;

void take(const std::vector<Column> &columns, std::vector<Cell> &cells, const Schema &schema) {
  std::vector<std::pair<const Column *, Cell>> pairs;
  for (size_t i = 0; i < cells.size() && i < columns.size(); ++i) pairs.emplace_back(&columns[i], cells[i]);
  Row row;
  std::string error;
  size_t at = 0;
  if (!build_row(pairs, schema, &row, &error, &at)) return;
  if (PartRecord *record = row_record(row, &error)) {
    for (const Field &f : record_fields(record, schema))
      for (const std::string &v : f.values) decode_value(reinterpret_cast<const unsigned char *>(v.data()), f.type);
    cspgfre(record);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  pcs::host::suppress_reports(true);
  const long blocks = pcs::host::memory().live_blocks;
  static const std::string path = pcs::fuzz::scratch("catalog_text");
  pcs::fuzz::save(path, data, size);
  Schema schema;
  schema.declare("DIMS", "OD", {'R', 8});
  schema.declare("PIPE", "NPS", {'I', 4});
  schema.declare("PART", "NAME", {'C', 12});
  FILE *in = std::fopen(path.c_str(), "rb");
  if (!in) std::abort();
  {
    CsvReader reader(in);
    std::vector<Cell> header, cells;
    std::vector<Column> columns;
    if (reader.next(&header)) {
      for (const Cell &h : header) {
        Column c;
        std::string error;
        parse_column(h.text, &c, &error);
        columns.push_back(c);
      }
      while (reader.next(&cells)) take(columns, cells, schema);
    }
  }
  std::rewind(in);
  char *line = nullptr;
  size_t capacity = 0;
  std::vector<Column> columns;
  std::vector<Cell> cells;
  std::string error;
  for (ssize_t got; (got = getline(&line, &capacity, in)) >= 0;)
    if (json_row(std::string(line, static_cast<size_t>(got)), schema, &columns, &cells, &error))
      take(columns, cells, schema);
  std::free(line);
  std::fclose(in);
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
