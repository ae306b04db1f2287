// Failure messages in words: what each small result code means for the
// operation that gave it; other codes take their meaning from the code
// tables of the library and the host.
#include <cstring>
#include <string>

#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

// Every small code of the library's family tables: its constant's name,
// value and meaning.
struct Code {
  const char *name;
  int rc;
  const char *text;
};

#define PCS_CODE_ROW_(name, value, text) {#name, value, text},
constexpr Code kCodes[] = {PCS_RECORD_FILE_CODES(PCS_CODE_ROW_) PCS_INDEX_CODES(PCS_CODE_ROW_)
                               PCS_ACCESS_CODES(PCS_CODE_ROW_) PCS_KEYED_CODES(PCS_CODE_ROW_)
                                   PCS_GROUP_ACCESS_CODES(PCS_CODE_ROW_)
                                       PCS_BUILD_CODES(PCS_CODE_ROW_)
                                           PCS_KEY_READER_CODES(PCS_CODE_ROW_)
                                               PCS_COMPRESS_CODES(PCS_CODE_ROW_)
                                                   PCS_TABLE_TOOL_CODES(PCS_CODE_ROW_)};
#undef PCS_CODE_ROW_

// The codes each operation can give, by constant name.
struct Meaning {
  const char *operation;
  const char *code;
};

constexpr Meaning kMeanings[] = {
    {"csbndx", "PCS_BUILD_NO_SOURCE"},      {"csbndx", "PCS_BUILD_NO_KEY"},
    {"csbndx", "PCS_BUILD_NO_MEMORY"},      {"csbndx", "PCS_BUILD_READER_FAILED"},
    {"csbndx", "PCS_BUILD_NOT_CREATED"},    {"csbndx", "PCS_BUILD_SHORT_WRITE"},
    {"csbndx", "PCS_BUILD_KEY_TOO_LONG"},   {"csbndx", "PCS_BUILD_KEY_TOO_WIDE"},
    {"csbndx", "PCS_BUILD_RUN_TOO_LONG"},   {"cscprs", "PCS_COMPRESS_NO_MEMORY"},
    {"cscprs", "PCS_COMPRESS_FAILED"},      {"cspopn", "PCS_KEYED_NO_MEMORY"},
    {"cspopn", "PCS_KEYED_DUPLICATE"},      {"cspopn", "PCS_KEYED_KEY_SIZE"},
    {"cspopn", "PCS_KEYED_NOT_FOUND"},      {"cspopn", "PCS_KEYED_DAMAGED"},
    {"cspput", "PCS_KEYED_NO_MEMORY"},      {"cspput", "PCS_KEYED_KEY_SIZE"},
    {"cspput", "PCS_KEYED_NOT_FOUND"},      {"cspput", "PCS_KEYED_DAMAGED"},
    {"cspget", "PCS_KEYED_NO_MEMORY"},      {"cspget", "PCS_KEYED_NOT_FOUND"},
    {"cspget", "PCS_KEYED_DAMAGED"},        {"cspdel", "PCS_KEYED_NO_MEMORY"},
    {"cspdel", "PCS_KEYED_NOT_FOUND"},      {"cspcls", "PCS_KEYED_NOT_FOUND"},
    {"cspcls", "PCS_KEYED_DAMAGED"},        {"csgopen", "PCS_OPEN_NO_MEMORY"},
    {"csgopen", "PCS_OPEN_NO_CATALOG"},     {"csgopen", "PCS_OPEN_NO_INDEX"},
    {"csggetm", "PCS_GETM_UNREADABLE"},     {"csggetm", "PCS_GETM_NOT_FOUND"},
    {"csgdelrc", "PCS_INDEX_NO_KEY"},       {"cstabl", "PCS_TABLE_CANNOT_OPEN"},
    {"cstabl", "PCS_TABLE_NO_HEADER"},
};

const Code *find_code(const char *name) {
  for (const Code &c : kCodes)
    if (std::strcmp(c.name, name) == 0) return &c;
  return nullptr;
}

// Operations that give the codes of another one.
const char *code_family(const std::string &operation) {
  if (operation == "csgbldx" || operation == "cscprt2") return "csbndx";
  if (operation == "cspputs") return "cspput";
  return operation.c_str();
}

}  // namespace

std::string cause(const std::string &operation, int rc, int error) {
  const std::string family = code_family(operation);
  std::string text = code_text(rc);
  for (const Meaning &m : kMeanings) {
    const Code *code = family == m.operation ? find_code(m.code) : nullptr;
    if (code && code->rc == rc)
      text = ": " + std::string(code->text) + " (code " + std::to_string(rc) + ", " + code->name + ")";
  }
  if (error != 0) text += ": " + std::string(std::strerror(error));
  return text;
}

}  // namespace pcs::tools
