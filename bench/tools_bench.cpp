// The catalog administrator's bulk commands against sqlite3's: `pcs catalog
// import` of a CSV part list against `sqlite3 .import` of the same file into
// a table, and `pcs catalog export --format csv` against `sqlite3 -csv` of
// that table. Parts: PCS_BENCH_IMPORT_PARTS (default 1,000,000; 50,000 is a
// quick check). Both sides run as programs, timed from start to exit, four
// times each: one run of a second moves with the writeback of the last.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_util.h"

namespace {

const std::string &dir() { return pcs::bench::work_dir("tools"); }

long parts() { return pcs::bench::env_number("PCS_BENCH_IMPORT_PARTS", 1000000); }

// The part list: one row a part, typed in its header.
const std::string &csv_file() {
  static const std::string path = [] {
    const std::string file = dir() + "/parts.csv";
    FILE *out = std::fopen(file.c_str(), "w");
    if (!out) std::abort();
    std::fprintf(out, "PART.NAME:C12,PARTNUM.PARTNO:C40,PARTDEF.CATEGORY:C8,PIPE.NPS:I4,DIMS.OD:R8,DIMS.WALL:R8\n");
    const char *categories[] = {"PIPE", "FITTING", "FLANGE", "VALVE"};
    for (long n = 0; n < parts(); ++n)
      std::fprintf(out, "P%ld,PN-%ld-STD,%s,%ld,%.1f,%.2f\n", n, n * 7, categories[n % 4], n % 48,
                   20.0 + static_cast<double>(n % 500), 2.0 + static_cast<double>(n % 90) / 10);
    if (std::fclose(out) != 0) std::abort();
    return file;
  }();
  return path;
}

bool run(benchmark::State &state, const std::string &command) {
  if (std::system(command.c_str()) == 0) return true;
  state.SkipWithError(("failed: " + command).c_str());
  return false;
}

bool have_sqlite() { return std::system("sqlite3 -version >/dev/null 2>&1") == 0; }

void remove(const std::string &path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void BM_ImportPcs(benchmark::State &state) {
  const std::string csv = csv_file(), catalog = dir() + "/parts.cat";
  for (auto _ : state) {
    state.PauseTiming();
    remove(catalog);
    state.ResumeTiming();
    if (!run(state, std::string(PCS_TOOL) + " catalog import " + catalog + " " + csv + " >/dev/null")) break;
  }
  state.SetItemsProcessed(state.iterations() * parts());
}

void BM_ImportSqlite(benchmark::State &state) {
  if (!have_sqlite()) return state.SkipWithError("no sqlite3 program");
  const std::string csv = csv_file(), db = dir() + "/parts.db";
  for (auto _ : state) {
    state.PauseTiming();
    remove(db);
    state.ResumeTiming();
    if (!run(state, "sqlite3 " + db + " '.import --csv " + csv + " parts'")) break;
  }
  state.SetItemsProcessed(state.iterations() * parts());
}

void BM_ExportPcs(benchmark::State &state) {
  const std::string catalog = dir() + "/export.cat", out = dir() + "/export.csv";
  if (!std::filesystem::exists(catalog) &&
      !run(state, std::string(PCS_TOOL) + " catalog import " + catalog + " " + csv_file() + " >/dev/null"))
    return;
  for (auto _ : state) {
    state.PauseTiming();
    remove(out);  // export never replaces a file unless told to
    state.ResumeTiming();
    if (!run(state, std::string(PCS_TOOL) + " catalog export " + catalog + " --format csv -o " + out + " 2>/dev/null"))
      break;
  }
  state.SetItemsProcessed(state.iterations() * parts());
  remove(out);
}

void BM_ExportSqlite(benchmark::State &state) {
  if (!have_sqlite()) return state.SkipWithError("no sqlite3 program");
  const std::string db = dir() + "/export.db", out = dir() + "/export.csv";
  if (!std::filesystem::exists(db) && !run(state, "sqlite3 " + db + " '.import --csv " + csv_file() + " parts'"))
    return;
  for (auto _ : state)
    if (!run(state, "sqlite3 -csv -header " + db + " 'SELECT * FROM parts' >" + out)) break;
  state.SetItemsProcessed(state.iterations() * parts());
  remove(out);
}

BENCHMARK(BM_ImportPcs)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_ImportSqlite)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_ExportPcs)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK(BM_ExportSqlite)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
