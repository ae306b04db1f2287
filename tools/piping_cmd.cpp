// Piping specification commands: `spec queries` (the query parts of a
// specification's entries), `spec parts` (the catalog parts that satisfy
// each query part) and `spec explain` (why one catalog part does or does not
// satisfy one query part). Text output is aligned; --json gives the same
// content as JSON.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/host_model.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "include/pcs_select.h"
#include "tools/command.h"
#include "tools/piping.h"

namespace pcs::tools {

namespace model = host::model;
using nlohmann::json;

// ---- reading the specification ------------------------------------------

Specification open_specification(const std::string &project, const std::string &name) {
  const std::string path = project.empty() ? model::project_path() : project;
  // The specification commands only read the model, with many calls of its
  // services: recording each call would cost more than the work.
  model::record_calls(false);
  if (model::load(path) != 0) fail(path + ": cannot load the project: " + model::load_error());
  model::Model &m = model::data();
  const model::Object *owner = m.find_object("PSPEC", name);
  if (!owner) {
    std::vector<std::string> names;
    for (const auto &[handle, object] : m.objects)
      if (object.type == model::name("PSPEC")) names.push_back(object.name);
    fail("the project has no piping specification \"" + name + "\"" + did_you_mean(name, names));
  }
  Specification spec{name, owner->handle, {}};
  for (const auto &[handle, object] : m.objects) {
    if (object.type == model::name("SPCENTRY") && object.name.rfind(name + " ", 0) == 0)
      spec.entries.push_back({object.name.substr(name.size() + 1), handle});
  }
  return spec;
}

QueryParts::~QueryParts() {
  for (CgPart part : parts) cggfre(part);
}

void fill_entry(const Specification &spec, const SpecEntry &entry, QueryParts *out) {
  int entries = 0, parts = 0, rc = 0, count = 0, spare = 0, size = sizeof(int);
  gusini(&size, &entries, &rc);
  if (rc == 0) guspus(&entries, &entry.handle, &count, &rc);
  const int none = 0;
  if (rc == 0) cgqfill(&spec.owner, nullptr, &none, &entries, &parts, &rc);
  gusend(&entries, &spare);
  int width = 0;
  if (parts != 0) gusinf(&parts, &width, &count, &spare);
  for (int k = 1; k <= count; ++k) {
    CgPart part = nullptr;
    gusrea(&parts, &k, &part, &spare);
    out->parts.push_back(part);
  }
  if (parts != 0) gusend(&parts, &spare);
  if (rc != 0) fail("fill the query parts of entry " + entry.label + code_text(rc));
}

// ---- values ----------------------------------------------------------------

std::string printable(const char *p, size_t n) {
  std::string text = trimmed(std::string_view(p, n));
  std::replace_if(text.begin(), text.end(), [](unsigned char c) { return c < 32 || c > 126; }, '?');
  return text;
}

// Value k (from 0) of the attribute as text, as the explanations give it.
std::string value_text(const CgAttribute &a, int k, char type) {
  const int number = k + 1, size = std::max(a.valueLength, 0) + 40;
  std::string text(static_cast<size_t>(size), '\0');
  int length = 0, rc = -1;
  pcs_sel_value(&a, &number, &type, text.data(), &size, &length, &rc);
  text.resize(rc == 0 ? static_cast<size_t>(std::min(length, size - 1)) : 0);
  return text;
}

std::string size_of(CgPart part) {
  const CgGroup *g = cgagfnd("PIPESIZE", part);
  const CgAttribute *a = g ? cgafnd("SIZE    ", g->attributes) : nullptr;
  return a ? value_text(*a, 0, 'C') : "";
}

namespace {

// ---- spec queries --------------------------------------------------------

json part_json(CgPart part) {
  json groups = json::array();
  for (const CgGroup *g = part; g; g = g->next) {
    json attributes = json::array();
    for (const CgAttribute *a = g->attributes; a; a = a->next) {
      json values = json::array(), generic = json::array();
      for (int k = 0; k < a->valueCount; ++k) {
        values.push_back(value_text(*a, k, a->type[0]));
        generic.push_back(a->genericFlags ? a->genericFlags[k] : 0);
      }
      attributes.push_back({{"name", printable(a->name, 8)}, {"type", printable(a->type, 8)},
                            {"values", values}, {"generic", generic}});
    }
    groups.push_back(
        {{"name", printable(g->name, 8)}, {"compared", g->matchFlag != 0}, {"attributes", attributes}});
  }
  return groups;
}

void print_part(CgPart part) {
  std::printf("    %-9s %-9s %-10s%s\n", "group", "compared", "attribute",
              "values (- blank, * generic)");
  for (const CgGroup *g = part; g; g = g->next) {
    for (const CgAttribute *a = g->attributes; a; a = a->next) {
      std::string values;
      for (int k = 0; k < a->valueCount; ++k) {
        const std::string v = value_text(*a, k, a->type[0]);
        values += (k ? " | " : "") + (v.empty() ? "-" : v);
        if (a->genericFlags && a->genericFlags[k] > 0) values += "*";
      }
      const bool first = a == g->attributes;
      std::printf("    %-9s %-9s %-10s%s\n", first ? printable(g->name, 8).c_str() : "",
                  first ? (g->matchFlag ? "yes" : "no") : "", printable(a->name, 8).c_str(),
                  values.c_str());
    }
  }
}

void queries(const SpecOptions &o) {
  const Specification spec = open_specification(o.project, o.spec);
  json out = {{"spec", spec.name}, {"entries", json::array()}};
  for (const SpecEntry &entry : spec.entries) {
    QueryParts parts;
    fill_entry(spec, entry, &parts);
    json listed = json::array();
    if (!o.json)
      std::printf("entry %s: %zu query parts\n", entry.label.c_str(), parts.parts.size());
    for (size_t i = 0; i < parts.parts.size(); ++i) {
      if (o.json) {
        listed.push_back({{"size", size_of(parts.parts[i])}, {"groups", part_json(parts.parts[i])}});
        continue;
      }
      std::printf("  query part %zu, size %s\n", i + 1, size_of(parts.parts[i]).c_str());
      print_part(parts.parts[i]);
    }
    out["entries"].push_back({{"entry", entry.label}, {"parts", listed}});
  }
  if (o.json) std::cout << out.dump(2) << '\n';
}

Register reg([](CLI::App &app) {
  static SpecOptions o;
  auto *spec = app.add_subcommand("spec", "Query parts of a piping specification and the catalog "
                                          "parts that satisfy them");
  spec->require_subcommand(1);
  auto common = [](CLI::App *command) {
    command->add_option("SPEC", o.spec, "Piping specification name")->required();
    command->add_option("--project", o.project,
                        "Project database (default: $PCS_PROJECT or ./project.db)");
    command->add_flag("--json", o.json, "Write JSON instead of aligned text");
  };
  auto *q = spec->add_subcommand("queries", "Fill and print the query parts of every entry");
  common(q);
  q->callback([] { queries(o); });
  add_selection_commands(spec, &o, common);
});

}  // namespace
}  // namespace pcs::tools
