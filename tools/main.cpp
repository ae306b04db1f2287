// pcs: the command-line program of the piping catalog services. It runs the
// library in-process over its own host and offers the catalog administrators'
// maintenance work as subcommands.
#include "host/inprocess/tools.h"
#include "tools/command.h"

int main(int argc, char **argv) {
  CLI::App app{"pcs - piping catalog services: part records, catalogs, index files, keyed tables"};
  app.require_subcommand(1);
  app.set_version_flag("--version", pcs::tools::library_version(),
                       "Print the version of the library and exit");
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose, "Echo every error the library reports, and its own diagnostic lines");
  for (auto registrar : pcs::tools::registrars()) registrar(app);
  app.parse_complete_callback([&] {
    pcs::host::tools::echo_reports(verbose);
    pcs::tools::set_verbose(verbose);
  });
  try {
    pcs::tools::check_command_words(app, argc, argv);
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
    return pcs::tools::kUsage;
  }
  return 0;
}
