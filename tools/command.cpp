// The frame of the command-line program: registration of the command
// families, failures and the small helpers the families share.
#include "tools/command.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
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

namespace {
bool json_on = false;
}  // namespace

void add_json_flag(CLI::App *command) {
  command->add_flag("--json", json_on, "Print JSON, values typed");
}

bool json_output() { return json_on; }

void print_json(const nlohmann::json &doc) {
  std::printf("%s\n", doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

nlohmann::json read_json(const std::string &path, const char *what) {
  std::string text;
  FILE *in = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (!in) fail(path + ": cannot open the " + what + ": " + std::strerror(errno));
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, got);
  const bool unread = std::ferror(in) != 0;
  if (in != stdin) std::fclose(in);
  if (unread) fail(path + ": cannot read the " + what);
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error &e) {
    const size_t at = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, text.size());
    const size_t line_start = text.rfind('\n', at == 0 ? 0 : at - 1);
    const auto line = std::count(text.begin(), text.begin() + static_cast<long>(at), '\n') + 1;
    const size_t column = line_start == std::string::npos ? at + 1 : at - line_start;
    fail(path + ": the " + what + " is not JSON: the text goes wrong at line " +
         std::to_string(line) + ", column " + std::to_string(column));
  } catch (const nlohmann::json::out_of_range &) {
    fail(path + ": the " + what + " holds " + kNumberTooLarge);
  }
}

std::string json_reason(const std::exception &e) {
  const std::string text = e.what();
  const size_t tag = text.rfind("] ", text.find(' '));
  return text.rfind("[json.exception", 0) == 0 && tag != std::string::npos ? text.substr(tag + 2) : text;
}

std::string trimmed(std::string_view text) {
  const size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

std::string trimmed(const char *field, size_t width) {
  return trimmed(std::string_view(field, strnlen(field, width)));
}

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
