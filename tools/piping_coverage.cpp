// `spec coverage`: the matrix of a specification's entries against the pipe
// sizes they cover, each cell the number of catalog parts the library's
// selection finds (none, one, several), with totals; aligned text
// (coloured on a terminal), --json, and --html FILE, one self-contained
// page where choosing a cell shows its parts or, for an empty cell, the
// closest rejected candidates and why each was rejected.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>

#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/piping.h"
#include "tools/progress.h"

namespace pcs::tools {

using nlohmann::json;

namespace {

constexpr size_t kClosest = 3;        // rejected candidates shown for an empty cell
constexpr size_t kExplained = 200;    // candidates explained to find them

const char *state_of(size_t count) { return count == 0 ? "none" : count == 1 ? "one" : "several"; }

// Why an explained candidate was rejected, one line per unsatisfied value
// and per size outside a limit.
json reasons(const json &e) {
  json why = json::array();
  for (const json &g : e["groups"])
    for (const json &a : g["attributes"]) {
      int k = 0;
      for (const json &v : a["values"]) {
        ++k;
        if (v["equal"].get<bool>()) continue;
        why.push_back(g["name"].get<std::string>() + "." + a["name"].get<std::string>() + " value " +
                      std::to_string(k) + ": query \"" + v["query"].get<std::string>() +
                      "\", catalog \"" + v["catalog"].get<std::string>() + "\"" +
                      (v["generic"].get<bool>() ? " (generic)" : "") + ", " +
                      v["cell"].get<std::string>());
      }
    }
  for (const json &z : e["size_checks"])
    if (z["outside"].get<bool>())
      why.push_back("size " + std::to_string(z["index"].get<int>()) + " \"" +
                    z["size"].get<std::string>() + "\" (rank " + std::to_string(z["rank"].get<int>()) +
                    ") is " + (z["limit"] == "minimum" ? "below the minimum \"" : "above the maximum \"") +
                    z["limit_size"].get<std::string>() + "\" (rank " +
                    std::to_string(z["limit_rank"].get<int>()) + ")");
  return why;
}

// The rejected candidates of the cell's size with the fewest failed checks
// first, then those of other sizes. They are ranked by the sums of their
// explanations; only the few shown are turned into text.
json closest(Selection &selection, const std::vector<Selection::Part> &candidates) {
  std::vector<std::pair<Selection::Misses, int>> ranked;
  for (size_t k = 0; k < candidates.size() && k < kExplained; ++k)
    ranked.emplace_back(selection.misses(static_cast<int>(k + 1)), static_cast<int>(k + 1));
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) {
    return std::pair(a.first.other_size, a.first.failed) < std::pair(b.first.other_size, b.first.failed);
  });
  if (ranked.size() > kClosest) ranked.resize(kClosest);
  json shown = json::array();
  for (const auto &[misses, k] : ranked) {
    const json e = selection.explain(k);
    const json why = reasons(e);
    shown.push_back({{"part", e["part"]}, {"position", e["position"]},
                     {"failed", why.size()}, {"other_size", misses.other_size}, {"why", why}});
  }
  return shown;
}

// The sizes of all entries in one order: each entry's sizes keep their
// order, a size new to the list goes after the entry's previous size.
void merge_sizes(const std::vector<std::string> &sizes, std::vector<std::string> *all) {
  size_t next = 0;
  for (const std::string &size : sizes) {
    auto at = std::find(all->begin(), all->end(), size);
    if (at == all->end()) at = all->insert(all->begin() + long(std::min(next, all->size())), size);
    next = size_t(at - all->begin()) + 1;
  }
}

