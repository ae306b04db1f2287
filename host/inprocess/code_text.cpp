// Texts and constant names of the library's result codes, from the one code
// table in the public header.
#include <string>

#include "host/inprocess/testing.h"
#include "include/pcs.h"

namespace pcs::host {
namespace {

struct CodeEntry {
  int code;
  const char *name;
  const char *text;
};

#define PCS_CODE_ENTRY_(name, value, text) {value, #name, text},
constexpr CodeEntry kCodes[] = {PCS_RESULT_CODES(PCS_CODE_ENTRY_)};
#undef PCS_CODE_ENTRY_

const CodeEntry *lookup(int code) {
  for (const CodeEntry &entry : kCodes) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

}  // namespace

const char *code_text(int code) {
  const CodeEntry *entry = lookup(code);
  return entry ? entry->text : "";
}

std::string code_name(int code) {
  const CodeEntry *entry = lookup(code);
  return entry ? entry->name : std::to_string(code);
}

}  // namespace pcs::host
