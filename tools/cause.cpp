// Failure messages in words: what each small result code means for the
// operation that gave it; other codes take their meaning from the code
// tables of the library and the host.
#include <cstring>
#include <string>

#include "tools/command.h"

namespace pcs::tool {
namespace {

struct Meaning {
  const char *operation;
  int rc;
  const char *text;
};

constexpr Meaning kMeanings[] = {
    {"csbndx", 1, "the catalog is missing, unreadable or holds no record"},
    {"csbndx", 2, "the key length is 0, a width is negative, or the key is longer than 9999"},
    {"csbndx", 3, "memory could not be obtained"},
    {"csbndx", 4, "a record of the catalog could not be read or its key built"},
    {"csbndx", 5, "the index file cannot be created, or more than 9999 records share a key"},
    {"csbndx", 6, "a write to the index file fell short"},
    {"cscprs", 1, "memory could not be obtained for a record"},
    {"cscprs", 2,
     "the catalog cannot be opened for update, the new file cannot be created or written, a "
     "record length is damaged, or the rename failed (the catalog is as it was)"},
    {"cspopn", 1, "memory could not be obtained"},
    {"cspopn", 2, "two live records share a key"},
    {"cspopn", 3, "a key attribute has the wrong size"},
    {"cspopn", 4, "the file cannot be opened or created"},
    {"cspopn", 5, "a record of the file is damaged"},
    {"cspput", 1, "memory could not be obtained"},
    {"cspput", 3, "a key attribute has the wrong size"},
    {"cspput", 4, "a write fell short"},
    {"cspput", 5, "the record is empty or has negative counts, or the file would pass 2 GiB"},
    {"cspget", 1, "memory could not be obtained"},
    {"cspget", 4, "no record has the key"},
    {"cspget", 5, "the record is damaged"},
    {"cspdel", 1, "memory could not be obtained"},
    {"cspdel", 4, "no record has the key, or the status write fell short"},
    {"csgopen", 1, "memory could not be obtained for the handle"},
    {"csgopen", 2, "the catalog file cannot be opened"},
    {"csgopen", 3, "the index file cannot be opened"},
    {"csggetm", 1, "a record could not be read, or a push failed"},
    {"csggetm", 7, "the key is not in the index, or a record of it is unreadable or deleted"},
    {"csgdelrc", 1, "the key is not in the index, or a record of it could not be marked"},
    {"cspcls", 4, "the stream could not be closed"},
    {"cspcls", 5, "the file is not open"},
    {"cstabl", 1, "the dump or a table file cannot be opened, or a table name is not a file name"},
    {"cstabl", 2, "the dump has no header line"},
};

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
    if (family == m.operation && rc == m.rc)
      text = ": " + std::string(m.text) + " (code " + std::to_string(rc) + ")";
  }
  if (error != 0) text += ": " + std::string(std::strerror(error));
  return text;
}

}  // namespace pcs::tool
