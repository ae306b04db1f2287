// cgwtcr2, cgbtcr2, cgpdtcr2, cgcmtcr2: comma-separated rules tables loaded
// into rows of a model object's group, one row per line, by LoadRulesTable.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/fileio.h"
#include "generators/generators.h"
#include "host/host_model.h"

namespace pcs::generators {
namespace {

constexpr int kValueSize = 256;
constexpr int kObjectName = 256;

const char *const kWeldColumns[] = {"ENDS1   ", "ENDS2   ", "WALL1   ",
                                    "WALL2   ", "FABSITE ", "WELDTYPE"};
const char *const kBranchColumns[] = {"R_NOD   ", "B_NOD   ", "SIZEKEY ",
                                      "B_FUNC  ", "ENDS    ", "PADTYPE "};
const char *const kPipeDimColumns[] = {"SIZE    ", "SCH     ", "OD      ", "WALL    "};
const char *const kCompatColumns[] = {"NAME    ", "STANDRD1", "SPEC1   ", "STANDRD2", "SPEC2   "};
const char *const kFunctionColumns[] = {"PROCFUNC", "SIZE1   ", "SIZE2   ", "MECHFUNC"};

// A field's text as the value of a column of type letter `type`: a number
// over blanks or the text over blanks.
void load_value(const char *field, char type, double scale, char *value) {
  std::memset(value, ' ', kValueSize);
  if (!store_number(field, type, scale, value))
    std::memcpy(value, field, strnlen(field, kValueSize));
}

// Branch size keys: RB for values beginning 0, ZERO or OFF, else B.
void map_size_key(char *value) {
  const bool reducing = std::strncmp(value, "0", 1) == 0 || std::strncmp(value, "ZERO", 4) == 0 ||
                        std::strncmp(value, "OFF", 3) == 0;
  std::memset(value, ' ', kValueSize);
  std::memcpy(value, reducing ? "RB      " : "B       ", 8);
}

struct Column {
  char type[8];
  int length;
};

int describe_columns(const RulesTable &table, Column *columns) {
  int rc = 0;
  for (int k = 0; k < table.column_count && rc == 0; ++k) {
    gj0art(table.group, table.columns[k], columns[k].type, &columns[k].length, &rc);
    if (rc == 0 && columns[k].length > kValueSize) rc = PCS_GEN_NO_MEMORY;
  }
  return rc;
}

// Stores one line's fields as row `row`: column 0 adds the row, the others
// are set in it.
int store_row(const RulesTable &table, const Column *columns, int handle, int row, Fields fields,
              double scale) {
  const int one = 1, position = 0;
  char value[kValueSize];
  int rc = 0;
  for (int k = 0; k < table.column_count && rc == 0; ++k) {
    load_value(fields[k], columns[k].type[0], table.scaled ? scale : 1.0, value);
    if (table.extra == Extra::size_key && std::strncmp(table.columns[k], "SIZEKEY", 7) == 0)
      map_size_key(value);
    if (k == 0)
      gtbaae(&one, &handle, &position, table.group, table.columns[0], &one, value, &rc);
    else
      gtbmae(&one, &handle, &row, table.group, table.columns[k], &one, value, &rc);
  }
  return rc;
}

}  // namespace

bool read_int(const char *text, int *value) {
  char *end = nullptr;
  const long long number = std::strtoll(text, &end, 10);
  if (end == text) return false;
  *value = int(std::clamp<long long>(number, INT_MIN, INT_MAX));
  return true;
}

bool store_number(const char *text, char type, double scale, char *value) {
  if (type == 'I') {
    int number = 0;
    if (read_int(text, &number)) std::memcpy(value, &number, sizeof number);
  } else if (type == 'R') {
    double number = 0;
    if (std::sscanf(text, "%lf", &number) == 1) {
      number *= scale;
      std::memcpy(value, &number, sizeof number);
    }
  }
  return type == 'I' || type == 'R';
}

const RulesTable kWeldTable{"PRJWRULS", kWeldColumns, 6, true, Extra::none};
const RulesTable kBranchTable{"PRJBRULS", kBranchColumns, 6, false, Extra::size_key};
const RulesTable kPipeDimTable{"PIPEDIM ", kPipeDimColumns, 4, true, Extra::none};
const RulesTable kCompatTable{"PRJCMPT ", kCompatColumns, 5, false, Extra::ends_name};
const RulesTable kFunctionTable{"PRJFRULS", kFunctionColumns, 4, false, Extra::none};

int LoadRulesTable(const char *path, int handle, const RulesTable &table, double scale) {
  FILE *file = io::open(path, "r");
  if (!file) return PCS_CANNOT_OPEN;
  Column columns[6];
  int rc = describe_columns(table, columns);
  char line[kLineSize];
  Fields fields;
  bool more = true;
  for (int row = 1; rc == 0 && (more = read_line(file, line)) && line[0] != '\0'; ++row) {
    SplitCsvLine(line, fields);
    if (table.extra == Extra::ends_name) std::strcpy(fields[0], "PRJENDS ");
    rc = store_row(table, columns, handle, row, fields, scale);
  }
  if (rc == 0 && !more && read_failed(file)) rc = PCS_INPUT_ENDED;
  io::close(file);
  return rc;
}

namespace {

// A weld or branch table: a new object of `type` named by the host, whose
// PRJBNAME row holds the file's name, then the file's rows.
int named_table(int ws, const char *type, const char *path, const RulesTable &table,
                double scale) {
  int rc = 0, length = 0;
  char attribute_type[8];
  gj0pig(type, "PRJBNAME", "SETUP   ", &rc);
  if (rc == 0) gj0art("PRJBNAME", "NAME    ", attribute_type, &length, &rc);
  if (rc != 0) return rc;
  if (length > kValueSize) return PCS_GEN_NO_MEMORY;
  char table_name[kValueSize], object[kObjectName];
  const char *slash = std::strrchr(path, '/');
  const char *base = slash ? slash + 1 : path;
  std::memset(table_name, ' ', sizeof table_name);
  std::memcpy(table_name, base, strnlen(base, length > 0 ? size_t(length) : 0));
  std::memset(object, ' ', sizeof object);
  gj0puo(type, object, &rc);
  int handle = 0;
  if (rc == 0) pu2cpo(&ws, type, object, &handle, &rc);
  const int position = 0, one = 1;
  if (rc == 0) gtbaae(&ws, &handle, &position, "PRJBNAME", "NAME    ", &one, table_name, &rc);
  return rc != 0 ? rc : LoadRulesTable(path, handle, table, scale);
}

int pipe_dimensions(int ws, const char *path, const char *standard, double scale) {
  const std::string name = object_name72(standard);
  int handle = 0;
  int rc = cgucpo(ws, "STANDARD", name.c_str(), "SETUP   ", &handle);
  return rc != 0 ? rc : LoadRulesTable(path, handle, kPipeDimTable, scale);
}

int compatibilities(int ws, const char *path) {
  char object[kObjectName];
  std::memset(object, ' ', sizeof object);
  int rc = 0, handle = 0;
  gj0puo("PROCESS ", object, &rc);
  if (rc == 0) rc = cgucpo(ws, "PROCESS ", object, "SETUP   ", &handle);
  return rc != 0 ? rc : LoadRulesTable(path, handle, kCompatTable, 1.0);
}

}  // namespace
}  // namespace pcs::generators

using pcs::generators::run_creator;

extern "C" PCS_API void cgwtcr2(const char *path, const double *scale, int *rc) {
  run_creator(rc, [&](int ws) {
    return pcs::generators::named_table(ws, "WLDTABLE", path, pcs::generators::kWeldTable, *scale);
  });
}

extern "C" PCS_API void cgbtcr2(const char *path, int *rc) {
  run_creator(rc, [&](int ws) {
    return pcs::generators::named_table(ws, "BRTABLE ", path, pcs::generators::kBranchTable, 1.0);
  });
}

extern "C" PCS_API void cgpdtcr2(const char *path, const char *standard, const double *scale,
                                 int *rc) {
  run_creator(rc, [&](int ws) { return pcs::generators::pipe_dimensions(ws, path, standard, *scale); });
}

extern "C" PCS_API void cgcmtcr2(const char *path, int *rc) {
  run_creator(rc, [&](int ws) { return pcs::generators::compatibilities(ws, path); });
}
