// The two text forms of catalog rows. CSV: a header of column names, one
// row a part; an unquoted empty field is no value, a quoted empty field
// ("") a blank one. JSON Lines: one object a part, keys the column names,
// a list for several values, null for a blank value. Both read into
// (column, cell) pairs for build_row and are written from fields.
#ifndef PCS_TOOLS_CATALOG_TEXT_H
#define PCS_TOOLS_CATALOG_TEXT_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/catalog_values.h"

namespace pcs::tools {

// Reads CSV records (RFC 4180: quotes double inside quoted fields, which
// may hold commas and line ends).
class CsvReader {
 public:
  explicit CsvReader(FILE *stream) : stream_(stream) {}
  ~CsvReader();
  // The next record's fields; false at the end of the input or on a
  // malformed record (error() then says why).
  bool next(std::vector<Cell> *fields);
  // Line number of the last record's first line, from 1.
  long line() const { return first_line_; }
  // Bytes read so far.
  int64_t consumed() const { return consumed_; }
  const std::string &error() const { return error_; }
  CsvReader(const CsvReader &) = delete;
  CsvReader &operator=(const CsvReader &) = delete;

 private:
  // Reads the next line into buffer_ (got_ bytes); false at the end.
  bool read_line();
  // True when position i of the line ends the record: its newline, or a
  // carriage return before it.
  bool line_end(ssize_t i) const;
  // Reads the quoted field opening at *at, over line ends; *at is set after
  // its closing quote. False when it never closes.
  bool quoted(Cell *cell, ssize_t *at);

  FILE *stream_;
  char *buffer_ = nullptr;
  size_t capacity_ = 0;
  ssize_t got_ = 0;
  int64_t consumed_ = 0;
  long line_ = 0, first_line_ = 0;
  std::string error_;
};

// The columns and cells of one JSON Lines object; false with the reason
// (naming the key at fault) in *error. `schema` tells which keys need
// numbers and which text.
bool json_row(const std::string &line, const Schema &schema, std::vector<Column> *columns,
              std::vector<Cell> *cells, std::string *error);

// Appends a CSV field for a value: numbers bare, text quoted when needed,
// a blank value as "".
void csv_field(std::string *out, const Shown &value);
// Appends a CSV field holding any text, quoted when needed.
void csv_text(std::string *out, const std::string &text);
// Appends a JSON value: numbers bare, text as a string, blank as null
// ("" for characters).
void json_value(std::string *out, const Shown &value, char type);
// Appends a JSON string.
void json_string(std::string *out, const std::string &text);
// Appends a part as a JSON object {"GROUP.ATTR": value or [values], ...},
// names typed as column_name does where the schema does not type them;
// false (with the attribute in *error) for a number that is not finite.
bool json_part(std::string *out, const std::vector<Field> &fields, const Schema &schema, std::string *error);
// The part as text, one "  GROUP.ATTR  value, value" line per attribute.
std::string text_part(const std::vector<Field> &fields);

// Adds `catalog import`, `catalog export` and `catalog list`.
void add_catalog_io_commands(CLI::App *catalog);

}  // namespace pcs::tools

#endif