json coverage(const SpecOptions &o) {
  const Specification spec = open_specification(o.project, o.spec);
  Selection selection(spec, o.parts_file);
  json out = {{"spec", spec.name}, {"sizes", json::array()}, {"entries", json::array()}};
  json totals = {{"none", 0}, {"one", 0}, {"several", 0}};
  std::vector<std::string> all;
  ProgressBar bar("coverage of " + spec.name, static_cast<int64_t>(spec.entries.size()), "entries");
  for (const SpecEntry &entry : spec.entries) {
    bar.update(static_cast<int64_t>(out["entries"].size()));
    json row = {{"entry", entry.label}, {"cells", json::object()}};
    json counts = {{"none", 0}, {"one", 0}, {"several", 0}};
    const std::vector<std::string> sizes = selection.sizes(entry.label);
    merge_sizes(sizes, &all);
    for (const std::string &size : sizes) {
      const std::vector<Selection::Part> candidates = selection.find(entry.label, size);
      json parts = json::array();
      for (const Selection::Part &p : candidates)
        if (p.selected) parts.push_back(p.number);
      const char *state = state_of(parts.size());
      json cell = {{"count", parts.size()}, {"state", state}, {"parts", parts},
                   {"candidates", candidates.size()}};
      if (parts.empty()) cell["closest"] = closest(selection, candidates);
      row["cells"][size] = cell;
      counts[state] = counts[state].get<int>() + 1;
      totals[state] = totals[state].get<int>() + 1;
    }
    row["totals"] = counts;
    out["entries"].push_back(row);
  }
  out["sizes"] = all;
  out["totals"] = totals;
  return out;
}

// ---- text ------------------------------------------------------------------------

void print_text(const json &c) {
  const bool colour = isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR");
  auto paint = [colour](const std::string &text, const std::string &state) {
    if (!colour) return text;
    const char *code = state == "none" ? "31" : state == "one" ? "32" : "33";
    return std::string("\033[") + code + "m" + text + "\033[0m";
  };
  size_t width = 5;
  for (const json &row : c["entries"]) width = std::max(width, row["entry"].get<std::string>().size());
  std::printf("%-*s", int(width), "entry");
  for (const json &size : c["sizes"]) std::printf(" %6s", size.get<std::string>().c_str());
  std::printf("   %5s %5s %7s\n", "none", "one", "several");
  for (const json &row : c["entries"]) {
    std::printf("%-*s", int(width), row["entry"].get<std::string>().c_str());
    for (const json &size : c["sizes"]) {
      const json &cells = row["cells"];
      const std::string s = size.get<std::string>();
      if (!cells.contains(s)) {
        std::printf(" %6s", "-");
        continue;
      }
      char text[16];
      std::snprintf(text, sizeof text, "%6d", cells[s]["count"].get<int>());
      std::printf(" %s", paint(text, cells[s]["state"].get<std::string>()).c_str());
    }
    const json &t = row["totals"];
    std::printf("   %5d %5d %7d\n", t["none"].get<int>(), t["one"].get<int>(), t["several"].get<int>());
  }
  const json &t = c["totals"];
  std::printf("cells: %d with no part, %d with one, %d with several; - the entry does not cover "
              "the size\n",
              t["none"].get<int>(), t["one"].get<int>(), t["several"].get<int>());
}

// ---- html ------------------------------------------------------------------------

std::string escape(const std::string &text) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += ch;
    }
  }
  return out;
}

// The data of the page as a script element's text: "</" may not appear.
std::string script_json(const json &c) {
  std::string text = c.dump();
  for (size_t at = 0; (at = text.find("</", at)) != std::string::npos; at += 3) text.replace(at, 2, "<\\/");
  return text;
}

