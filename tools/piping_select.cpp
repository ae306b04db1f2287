// Catalog parts for query parts: `spec parts` finds, for each query part of
// a specification, the catalog parts of a generic part file that satisfy it
// (the part comparison and the size limits), through the file's key index
// by element class and query number; `spec explain` shows every comparison
// behind the decision for one catalog part and one query part.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "host/host_services.h"
#include "tools/command.h"
#include "tools/piping.h"

namespace pcs::tool {

using nlohmann::json;

// ---- the catalog side ----------------------------------------------------------

GenericParts::GenericParts(const std::string &path) : path_(path) {
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) fail(path + ": cannot open the generic part file");
  const char *groups[] = {"ELCLASS ", "SPCFUNC "};
  const char *attributes[] = {"AELCLASS", "QRYNUMBR"};
  int count = 2, rc = 0;
  cgprincr(groups, attributes, &count, file_, &keys_, &rc);
  if (rc != 0) fail(path + ": cannot index the generic part file" + code_text(rc));
  int width = 0, entries = 0;
  gusinf(&keys_, &width, &entries, &rc);
  key_length_ = width - 4;
}

GenericParts::~GenericParts() {
  int rc = 0;
  if (keys_ != 0) gusend(&keys_, &rc);
  std::fclose(file_);
}

CgPart GenericParts::read(int position) {
  CgPart part = nullptr;
  int length = 0, rc = 0;
  cggget(&file_, &position, &length, &part, &rc);
  if (rc != 0) fail(path_ + ": cannot read the part at " + std::to_string(position) + code_text(rc));
  return part;
}

std::vector<int> GenericParts::candidates(CgPart query) {
  // The key of the query: its element class, then its query number without
  // trailing blanks.
  std::string key(8, ' ');
  const CgGroup *g = cgagfnd("ELCLASS ", query);
  const CgAttribute *a = g ? cgafnd("AELCLASS", g->attributes) : nullptr;
  if (a && a->valueCount > 0) key.replace(0, 8, reinterpret_cast<const char *>(a->values), 8);
  g = cgagfnd("SPCFUNC ", query);
  a = g ? cgafnd("QRYNUMBR", g->attributes) : nullptr;
  if (a && a->valueCount > 0) key += trimmed(reinterpret_cast<const char *>(a->values), size_t(a->valueLength));
  if (static_cast<int>(key.size()) > key_length_) key.resize(static_cast<size_t>(key_length_));
  int length = static_cast<int>(key.size()), matches = 0, rc = 0;
  cgqprmt2(key.c_str(), &length, &keys_, &matches, &rc);
  std::vector<int> positions;
  int size = 0, count = 0;
  if (matches != 0) gusinf(&matches, &size, &count, &rc);
  for (int k = 1; k <= count; ++k) {
    int position = 0;
    gusrea(&matches, &k, &position, &rc);
    positions.push_back(position);
  }
  if (matches != 0) gusend(&matches, &rc);
  return positions;
}

std::string part_number(CgPart part) {
  const CgGroup *g = cgagfnd("PARTNUM ", part);
  const CgAttribute *a = g ? cgafnd("PARTNO  ", g->attributes) : nullptr;
  return a ? value_text(*a, 0, 'C') : "";
}

bool satisfies(CgPart query, CgPart catalog) {
  int rc = 0, outside = 0;
  if (cgpreql(query, catalog, &rc) == 0) return false;
  cgminsz(catalog, query, &outside, &rc);
  if (rc != 0) fail("check the sizes of " + part_number(catalog) + code_text(rc));
  return outside == 0;
}

std::vector<std::string> GenericParts::select(CgPart query) {
  std::vector<std::string> numbers;
  for (int position : candidates(query)) {
    CgPart part = read(position);
    if (satisfies(query, part)) numbers.push_back(part_number(part));
    cggfre(part);
  }
  return numbers;
}

// ---- spec parts --------------------------------------------------------------

