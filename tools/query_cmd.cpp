// Query commands: `query lookup` finds the catalog parts of an element class
// and query number in the project's generic part file and prints their part
// numbers and options.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/host_services.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

// The stack's entries (none for handle 0); the stack is ended.
std::vector<std::string> take(int stack) {
  if (stack == 0) return {};
  std::vector<std::string> entries = host::model::stack_entries(stack);
  int rc = 0;
  gusend(&stack, &rc);
  return entries;
}

bool as_json = false;

void lookup(const std::string &element_class, const std::string &query) {
  // Query numbers are read over their declared length: leave room for any.
  const std::string cls = name_field(element_class), number = name_field(query, 256);
  int parts = 0, options = 0, rc = 0;
  {
    QuietOutput quiet(2);  // the library traces the values it compares
    pclrdcg(cls.c_str(), number.c_str(), &parts, &options, &rc);
  }
  const std::vector<std::string> numbers = take(parts), texts = take(options);
  if (rc == PCS_QUERY_CATALOG)
    fail("cannot open the project's catalog or generic part file" + code_text(rc));
  if (rc != 0) fail("the lookup failed" + code_text(rc));
  if (as_json) {
    nlohmann::json found = nlohmann::json::array();
    for (size_t i = 0; i < numbers.size(); ++i)
      found.push_back({{"part_number", trimmed(numbers[i])}, {"options", i < texts.size() ? trimmed(texts[i]) : ""}});
    std::printf("%s\n", found.dump(2).c_str());
    return;
  }
  if (numbers.empty()) {
    std::printf("no catalog part answers %s %s\n", trimmed(cls).c_str(), query.c_str());
    return;
  }
  for (size_t i = 0; i < numbers.size(); ++i)
    std::printf("%s  %s\n", trimmed(numbers[i]).c_str(),
                i < texts.size() ? trimmed(texts[i]).c_str() : "");
}

Register reg([](CLI::App &app) {
  static std::string element_class, query;
  CLI::App *group = app.add_subcommand("query", "Catalog parts of queries");
  group->require_subcommand(1);
  CLI::App *sub = group->add_subcommand(
      "lookup", "Print part numbers and options of the catalog parts of a query");
  sub->add_option("--class", element_class, "Element class (ELCLASS/AELCLASS)")->required();
  sub->add_option("--query", query, "Query number (SPCFUNC/QRYNUMBR)")->required();
  sub->add_flag("--json", as_json, "Print JSON");
  add_project_option(sub);
  sub->callback([] { lookup(element_class, query); });
});

}  // namespace
}  // namespace pcs::tools