const char *const kStyle = R"(
body{font-family:sans-serif;margin:1.5em;color:#222}
h1{font-size:1.3em}
table{border-collapse:collapse}
th,td{border:1px solid #bbb;padding:.3em .6em;text-align:center}
td.cell{cursor:pointer;font-weight:bold}
td.none{background:#f4b6b6}td.one{background:#b9e4b9}td.several{background:#f6e3a1}
td.uncovered{background:#eee;color:#999}
td.chosen{outline:3px solid #225;outline-offset:-3px}
#detail{margin-top:1em;padding:.6em 1em;border:1px solid #bbb;max-width:60em}
#detail li{margin:.2em 0}
.legend span{display:inline-block;padding:.1em .5em;margin-right:.5em}
)";

const char *const kScript = R"(
const data = JSON.parse(document.getElementById('data').textContent);
function text(tag, content) { const e = document.createElement(tag); e.textContent = content; return e; }
function show(td) {
  document.querySelectorAll('td.chosen').forEach(e => e.classList.remove('chosen'));
  td.classList.add('chosen');
  const row = data.entries.find(r => r.entry === td.dataset.entry);
  const cell = row.cells[td.dataset.size];
  const detail = document.getElementById('detail');
  detail.replaceChildren(text('h2', 'Entry ' + row.entry + ', size ' + td.dataset.size));
  if (cell.parts.length > 0) {
    detail.appendChild(text('p', cell.parts.length + ' catalog part(s) found:'));
    const list = document.createElement('ul');
    cell.parts.forEach(p => list.appendChild(text('li', p)));
    detail.appendChild(list);
    return;
  }
  detail.appendChild(text('p', 'No catalog part found among ' + cell.candidates + ' candidate(s).'));
  cell.closest.forEach(c => {
    const block = document.createElement('div');
    block.className = 'rejected';
    block.appendChild(text('h3', 'Rejected: ' + c.part + ' (record at ' + c.position + ')'));
    const list = document.createElement('ul');
    c.why.forEach(w => list.appendChild(text('li', w)));
    block.appendChild(list);
    detail.appendChild(block);
  });
}
document.querySelectorAll('td.cell').forEach(td => td.addEventListener('click', () => show(td)));
const wanted = /#click=([^/]*)\/(.*)$/.exec(decodeURIComponent(location.hash));
if (wanted) {
  const td = [...document.querySelectorAll('td.cell')]
      .find(e => e.dataset.entry === wanted[1] && e.dataset.size === wanted[2]);
  if (td) td.click();
}
)";

std::string html_page(const json &c) {
  const std::string spec = escape(c["spec"].get<std::string>());
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Coverage of " + spec +
                     "</title><style>" + kStyle + "</style></head><body>\n<h1>Coverage of " + spec +
                     "</h1>\n<p class=\"legend\"><span style=\"background:#f4b6b6\">no "
                     "part</span><span style=\"background:#b9e4b9\">one</span><span "
                     "style=\"background:#f6e3a1\">several</span><span style=\"background:#eee\">not "
                     "covered</span>Choose a cell to see its parts or why there is none.</p>\n"
                     "<table id=\"matrix\"><tr><th>entry</th>";
  for (const json &size : c["sizes"]) page += "<th>" + escape(size.get<std::string>()) + "</th>";
  page += "<th>none</th><th>one</th><th>several</th></tr>\n";
  for (const json &row : c["entries"]) {
    const std::string entry = escape(row["entry"].get<std::string>());
    page += "<tr><th>" + entry + "</th>";
    for (const json &size : c["sizes"]) {
      const std::string s = size.get<std::string>();
      if (!row["cells"].contains(s)) {
        page += "<td class=\"uncovered\">-</td>";
        continue;
      }
      const json &cell = row["cells"][s];
      page += "<td class=\"cell " + cell["state"].get<std::string>() + "\" data-entry=\"" + entry +
              "\" data-size=\"" + escape(s) + "\">" + std::to_string(cell["count"].get<int>()) + "</td>";
    }
    for (const char *state : {"none", "one", "several"})
      page += "<td>" + std::to_string(row["totals"][state].get<int>()) + "</td>";
    page += "</tr>\n";
  }
  page += "<tr><th>total</th><td colspan=\"" + std::to_string(c["sizes"].size()) + "\"></td>";
  for (const char *state : {"none", "one", "several"})
    page += "<td>" + std::to_string(c["totals"][state].get<int>()) + "</td>";
  page += "</tr>\n</table>\n<div id=\"detail\">Choose a cell.</div>\n"
          "<script type=\"application/json\" id=\"data\">" + script_json(c) + "</script>\n<script>" +
          kScript + "</script>\n</body></html>\n";
  return page;
}

void write_html(const std::string &path, const json &c) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << html_page(c);
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      fail(path + ": cannot write the page");
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    fail(path + ": cannot write the page");
  }
}

void print_coverage(const SpecOptions &o) {
  if (!o.html.empty()) Outputs({o.parts_file, o.project}, o.force).check(o.html);
  const json c = coverage(o);
  if (!o.html.empty()) write_html(o.html, c);
  if (o.json)
    std::cout << c.dump(2) << '\n';
  else
    print_text(c);
}

}  // namespace

void add_coverage_command(CLI::App *spec, SpecOptions *o,
                          const std::function<void(CLI::App *)> &common) {
  auto *c = spec->add_subcommand("coverage", "Entries against sizes: how many catalog parts each "
                                             "query part finds (none, one, several)");
  common(c);
  c->add_option("--parts", o->parts_file, "Generic part file of catalog parts")->required();
  c->add_option("--html", o->html, "Also write the matrix as one self-contained HTML page");
  c->add_flag("--force", o->force, "Replace an existing --html file");
  c->callback([o] { print_coverage(*o); });
}

}  // namespace pcs::tools