void print_selected_parts(const SpecOptions &o) {
  const Specification spec = open_specification(o.project, o.spec);
  GenericParts catalog(o.parts_file);
  json out = {{"spec", spec.name}, {"entries", json::array()}};
  if (!o.json) std::printf("%-10s %-8s %s\n", "entry", "size", "catalog parts");
  for (const SpecEntry &entry : spec.entries) {
    QueryParts queries;
    fill_entry(spec, entry, &queries);
    json listed = json::array();
    for (CgPart query : queries.parts) {
      const std::vector<std::string> numbers = catalog.select(query);
      listed.push_back({{"size", size_of(query)}, {"parts", numbers}});
      std::string text;
      for (const std::string &n : numbers) text += (text.empty() ? "" : ", ") + n;
      if (!o.json)
        std::printf("%-10s %-8s %s\n", entry.label.c_str(), size_of(query).c_str(),
                    text.empty() ? "(none)" : text.c_str());
    }
    out["entries"].push_back({{"entry", entry.label}, {"queries", listed}});
  }
  if (o.json) std::cout << out.dump(2) << '\n';
}

namespace {

// ---- spec explain ------------------------------------------------------------

enum Class { kAbsent, kEmpty, kPresent };
const char *const kClassNames[] = {"absent", "empty", "present"};
const char *const kDecisions[] = {"unequal", "equal", "compare"};
// The decision table of the part comparison: [generic][catalog][query].
constexpr int kTable[2][3][3] = {{{1, 1, 0}, {1, 1, 0}, {1, 1, 2}},
                                 {{1, 1, 1}, {1, 1, 1}, {0, 0, 2}}};

Class classify(const CgAttribute *a, int k, char type) {
  if (!a || !a->values || a->valueCount < k + 1) return kAbsent;
  const unsigned char *p = a->values + size_t(k) * size_t(a->valueLength);
  if (type == 'I' && a->valueLength >= 4) {
    int32_t n;
    std::memcpy(&n, p, sizeof n);
    return n != 0 ? kPresent : kEmpty;
  }
  if (type == 'R' && a->valueLength >= 8) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d != 0.0 ? kPresent : kEmpty;
  }
  for (int i = 0; i < a->valueLength; ++i)
    if (p[i] != ' ') return kPresent;
  return kEmpty;
}

bool values_equal(const CgAttribute &a, const CgAttribute &b, int k, char type) {
  const unsigned char *pa = a.values + size_t(k) * size_t(a.valueLength);
  const unsigned char *pb = b.values + size_t(k) * size_t(b.valueLength);
  if (type == 'I') return std::memcmp(pa, pb, 4) == 0;
  if (type == 'R') {
    double x, y;
    std::memcpy(&x, pa, 8);
    std::memcpy(&y, pb, 8);
    return std::fabs(x - y) <= 1.0;
  }
  if (type != 'C') return true;
  const int n = std::min(a.valueLength, b.valueLength);
  return std::strncmp(reinterpret_cast<const char *>(pa), reinterpret_cast<const char *>(pb),
                      size_t(n)) == 0;
}

// One value of the query against the value in the same place of the catalog.
json explain_value(const CgAttribute &a, const CgAttribute *b, int k) {
  const char type = a.type[0];
  const int generic = a.genericFlags && a.genericFlags[k] > 0 ? 1 : 0;
  const Class ca = classify(&a, k, type), cb = classify(b, k, type);
  const int d = kTable[generic][cb][ca];
  const bool equal = d == 2 ? values_equal(a, *b, k, type) : d == 1;
  return {{"query", value_text(a, k, type)},
          {"catalog", b ? value_text(*b, k, type) : ""},
          {"generic", generic == 1},
          {"cell", "T[" + std::to_string(generic) + "][" + kClassNames[cb] + "][" + kClassNames[ca] +
                       "] = " + kDecisions[d]},
          {"equal", equal}};
}

json explain_group(const CgGroup &g, CgPart catalog) {
  CgGroup *other = cgagfnd(g.name, catalog);
  json attributes = json::array();
  for (const CgAttribute *a = g.attributes; a; a = a->next) {
    CgAttribute *b = other ? cgafnd(a->name, other->attributes) : nullptr;
    json values = json::array();
    for (int k = 0; k < a->valueCount; ++k) values.push_back(explain_value(*a, b, k));
    const int ordered = 1;
    const double tolerance = 1.0;
    int rc = 0;
    attributes.push_back({{"name", trimmed(a->name, 8)},
                          {"values", values},
                          {"satisfied", cgaeql(a, b, &ordered, &tolerance, &rc) == 1}});
  }
  int rc = 0;
  const bool compared = g.matchFlag != 0;
  return {{"name", trimmed(g.name, 8)},
          {"compared", compared},
          {"attributes", attributes},
          {"satisfied", !compared || cgageql(&g, other, &rc) == 1}};
}

