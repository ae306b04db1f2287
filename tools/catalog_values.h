// Catalog records as rows of typed values, whatever the text format: the
// column names (GROUP.ATTRIBUTE[#N][:TYPE LENGTH]), the project schema that
// types and sizes them, one value's text to bytes and back, and rows to
// part records and back. CSV and JSON Lines readers and writers only split
// and join text; every rule about values lives here.
#ifndef PCS_TOOLS_CATALOG_VALUES_H
#define PCS_TOOLS_CATALOG_VALUES_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "include/pcs.h"

namespace pcs::tools {

// A value's type: 'C' characters, 'I' a 4-byte int, 'R' an 8-byte double
// (both in this machine's representation).
struct ValueType {
  char type = 'C';
  int length = 0;
  bool operator==(const ValueType &) const = default;
};

// A column: an attribute of a group, the value number from 1, and the type
// written in the name ("DIMS.OD:R8"), if any. `meta` names "@offset" or
// "@state", which are not attributes.
struct Column {
  std::string group, attribute;  // as written, 1 to 8 characters
  int index = 1;
  std::optional<ValueType> type;
  std::string meta;
};

// Parses a column name; false with the reason in *error.
bool parse_column(const std::string &name, Column *column, std::string *error);
// "GROUP.ATTR", "#N" when index > 1, ":TL" when `type` is given.
std::string column_name(const std::string &group, const std::string &attribute, int index,
                        const std::optional<ValueType> &type);

// The attribute types a project declares: group and attribute names
// without trailing blanks to their type.
class Schema {
 public:
  // Reads the groups of the project database `project`; "" reads the
  // default project when it exists and leaves the schema empty otherwise.
  // Fails the command when a named project cannot be read.
  static Schema load(const std::string &project);
  void declare(const std::string &group, const std::string &attribute, ValueType type);
  const ValueType *find(const std::string &group, const std::string &attribute) const;
  // The group's declared attributes (empty when the group is unknown).
  std::vector<std::string> attributes(const std::string &group) const;
  std::vector<std::string> groups() const;

 private:
  std::map<std::string, std::map<std::string, ValueType>> groups_;
};

// One value as read from text: absent (no value at all), blank (all
// blanks), or text (a number's digits for I and R).
struct Cell {
  enum Kind { absent, blank, filled } kind = absent;
  std::string text;
};

// The value's bytes (type.length of them); false with the reason in *error.
bool encode_value(const Cell &cell, ValueType type, std::string *bytes, std::string *error);
// The same into type.length bytes at `out`.
bool encode_value(const Cell &cell, ValueType type, unsigned char *out, std::string *error);

// A value of a record as its type shows it.
struct Shown {
  enum Kind { blank, characters, integer, real } kind = blank;
  std::string text;  // characters without trailing blanks, or the number
};
Shown decode_value(const unsigned char *bytes, ValueType type);

// The type to show values of `length` bytes as when no schema declares
// them. Length 4: characters when every byte is printable ASCII, else I.
// Length 8: R when every value is blank or a finite real of a short decimal
// form, else characters when every byte is printable, else R when all are
// finite. Other lengths: characters.
char guess_type(const unsigned char *values, int count, int length);

// One attribute of a row.
struct Field {
  std::string group, attribute;  // without trailing blanks
  ValueType type;
  std::vector<std::string> values;  // type.length bytes each
};

// A row of values: a part record, its place in the catalog and its state.
struct Row {
  std::vector<Field> fields;
  bool deleted = false;
  int64_t offset = -1;
};

// Builds a row from (column, cell) pairs: types from the column or the
// schema, values numbered without gaps. false with "COLUMN: reason" in
// *error and the position of the cell at fault in *at.
bool build_row(const std::vector<std::pair<const Column *, Cell>> &cells, const Schema &schema,
               Row *row, std::string *error, size_t *at);

// The part record of a row (the caller frees it with cspgfre); null with
// the reason in *error.
PartRecord *row_record(const Row &row, std::string *error);

// The part records of rows of one set of columns, as build_row and
// row_record make them, built fast: the first row whose cells fill a given
// set of columns is checked whole and its record kept; later rows filling
// the same columns only have their values checked and laid into the kept
// record.
class RowRecords {
 public:
  RowRecords(const std::vector<Column> &columns, const Schema &schema)
      : columns_(columns), schema_(schema) {}
  ~RowRecords();
  // The record of a row of one cell per column, owned by this object and
  // valid until the next call, with its state in *deleted; null with
  // "reason" in *error and the position of the cell at fault in *at (the
  // cell count when no cell is at fault).
  PartRecord *build(const std::vector<Cell> &cells, bool *deleted, std::string *error, size_t *at);
  RowRecords(const RowRecords &) = delete;
  RowRecords &operator=(const RowRecords &) = delete;

 private:
  // A set of filled columns: the kept record, where each cell's value goes
  // (in the order build_row checks them), and the @state cells.
  struct Value {
    size_t cell;
    ValueType type;
    unsigned char *bytes;
  };
  struct Plan {
    PartRecord *record = nullptr;
    std::vector<Value> values;
    std::vector<size_t> states;
  };
  bool plan(const std::vector<Cell> &cells, Plan *plan, std::string *error, size_t *at);

  const std::vector<Column> &columns_;
  const Schema &schema_;
  std::map<std::string, Plan> plans_;  // by the filled-cell mask
  std::string mask_;
};

// The fields of a part record in record order, typed by the schema, else
// by guess_type.
std::vector<Field> record_fields(PartRecord *record, const Schema &schema);

// The type a column name must spell out: none when the schema declares the
// attribute with this type, the type otherwise.
std::optional<ValueType> written_type(const Schema &schema, const std::string &group,
                                      const std::string &attribute, ValueType type);

}  // namespace pcs::tools

#endif
