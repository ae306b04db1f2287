// The frame of the command-line program: registration of the command
// families, failures and the small helpers the families share.
#include "tools/command.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <vector>

#include "host/inprocess/tools.h"
#include "include/pcs.h"

namespace pcs::tools {

std::vector<Registrar> &registrars() {
  static std::vector<Registrar> all;
  return all;
}

Register::Register(Registrar registrar) { registrars().push_back(registrar); }

void fail(const std::string &message, int code) {
  std::cerr << "pcs: " << message << '\n';
  throw CLI::RuntimeError(code);
}

bool interactive() { return isatty(STDERR_FILENO) != 0; }

std::string name_field(const std::string &text, size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  return field;
}

std::string library_version() {
  const std::string stamp(reinterpret_cast<const char *>(&vomhead) + PCS_MODULE_STAMP,
                          PCS_MODULE_STAMP_LEN);
  int major = 0, minor = 0, patch = 0;
  if (std::sscanf(stamp.c_str(), "%d.%d.%d", &major, &minor, &patch) != 3)
    return "pcs: the library's build stamp \"" + stamp + "\" is not a version";
  return "pcs " + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(patch) + " (library build " + stamp + ")";
}

std::string code_text(int rc) {
  const std::string meaning = host::tools::code_meaning(rc);
  const std::string name = host::tools::code_constant(rc);
  return (meaning.empty() ? "" : ": " + meaning) + " (code " + std::to_string(rc) +
         (name.empty() ? "" : ", " + name) + ")";
}

void check_name(const std::string &name, const char *what) {
  if (name.empty() || name.size() > PCS_NAME_LEN)
    fail(std::string(what) + " name \"" + name + "\" must have 1 to 8 characters", kUsage);
}

KeyField parse_key_field(const std::string &spec) {
  const size_t dot = spec.find('.'), colon = spec.rfind(':');
  if (dot == std::string::npos || colon == std::string::npos || colon < dot)
    fail("key field \"" + spec + "\" is not GROUP.ATTR:LENGTH", kUsage);
  KeyField f{spec.substr(0, dot), spec.substr(dot + 1, colon - dot - 1), 0};
  check_name(f.group, "group");
  check_name(f.attribute, "attribute");
  try {
    f.length = std::stoi(spec.substr(colon + 1));
  } catch (...) {
    fail("key field \"" + spec + "\" has no length", kUsage);
  }
  return f;
}

std::vector<KeyField> key_fields(const std::vector<std::string> &specs) {
  std::vector<KeyField> fields;
  for (const std::string &spec : specs) fields.push_back(parse_key_field(spec));
  return fields;
}

}  // namespace pcs::tools
