// cgstdcr and cgfnctcr: a directory of encoded table files loaded into the
// project tables of a standard, and a directory of function rules files
// loaded into one function table object each.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "generators/generators.h"
#include "host/host_model.h"

namespace pcs::generators {
namespace {

constexpr int kValueSize = 256;
constexpr int kTextMin = 40;

// One encoded table file word and the group and attributes it fills.
struct EncodedTable {
  const char *word, *group, *code, *value;
};

const EncodedTable kEncodedTables[20] = {
    {"PNAMNTRY", "PRJPNPIP", "ENCPNAME", "PARTNAME"}, {"PNAMNTRY", "PRJPNFTG", "ENCPNAME", "PARTNAME"},
    {"PNAMNTRY", "PRJPNBR ", "ENCPNAME", "PARTNAME"}, {"PNAMNTRY", "PRJPNFLG", "ENCPNAME", "PARTNAME"},
    {"PNAMNTRY", "PRJPNELB", "ENCPNAME", "PARTNAME"}, {"PNAMNTRY", "PRJPNGSK", "ENCPNAME", "PARTNAME"},
    {"PNAMNTRY", "PRJPNVLV", "ENCPNAME", "PARTNAME"}, {"ENDNTRY", "PRJENDS ", "ENC_ENDS", "ENDS    "},
    {"RATNTRY", "PRJRATNG", "ENC_RATG", "RATG    "},  {"NOMNTRY", "PRJSIZE ", "ENC_SIZE", "SIZE    "},
    {"SCHNTRY", "PRJSCH  ", "ENC_SCH ", "SCH     "},   {"WALLNTRY", "PRJWALL ", "ENC_WALL", "WALL    "},
    {"MATNTRY", "PRJMCAT ", "ENC_MCAT", "MATCAT  "},  {"MMNTRY", "PRJMCPIP", "ENCMCODE", "MAINCODE"},
    {"MMNTRY", "PRJMCFTG", "ENCMCODE", "MAINCODE"},   {"MMNTRY", "PRJMCBR ", "ENCMCODE", "MAINCODE"},
    {"MMNTRY", "PRJMCFLG", "ENCMCODE", "MAINCODE"},   {"MMNTRY", "PRJMCELB", "ENCMCODE", "MAINCODE"},
    {"MMNTRY", "PRJMCGSK", "ENCMCODE", "MAINCODE"},   {"MMNTRY", "PRJMCVLV", "ENCMCODE", "MAINCODE"},
};

bool IsCodeChar(char c) { return c >= 32 && c <= 126 && c != ',' && c != '\'' && c != '`'; }

// Keeps the code characters of line[from, to) that come before a stop
// character; returns how many were kept and where the scan stopped.
size_t keep_code_chars(const char *line, size_t from, const char *stops, char *out, size_t *at) {
  size_t n = 0, p = from;
  for (; p < kLineSize - 1 && line[p] != '\0' && !std::strchr(stops, line[p]); ++p)
    if (IsCodeChar(line[p])) out[n++] = line[p];
  *at = p;
  return n;
}

// The code (its characters over blanks) and the value of one encoded line;
// false when the line adds no row.
bool parse_encoded_line(const char *line, char value_type, double scale,
                        char *code, char *value) {
  char text[kLineSize];
  size_t at = 0;
  std::memset(code, ' ', kValueSize);
  const size_t kept = keep_code_chars(line, 0, ",", code, &at);
  if (line[0] == ',' || kept == 0 || line[at] != ',') return false;
  const size_t n = keep_code_chars(line, at + 1, "\n", text, &at);
  if (n == 0) return false;
  text[n] = '\0';
  std::memset(value, 0, kValueSize);
  if (!store_number(text, value_type, scale, value)) {
    std::memset(value, ' ', kTextMin);
    std::memcpy(value, text, n);
  }
  return true;
}

int LoadEncodedTable(const char *dir, int handle, const EncodedTable &table, double scale) {
  char path[kPathMax + 1];
  if (int rc = join_path(dir, table.word, path)) return rc;
  trace_path(path);
  FILE *file = io::open(path, "r");
  if (!file) return PCS_CANNOT_OPEN;
  char code_type[8], value_type[8], line[kLineSize], code[kValueSize], value[kValueSize];
  int code_length = 0, value_length = 0, rc = 0;
  gj0art(table.group, table.code, code_type, &code_length, &rc);
  if (rc == 0) gj0art(table.group, table.value, value_type, &value_length, &rc);
  if (rc == 0 && (code_length > kValueSize || value_length > kValueSize)) rc = PCS_GEN_NO_MEMORY;
  const int one = 1, position = 0;
  int row = 0;
  while (rc == 0 && read_line(file, line)) {
    if (!parse_encoded_line(line, value_type[0], scale, code, value)) continue;
    gtbaae(&one, &handle, &position, table.group, table.code, &one, code, &rc);
    if (rc == 0) gtbmae(&one, &handle, &row, table.group, table.value, &one, value, &rc);
    row = row == 0 ? 2 : row + 1;
  }
  if (rc == 0 && read_failed(file)) rc = PCS_INPUT_ENDED;
  io::close(file);
  return rc;
}

int load_standard(int ws, const char *dir, const char *standard, double scale) {
  const std::string name = object_name72(standard);
  int handle = 0;
  if (int rc = cgucpo(ws, "STANDARD", name.c_str(), "SETUP   ", &handle)) return rc;
  HostStack entries;
  const int dir_length = static_cast<int>(std::strlen(dir));
  int rc = 0, empty = 0;
  csfdir(dir, &dir_length, &entries.handle, &rc);
  char entry[PCS_DIR_ENTRY];
  while (rc == 0) {
    guspop(&entries.handle, entry, &empty, &rc);
    if (rc != 0 || empty != 0) break;
    for (const EncodedTable &table : kEncodedTables)
      if (rc == 0 && std::strncmp(table.word, entry, std::strlen(table.word)) == 0)
        rc = LoadEncodedTable(dir, handle, table, scale);
  }
  return rc;
}

int LoadFunctionTable(const char *dir, const char *file, int handle) {
  char path[kPathMax + 1];
  if (int rc = join_path(dir, file, path)) return rc;
  trace_path(path);
  return LoadRulesTable(path, handle, kFunctionTable, 1.0);
}

// One function rules file: its object, name and catalog name rows, its rules.
int function_table(int ws, const char *dir, const char *entry) {
  const char *underscore = std::strchr(entry, '_');
  const int type = underscore ? part_type_of(underscore + 1) : -1;
  if (type < 0) return 0;
  char object[kValueSize], name[kValueSize], catalog[kValueSize];
  std::memset(object, ' ', sizeof object);
  std::memset(catalog, ' ', sizeof catalog);
  int rc = 0, handle = 0, width = kValueSize;
  const int one = 1, position = 0, row = 2;
  gj0puo("FNCTABLE", object, &rc);
  if (rc == 0) pu2cpo(&ws, "FNCTABLE", object, &handle, &rc);
  if (rc == 0) sucsfs(entry, name, &width, &rc);
  if (rc == 0) gtbaae(&ws, &handle, &position, "PRJTNAME", "NAME    ", &one, name, &rc);
  if (rc == 0) gj0puo(kPartTypes[type], catalog, &rc);
  if (rc == 0) gtbmae(&ws, &handle, &row, "PRJTNAME", "CATNAME ", &one, catalog, &rc);
  return rc != 0 ? rc : LoadFunctionTable(dir, entry, handle);
}

int describe_names(int *catalog_length) {
  char type[8];
  int rc = 0, name_length = 0;
  gj0pig("FNCTABLE", "PRJTNAME", "SETUP   ", &rc);
  if (rc == 0) gj0art("PRJTNAME", "CATNAME ", type, catalog_length, &rc);
  if (rc == 0) gj0art("PRJTNAME", "NAME    ", type, &name_length, &rc);
  if (rc == 0 && (name_length > kValueSize || *catalog_length > kValueSize)) rc = PCS_GEN_NO_MEMORY;
  return rc;
}

int load_functions(int ws, const char *dir) {
  int catalog_length = 0;
  if (int rc = describe_names(&catalog_length)) return rc;
  HostStack entries;
  const int dir_length = static_cast<int>(std::strlen(dir));
  int rc = 0, size = 0, count = 0, empty = 0;
  csfdir(dir, &dir_length, &entries.handle, &rc);
  if (rc == 0) gusinf(&entries.handle, &size, &count, &rc);
  if (rc != 0) return rc;
  // One buffer for the entry name as a string, long enough for either use.
  HostPtr<char> text(static_cast<char *>(gimaloc(size_t(std::max(size, catalog_length)) + 1)));
  if (!text) return PCS_GEN_NO_MEMORY;
  char entry[PCS_DIR_ENTRY];
  while (rc == 0) {
    guspop(&entries.handle, entry, &empty, &rc);
    if (rc != 0 || empty != 0) break;
    sufscs(entry, text.get(), &size, &rc);
    if (rc == 0) rc = function_table(ws, dir, text.get());
  }
  return rc;
}

}  // namespace
}  // namespace pcs::generators

extern "C" PCS_API void cgstdcr(const char *directory, const char *standard, const double *scale,
                                int *rc) {
  pcs::generators::run_creator(
      rc, [&](int ws) { return pcs::generators::load_standard(ws, directory, standard, *scale); });
}

extern "C" PCS_API void cgfnctcr(const char *directory, int *rc) {
  pcs::generators::run_creator(rc, [&](int ws) { return pcs::generators::load_functions(ws, directory); });
}
