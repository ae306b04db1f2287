// Arbitrary bytes through the readers of `pcs catalog import`: as CSV (a
// header, then rows built into part records with a small schema) and, line
// by line, as JSON Lines; nothing may crash, and nothing may stay allocated.
// CSV rows built the fast way (RowRecords) must give the record bytes, or
// the error and its cell, that build_row and row_record give.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "tools/catalog_text.h"

namespace {

using namespace pcs::tools;

// The record's bytes as an import lays them; "" for none.
std::string laid(PartRecord *record, bool deleted) {
  int rc = 0;
  const long long size = cspgenc(record, deleted, 0, nullptr, 0, &rc);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size > 0) cspgenc(record, deleted, 0, reinterpret_cast<unsigned char *>(bytes.data()), size, &rc);
  return bytes;
}

// The record of a row by build_row and row_record, or the error and its
// cell (the cell count when none is at fault).
std::string take(const std::vector<Column> &columns, std::vector<Cell> &cells, const Schema &schema) {
  std::vector<std::pair<const Column *, Cell>> pairs;
  for (size_t i = 0; i < cells.size() && i < columns.size(); ++i) pairs.emplace_back(&columns[i], cells[i]);
  Row row;
  std::string error;
  size_t at = 0;
  if (!build_row(pairs, schema, &row, &error, &at)) return std::to_string(at) + ": " + error;
  PartRecord *record = row_record(row, &error);
  if (!record) return std::to_string(pairs.size()) + ": " + error;
  for (const Field &f : record_fields(record, schema))
    for (const std::string &v : f.values) decode_value(reinterpret_cast<const unsigned char *>(v.data()), f.type);
  const std::string bytes = laid(record, row.deleted);
  cspgfre(record);
  return bytes;
}

std::string take_fast(RowRecords &rows, const std::vector<Cell> &cells) {
  std::string error;
  size_t at = 0;
  bool deleted = false;
  PartRecord *record = rows.build(cells, &deleted, &error, &at);
  return record ? laid(record, deleted) : std::to_string(at) + ": " + error;
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
    // The import refuses a header with a column it cannot read before any
    // row is built: rows are built only under a readable header.
    bool readable = reader.next(&header);
    for (size_t i = 0; readable && i < header.size(); ++i) {
      Column c;
      std::string error;
      readable = parse_column(header[i].text, &c, &error);
      columns.push_back(c);
    }
    if (readable) {
      RowRecords rows(columns, schema);
      while (reader.next(&cells))
        if (cells.size() == columns.size() && take(columns, cells, schema) != take_fast(rows, cells)) std::abort();
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