void print_explanation(const json &e) {
  std::printf("query part: entry %s, size %s; catalog part %s\n", e["entry"].get<std::string>().c_str(),
              e["size"].get<std::string>().c_str(), e["part"].get<std::string>().c_str());
  std::printf("%-9s %-9s %-2s %-10s %-10s %-8s %-34s %s\n", "group", "attribute", "#", "query",
              "catalog", "generic", "decision-table cell", "result");
  for (const json &g : e["groups"]) {
    if (!g["compared"].get<bool>()) {
      std::printf("%-9s (not compared)\n", g["name"].get<std::string>().c_str());
      continue;
    }
    for (const json &a : g["attributes"]) {
      int k = 0;
      for (const json &v : a["values"]) {
        auto dash = [](const json &s) {
          const std::string t = s.get<std::string>();
          return t.empty() ? std::string("-") : t;
        };
        std::printf("%-9s %-9s %-2d %-10s %-10s %-8s %-34s %s\n",
                    k == 0 && &a == &g["attributes"][0] ? g["name"].get<std::string>().c_str() : "",
                    k == 0 ? a["name"].get<std::string>().c_str() : "", k + 1,
                    dash(v["query"]).c_str(), dash(v["catalog"]).c_str(),
                    v["generic"].get<bool>() ? "yes" : "no", v["cell"].get<std::string>().c_str(),
                    v["equal"].get<bool>() ? "equal" : "UNEQUAL");
        ++k;
      }
    }
    if (!g["satisfied"].get<bool>())
      std::printf("%-9s group not satisfied\n", g["name"].get<std::string>().c_str());
  }
  std::printf("groups: %s; sizes within the query's limits: %s; selected: %s\n",
              e["groups_satisfied"].get<bool>() ? "all satisfied" : "NOT satisfied",
              e["sizes_within_limits"].get<bool>() ? "yes" : "NO",
              e["selected"].get<bool>() ? "yes" : "no");
}

}  // namespace

void print_explanation(const SpecOptions &o) {
  const Specification spec = open_specification(o.project, o.spec);
  const SpecEntry *entry = nullptr;
  for (const SpecEntry &e : spec.entries)
    if (e.label == o.entry) entry = &e;
  if (!entry) fail("specification " + spec.name + " has no entry \"" + o.entry + "\"");
  QueryParts queries;
  fill_entry(spec, *entry, &queries);
  CgPart query = nullptr;
  for (CgPart q : queries.parts)
    if (!query && size_of(q) == o.size) query = q;
  if (!query) fail("entry " + o.entry + " has no query part of size " + o.size);
  GenericParts catalog(o.parts_file);
  CgPart part = catalog.find(o.part_number);
  if (!part) fail(o.parts_file + ": no catalog part numbered " + o.part_number);
  json e = {{"entry", o.entry}, {"size", o.size}, {"part", o.part_number}, {"groups", json::array()}};
  for (const CgGroup *g = query; g; g = g->next) e["groups"].push_back(explain_group(*g, part));
  int rc = 0, outside = 0;
  e["groups_satisfied"] = cgpreql(query, part, &rc) == 1;
  cgminsz(part, query, &outside, &rc);
  e["sizes_within_limits"] = outside == 0;
  e["selected"] = e["groups_satisfied"].get<bool>() && outside == 0;
  cggfre(part);
  if (o.json)
    std::cout << e.dump(2) << '\n';
  else
    print_explanation(e);
}

CgPart GenericParts::find(const std::string &number) {
  int64_t size = 0;
  std::fseek(file_, 0, SEEK_END);
  size = std::ftell(file_);
  for (int position = 0; position < size;) {
    CgPart part = nullptr;
    int length = 0, rc = 0;
    cggget(&file_, &position, &length, &part, &rc);
    if (rc == 0 && part_number(part) == number) return part;
    cggfre(part);
    if (length <= 0) break;
    position += length;
  }
  return nullptr;
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
}

}  // namespace pcs::tool
