// Catalog parts for query parts, through the library's selection interface
// (include/pcs_select.h): `spec parts` lists, for each query part of a
// specification, the catalog parts that satisfy it; `spec explain` shows
// every comparison behind the decision for each record of one part number.
// The decisions and their explanations come from the library; this file
// only prints them.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "host/host_model.h"
#include "include/pcs_select.h"
#include "tools/command.h"
#include "tools/piping.h"

namespace pcs::tools {

using nlohmann::json;

namespace {

constexpr int kWorkspace = 1;

std::string select_failure(int rc) {
  return ": " + std::string(pcs_sel_text(rc)) + " (code " + std::to_string(rc) + ")";
}

// The labels of the specification's entries.
std::vector<std::string> entry_labels(const Specification &spec) {
  std::vector<std::string> labels;
  for (const SpecEntry &entry : spec.entries) labels.push_back(entry.label);
  return labels;
}

}  // namespace

// ---- the selection -------------------------------------------------------------

Selection::Selection(const Specification &spec, const std::string &parts_file) : spec_(spec) {
  const int ws = kWorkspace;
  const double origin = 0, extent = 1;
  const float tolerance = 0, angle = 0;
  int rc = 0;
  gimcrw(&ws, &origin, &extent, &tolerance, &angle, &rc);
  if (rc != 0 && rc != PCS_HOST_SESSION_OPEN) fail("cannot open a session of the project" + code_text(rc));
  session_ = rc == 0;
  pcs_sel_open(&ws, spec.name.c_str(), parts_file.c_str(), &handle_, &rc);
  if (rc == PCS_SEL_NO_SPEC) fail("the project has no piping specification \"" + spec.name + "\"");
  if (rc == PCS_SEL_NO_FILE) fail(parts_file + ": cannot open the generic part file");
  if (rc != 0) fail(parts_file + ": cannot select from the generic part file" + select_failure(rc));
}

Selection::~Selection() {
  pcs_sel_close(handle_);
  if (session_) pr0end();
}

std::vector<std::string> Selection::sizes(const std::string &entry) {
  int count = 0, rc = 0;
  pcs_sel_sizes(handle_, entry.c_str(), &count, &rc);
  if (rc == PCS_SEL_NO_ENTRY)
    fail("specification " + spec_.name + " has no entry \"" + entry + "\"" +
         did_you_mean(entry, entry_labels(spec_)));
  if (rc != 0) fail("fill the query parts of entry " + entry + select_failure(rc));
  std::vector<std::string> out;
  for (int k = 1; k <= count; ++k) {
    char size[PCS_SEL_TEXT];
    pcs_sel_size(handle_, &k, size, &rc);
    if (rc == 0) out.push_back(size);
  }
  return out;
}

std::vector<Selection::Part> Selection::find(const std::string &entry, const std::string &size) {
  int candidates = 0, found = 0, rc = 0;
  pcs_sel_find(handle_, entry.c_str(), size.c_str(), &candidates, &found, &rc);
  if (rc == PCS_SEL_NO_ENTRY)
    fail("specification " + spec_.name + " has no entry \"" + entry + "\"" +
         did_you_mean(entry, entry_labels(spec_)));
  if (rc == PCS_SEL_NO_SIZE)
    fail("entry " + entry + " has no query part of size " + size + did_you_mean(size, sizes(entry)));
  if (rc != 0) fail("select the parts of entry " + entry + ", size " + size + select_failure(rc));
  std::vector<Part> out;
  for (int k = 1; k <= candidates; ++k) {
    Part p;
    char number[PCS_SEL_TEXT];
    int selected = 0;
    pcs_sel_part(handle_, &k, number, &p.position, &selected, &rc);
    p.number = number;
    p.selected = selected == 1;
    out.push_back(p);
  }
  return out;
}

namespace {

const char *const kClassNames[] = {"absent", "empty", "present"};
const char *const kDecisions[] = {"unequal", "equal", "compare"};

json value_json(const PcsSelValue &v) {
  return {{"query", v.query},
          {"catalog", v.catalog},
          {"generic", v.generic == 1},
          {"cell", "T[" + std::to_string(v.generic) + "][" + kClassNames[v.catalogClass] + "][" +
                       kClassNames[v.queryClass] + "] = " + kDecisions[v.decision]},
          {"equal", v.equal == 1}};
}

// The groups of the query part, each with its attributes and their values.
json groups_json(const PcsSelExplanation &e) {
  json groups = json::array();
  int v = 0;
  for (int g = 0; g < e.groupCount; ++g) {
    const PcsSelGroup &group = e.groups[g];
    json attributes = json::array();
    for (; v < e.valueCount && std::strcmp(e.values[v].group, group.name) == 0; ++v) {
      const PcsSelValue &value = e.values[v];
      if (attributes.empty() || attributes.back()["name"].get<std::string>() != value.attribute)
        attributes.push_back({{"name", value.attribute}, {"values", json::array()}, {"satisfied", true}});
      attributes.back()["values"].push_back(value_json(value));
      if (value.equal != 1) attributes.back()["satisfied"] = false;
    }
    groups.push_back({{"name", group.name},
                      {"compared", group.compared == 1},
                      {"attributes", attributes},
                      {"satisfied", group.satisfied == 1}});
  }
  return groups;
}

json sizes_json(const PcsSelExplanation &e) {
  json sizes = json::array();
  for (int k = 0; k < e.sizeCount; ++k) {
    const PcsSelSize &z = e.sizes[k];
    sizes.push_back({{"limit", z.limit == PCS_SEL_MINIMUM ? "minimum" : "maximum"},
                     {"limit_size", z.limitSize},
                     {"limit_rank", z.limitRank},
                     {"index", z.index},
                     {"size", z.size},
                     {"rank", z.rank},
                     {"outside", z.outside == 1}});
  }
  return sizes;
}

}  // namespace

json Selection::explain(int k) {
  PcsSelExplanation *e = nullptr;
  int rc = 0;
  pcs_sel_explain(handle_, &k, &e, &rc);
  if (rc != 0) fail("explain candidate " + std::to_string(k) + select_failure(rc));
  json out = {{"part", e->partNumber},
              {"position", e->position},
              {"groups", groups_json(*e)},
              {"size_checks", sizes_json(*e)},
              {"unequal", e->unequal},
              {"groups_satisfied", e->groupsSatisfied == 1},
              {"sizes_within_limits", e->withinLimits == 1},
              {"selected", e->selected == 1}};
  pcs_sel_free(e);
  return out;
}

Selection::Misses Selection::misses(int k) {
  PcsSelExplanation *e = nullptr;
  int rc = 0;
  pcs_sel_explain(handle_, &k, &e, &rc);
  if (rc != 0) fail("explain candidate " + std::to_string(k) + select_failure(rc));
  Misses m{static_cast<size_t>(e->unequal), false};
  for (int z = 0; z < e->sizeCount; ++z) m.failed += e->sizes[z].outside == 1 ? 1 : 0;
  for (int g = 0; g < e->groupCount; ++g)
    if (std::strcmp(e->groups[g].name, "PIPESIZE") == 0 && e->groups[g].satisfied != 1)
      m.other_size = true;
  pcs_sel_free(e);
  return m;
}

// ---- spec parts --------------------------------------------------------------

void print_selected_parts(const SpecOptions &o) {
  const Specification spec = open_specification(o.project, o.spec);
  Selection selection(spec, o.parts_file);
  json out = {{"spec", spec.name}, {"entries", json::array()}};
  if (!o.json) std::printf("%-10s %-8s %s\n", "entry", "size", "catalog parts");
  for (const SpecEntry &entry : spec.entries) {
    json listed = json::array();
    for (const std::string &size : selection.sizes(entry.label)) {
      std::vector<std::string> numbers;
      for (const Selection::Part &p : selection.find(entry.label, size))
        if (p.selected) numbers.push_back(p.number);
      listed.push_back({{"size", size}, {"parts", numbers}});
      std::string text;
      for (const std::string &n : numbers) text += (text.empty() ? "" : ", ") + n;
      if (!o.json)
        std::printf("%-10s %-8s %s\n", entry.label.c_str(), size.c_str(),
                    text.empty() ? "(none)" : text.c_str());
    }
    out["entries"].push_back({{"entry", entry.label}, {"queries", listed}});
  }
  if (o.json) std::cout << out.dump(2) << '\n';
}

// ---- spec explain ------------------------------------------------------------

namespace {

void print_value_row(const std::string &group, const std::string &attribute, int k, const json &v) {
  auto dash = [](const json &s) {
    const std::string t = s.get<std::string>();
    return t.empty() ? std::string("-") : t;
  };
  std::printf("%-9s %-9s %-2d %-10s %-10s %-8s %-34s %s\n", group.c_str(), attribute.c_str(), k,
              dash(v["query"]).c_str(), dash(v["catalog"]).c_str(),
              v["generic"].get<bool>() ? "yes" : "no", v["cell"].get<std::string>().c_str(),
              v["equal"].get<bool>() ? "equal" : "UNEQUAL");
}

void print_one(const json &e) {
  std::printf("query part: entry %s, size %s; catalog part %s at %d\n",
              e["entry"].get<std::string>().c_str(), e["size"].get<std::string>().c_str(),
              e["part"].get<std::string>().c_str(), e["position"].get<int>());
  std::printf("%-9s %-9s %-2s %-10s %-10s %-8s %-34s %s\n", "group", "attribute", "#", "query",
              "catalog", "generic", "decision-table cell", "result");
  for (const json &g : e["groups"]) {
    const std::string name = g["name"].get<std::string>();
    if (!g["compared"].get<bool>()) {
      std::printf("%-9s (not compared)\n", name.c_str());
      continue;
    }
    bool first = true;
    for (const json &a : g["attributes"]) {
      int k = 0;
      for (const json &v : a["values"]) {
        print_value_row(first ? name : "", k == 0 ? a["name"].get<std::string>() : "", k + 1, v);
        first = false;
        ++k;
      }
    }
    if (!g["satisfied"].get<bool>()) std::printf("%-9s group not satisfied\n", name.c_str());
  }
  for (const json &z : e["size_checks"])
    std::printf("size %d %s (rank %d) against the %s %s (rank %d): %s\n", z["index"].get<int>(),
                z["size"].get<std::string>().c_str(), z["rank"].get<int>(),
                z["limit"].get<std::string>().c_str(), z["limit_size"].get<std::string>().c_str(),
                z["limit_rank"].get<int>(), z["outside"].get<bool>() ? "OUTSIDE" : "within");
  std::printf("groups: %s; sizes within the query's limits: %s; selected: %s\n",
              e["groups_satisfied"].get<bool>() ? "all satisfied" : "NOT satisfied",
              e["sizes_within_limits"].get<bool>() ? "yes" : "NO",
              e["selected"].get<bool>() ? "yes" : "no");
}

// True when some record of the generic part file carries the part number.
bool in_file(const std::string &path, const std::string &number) {
  FILE *file = std::fopen(path.c_str(), "rb");
  bool found = false;
  for (int position = 0, length = 0, rc = 0; file && !found; position += length) {
    CgPart part = nullptr;
    cggget(&file, &position, &length, &part, &rc);
    if (rc == 0) {
      const CgGroup *g = cgagfnd("PARTNUM ", part);
      const CgAttribute *a = g ? cgafnd("PARTNO  ", g->attributes) : nullptr;
      found = a && a->valueCount > 0 && printable(reinterpret_cast<const char *>(a->values),
                                                size_t(a->valueLength)) == number;
    }
    cggfre(part);
    if (length <= 0 || (rc != 0 && rc != PCS_RECORD_DELETED)) break;
  }
  if (file) std::fclose(file);
  return found;
}

}  // namespace

void print_explanation(const SpecOptions &o) {
  const Specification spec = open_specification(o.project, o.spec);
  Selection selection(spec, o.parts_file);
  const std::vector<Selection::Part> candidates = selection.find(o.entry, o.size);
  json all = json::array();
  for (size_t k = 0; k < candidates.size(); ++k) {
    if (candidates[k].number != o.part_number) continue;
    json e = selection.explain(static_cast<int>(k + 1));
    e["entry"] = o.entry;
    e["size"] = o.size;
    all.push_back(e);
  }
  if (all.empty() && in_file(o.parts_file, o.part_number))
    fail("catalog part " + o.part_number + " is not a candidate of entry " + o.entry +
         ": its element class or query number is not the query's");
  if (all.empty()) fail(o.parts_file + ": no catalog part numbered " + o.part_number);
  if (o.json) {
    std::cout << (all.size() == 1 ? all[0] : all).dump(2) << '\n';
    return;
  }
  for (size_t k = 0; k < all.size(); ++k) {
    if (all.size() > 1) std::printf("record %zu of %zu numbered %s:\n", k + 1, all.size(), o.part_number.c_str());
    print_one(all[k]);
  }
}

void add_selection_commands(CLI::App *spec, SpecOptions *o,
                            const std::function<void(CLI::App *)> &common) {
  auto *p = spec->add_subcommand("parts", "The catalog parts that satisfy each query part");
  common(p);
  p->add_option("--parts", o->parts_file, "Generic part file of catalog parts")->required();
  p->callback([o] { print_selected_parts(*o); });
  auto *e = spec->add_subcommand("explain", "Why a catalog part does or does not satisfy a query part");
  common(e);
  e->add_option("ENTRY", o->entry, "Entry of the specification")->required();
  e->add_option("SIZE", o->size, "Pipe size of the query part")->required();
  e->add_option("PARTNO", o->part_number, "Part number of the catalog part")->required();
  e->add_option("--parts", o->parts_file, "Generic part file of catalog parts")->required();
  e->callback([o] { print_explanation(*o); });
  add_coverage_command(spec, o, common);
}

}  // namespace pcs::tools
