// Query parts of a piping specification and their catalog parts, against
// baselines in the same run: cgqfill for a specification of 200 entries
// over 20 sizes each (4,000 query parts) against building the same parts
// from values already in memory; the selection of the catalog parts of
// every query part among 100,000 catalog parts through the library's
// selection engine against a brute-force loop of cgpreql over all pairs
// (the baseline takes a sample of 20 queries; both report the queries of an
// iteration, so that bench/run compares them per query).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "host/host_model.h"
#include "include/pcs.h"
#include "include/pcs_select.h"
#include "tests/query/brute_force.h"
#include "tests/query/piping_project.h"

namespace {

namespace model = pcs::host::model;

constexpr int kEntries = 200;
constexpr int kSizes = 20;
constexpr int kCatalogParts = 100000;
constexpr int kBruteForceQueries = 20;  // the brute force takes a sample

std::string size_name(int i) { return "S" + std::to_string(100 + i); }
std::string class_name(int entry) { return "EC" + std::to_string(1000 + entry); }

// The specification: entry i has element class EC(1000+i) and one size
// range over all 20 project sizes.
struct Project {
  int owner = 0;
  std::vector<int> entries;
  Project() {
    model::clear();
    model::Model &m = model::data();
    pcs::pipingtest::define_spec_tables(m);
    model::SizeTable &table = m.standards[model::name("ASME")][model::name("PRJSIZE")];
    for (int s = 0; s < kSizes; ++s) table.sizes.push_back(size_name(s));
    owner = pcs::pipingtest::add_spec_owner(m, "BENCH");
    for (int e = 0; e < kEntries; ++e) {
      model::Object &entry = m.add_object("SPCENTRY", "BENCH " + std::to_string(e));
      entry.element_class = class_name(e);
      const int h = entry.handle;
      m.add_row(h, "SPCSZRNG", {{"SIZE1", size_name(0)}, {"SIZE2", size_name(kSizes - 1)}});
      m.add_row(h, "PRJSTAND", {{"STANDARD", "ASME"}});
      m.add_row(h, "SPEC001", {{"SCH", "40"}, {"ENDS", "BW"}});
      m.add_row(h, "GEN001", {{"SCH", "1"}});
      m.add_row(h, "PRJMATL", {{"VNDRCOD", "V1"}, {"MAINCODE", "CS"}});
      m.add_row(h, "GPRJMATL", {{"VNDRCOD", "1"}});
      m.add_row(h, "SPCFUNC", {{"CATEGORY", "FITTING"}, {"FUNCTION", "ELBOW"}, {"QRYNUMBR", "1"}});
      entries.push_back(h);
    }
  }
};
Project &project() {
  static Project p;
  return p;
}

std::vector<CgPart> fill_all() {
  int stack = 0, rc = 0, count = 0, size = 4, parts = 0, none = 0;
  gusini(&size, &stack, &rc);
  for (int e : project().entries) guspus(&stack, &e, &count, &rc);
  cgqfill(&project().owner, nullptr, &none, &stack, &parts, &rc);
  gusend(&stack, &rc);
  std::vector<CgPart> out;
  for (const std::string &entry : model::stack_entries(parts)) {
    CgPart part;
    std::memcpy(&part, entry.data(), sizeof part);
    out.push_back(part);
  }
  gusend(&parts, &rc);
  return out;
}

void release(std::vector<CgPart> &parts) {
  for (CgPart p : parts) cggfre(p);
  parts.clear();
}

void BM_QueryFill(benchmark::State &state) {
  project();
  size_t made = 0;
  for (auto _ : state) {
    std::vector<CgPart> parts = fill_all();
    made += parts.size();
    release(parts);
  }
  state.counters["query_parts/s"] = benchmark::Counter(double(made), benchmark::Counter::kIsRate);
}

// Baseline: the same parts copied value by value with cgpradd from parts
// already in memory, without reading the host model.
void BM_QueryFillBaseline(benchmark::State &state) {
  std::vector<CgPart> source = fill_all();
  size_t made = 0;
  for (auto _ : state) {
    for (CgPart from : source) {
      CgPart part = nullptr;
      int rc = 0;
      for (CgGroup *g = from; g; g = g->next)
        for (CgAttribute *a = g->attributes; a; a = a->next)
          for (int k = 0; k < a->valueCount; ++k)
            part = cgpradd(a->values + k * a->valueLength, a->type, &a->valueLength, a->name,
                           g->name, part, &rc);
      cggfre(part);
      ++made;
    }
  }
  release(source);
  state.counters["query_parts/s"] = benchmark::Counter(double(made), benchmark::Counter::kIsRate);
}

// ---- selection ----------------------------------------------------------------

// 100,000 catalog parts: 500 per element class, sizes and schedules spread
// so that a query part has 500 candidates under its key, 25 of its size,
// of which some satisfy it; one size in 20 of each entry has no part of its own material
// (an empty cell, whose closest rejected candidates are explained).
struct Catalog {
  std::string path;
  std::vector<CgPart> parts;
  Catalog() {
    path = pcs::bench::make_temp_dir("pcs-spec-bench-") + "/GENPARTS";
    FILE *file = std::fopen(path.c_str(), "wb");
    for (int i = 0; i < kCatalogParts; ++i) {
      const int entry = i % kEntries, size = (i / kEntries) % kSizes;
      const std::string values[][3] = {
          {"PARTNUM ", "PARTNO  ", "P" + std::to_string(i)},
          {"ELCLASS ", "AELCLASS", class_name(entry)},
          {"SPCFUNC ", "QRYNUMBR", "1"},
          {"PIPESIZE", "SIZE    ", size_name(size)},
          {"STANDATA", "STANDARD", "ASME"},
          {"PARTDEF ", "CATEGORY", "FITTING"},
          {"PARTDEF ", "PARTTYPE", "ELBOW"},
          {"ELMMATL ", "MAINCODE", (i / 4000) % 2 || size == entry % kSizes ? "SS" : "CS"},
          {"ENDSPEC ", "SCH     ", (i / 8000) % 3 ? "40" : "80"},
          {"ENDSPEC ", "ENDS    ", "BW"},
      };
      CgPart part = nullptr;
      int rc = 0;
      const int length = 8;
      for (const auto &v : values) {
        std::string value = v[2];
        value.resize(8, ' ');
        part = cgpradd(value.data(), "C8      ", &length, v[1].c_str(), v[0].c_str(), part, &rc);
      }
      cggput(file, &part, &rc);
      parts.push_back(part);
    }
    std::fclose(file);
  }
  ~Catalog() {
    release(parts);
    std::remove(path.c_str());
    rmdir(path.substr(0, path.rfind('/')).c_str());
  }
};
Catalog &catalog() {
  static Catalog c;
  return c;
}

// A session of the project, ended with the object.
struct Session {
  Session() {
    const int ws = 1;
    const double origin = 0, extent = 1;
    const float tolerance = 0, angle = 0;
    int rc = 0;
    gimcrw(&ws, &origin, &extent, &tolerance, &angle, &rc);
  }
  ~Session() { pr0end(); }
};

void count_queries(benchmark::State &state, size_t done, size_t found) {
  state.counters["queries/s"] = benchmark::Counter(double(done), benchmark::Counter::kIsRate);
  state.counters["queries/iteration"] =
      benchmark::Counter(double(done), benchmark::Counter::kAvgIterations);
  state.counters["selected/query"] = double(found) / double(done ? done : 1);
}

// The library's selection engine over the whole specification: open it
// (one read and one index of the generic part file), then every entry at
// every size.
void BM_SelectionEngine(benchmark::State &state) {
  project();
  catalog();
  Session session;
  const int ws = 1;
  size_t done = 0, found = 0;
  for (auto _ : state) {
    PcsSelection *s = nullptr;
    int rc = 0;
    pcs_sel_open(&ws, "BENCH", catalog().path.c_str(), &s, &rc);
    for (int e = 0; e < kEntries && rc == 0; ++e) {
      const std::string entry = std::to_string(e);
      for (int z = 0; z < kSizes && rc == 0; ++z) {
        int candidates = 0, selected = 0;
        pcs_sel_find(s, entry.c_str(), size_name(z).c_str(), &candidates, &selected, &rc);
        found += size_t(selected);
        ++done;
      }
    }
    pcs_sel_close(s);
    if (rc != 0) state.SkipWithError("the selection failed");
  }
  count_queries(state, done, found);
}

// Baseline: cgpreql over every pair of a sample of query parts and all
// catalog parts (already in memory), then the key and the size limits, so
// that it selects what the index selects.
void BM_SelectionBruteForce(benchmark::State &state) {
  std::vector<CgPart> queries = fill_all();
  catalog();
  size_t done = 0, found = 0;
  for (auto _ : state) {
    for (int q = 0; q < kBruteForceQueries; ++q) {
      CgPart query = queries[size_t(q) * 200];
      for (CgPart part : catalog().parts) {
        int rc = 0, outside = 0;
        if (cgpreql(query, part, &rc) == 0 || !pcs::bruteforce::same_key(query, part)) continue;
        cgminsz(part, query, &outside, &rc);
        found += outside == 0;
      }
      ++done;
    }
  }
  release(queries);
  count_queries(state, done, found);
}

// The command line over the same project and file, as a user runs it:
// `spec coverage` (every cell, the closest rejected candidates of the empty
// ones) against `spec parts` (the same selections, listed).
void run_command(benchmark::State &state, const char *command) {
  project();
  const std::string dir = catalog().path.substr(0, catalog().path.rfind('/'));
  const std::string file = dir + "/project.json";
  if (model::save(file) != 0) state.SkipWithError("cannot save the project");
  const std::string line = std::string(PCS_TOOL) + " spec " + command + " BENCH --json --project " +
                           file + " --parts " + catalog().path + " > /dev/null";
  for (auto _ : state)
    if (std::system(line.c_str()) != 0) state.SkipWithError("the command failed");
  std::remove(file.c_str());
}
void BM_CoverageCommand(benchmark::State &state) { run_command(state, "coverage"); }
void BM_PartsCommand(benchmark::State &state) { run_command(state, "parts"); }

BENCHMARK(BM_QueryFill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QueryFillBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionEngine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SelectionBruteForce)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CoverageCommand)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PartsCommand)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
