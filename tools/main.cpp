// pcs: the command-line program of the piping catalog services. It runs the
// library in-process over its own host and offers the catalog administrators'
// maintenance work as subcommands.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <vector>

#include "host/host_test.h"
#include "host/model_test.h"
#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tool {
namespace {

std::vector<Registrar> &registrars() {
  static std::vector<Registrar> all;
  return all;
}

// "pcs M.m.p (build stamp)", from the module header of the library that this
// program loaded.
std::string library_version() {
  const std::string stamp(reinterpret_cast<const char *>(&vomhead) + PCS_MODULE_STAMP,
                          PCS_MODULE_STAMP_LEN);
  int major = 0, minor = 0, patch = 0;
  if (std::sscanf(stamp.c_str(), "%d.%d.%d", &major, &minor, &patch) != 3)
    return "pcs: the library's build stamp \"" + stamp + "\" is not a version";
  return "pcs " + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(patch) + " (library build " + stamp + ")";
}

}  // namespace

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

std::string code_text(int rc) {
  const std::string name =
      rc >= 6000 && rc < 7000 ? host::model::code_name(rc) : host::code_name(rc);
  return " (code " + std::to_string(rc) + (name == std::to_string(rc) ? "" : ", " + name) + ")";
}

KeyField parse_key_field(const std::string &spec) {
  const size_t dot = spec.find('.'), colon = spec.rfind(':');
  if (dot == std::string::npos || colon == std::string::npos || colon < dot)
    fail("key field \"" + spec + "\" is not GROUP.ATTR:LENGTH", kUsage);
  KeyField f{spec.substr(0, dot), spec.substr(dot + 1, colon - dot - 1), 0};
  try {
    f.length = std::stoi(spec.substr(colon + 1));
  } catch (...) {
    fail("key field \"" + spec + "\" has no length", kUsage);
  }
  return f;
}

}  // namespace pcs::tool

int main(int argc, char **argv) {
  CLI::App app{"pcs - piping catalog services: part records, catalogs, index files, keyed tables"};
  app.require_subcommand(1);
  app.set_version_flag("--version", pcs::tool::library_version(),
                       "Print the version of the library and exit");
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Echo every error the library reports to standard error");
  for (auto registrar : pcs::tool::registrars()) registrar(app);
  app.parse_complete_callback([&] { pcs::host::echo_reports(verbose); });
  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError &e) {
    return e.get_exit_code();
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp &e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    app.exit(e);
    return pcs::tool::kUsage;
  }
  return 0;
}
