// Table generators against baselines in the same run: cgwtcr and cgpdtcr on
// a large dump against an awk program that splits and writes the same
// fields; cgpdtcr2 loading a table file into the in-process model and
// saving it against reading and splitting the same file alone; cgpscr over
// a directory of function files against a model with many rows, at two
// directory sizes to show how it grows. PCS_BENCH_DUMP_MB, PCS_BENCH_ROWS,
// PCS_BENCH_MODEL_ROWS and PCS_BENCH_CLASS_FILES choose other sizes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/bench_util.h"
#include "generators/generators.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"

namespace {

namespace model = pcs::host::model;
namespace fs = std::filesystem;

using pcs::bench::env_number;

std::string work(const std::string &name) { return pcs::bench::work_dir("gen") + "/" + name; }

// Writes header, `bytes` worth of entry lines made by line(i), end line.
template <class Line>
void write_dump(const std::string &path, const char *header, long bytes, Line &&line) {
  FILE *file = std::fopen(path.c_str(), "w");
  if (!file) std::abort();
  std::fprintf(file, "%s\n", header);
  for (long i = 0, written = 0; written < bytes; ++i) written += std::fprintf(file, "%s", line(i).c_str());
  std::fprintf(file, "CTFTBEN\n");
  if (std::fclose(file) != 0) std::abort();
}

const long kDumpBytes = env_number("PCS_BENCH_DUMP_MB", 100) << 20;
constexpr int kSizes = 1000;

void make_dumps() {
  static bool made = false;
  if (made) return;
  made = true;
  write_dump(work("weld.dmp"), "WELDHEAD", kDumpBytes, [](long i) {
    return "WELDNTRY E" + std::to_string(i % 97) + " S 2 1.5 2.5 FW 3.0 4.0 GW\n";
  });
  write_dump(work("od.dmp"), "PIODHEAD", 1, [](long i) {
    return i < kSizes ? "PIODNTRY S" + std::to_string(i) + " " + std::to_string(10 + i) + ".3\n" : "";
  });
  write_dump(work("wall.dmp"), "PITHHEAD", kDumpBytes, [](long i) {
    return "PITHNTRY S" + std::to_string(i % (kSizes + 100)) + " 40 3.91\n";
  });
}

void set_bytes(benchmark::State &state) {
  state.SetBytesProcessed(int64_t(state.iterations()) * kDumpBytes);
}

// One converter run per iteration over the dumps, against an awk program
// doing the same job.
void run_converter(benchmark::State &state, const char *name, void (*convert)(int *rc)) {
  make_dumps();
  for (auto _ : state) {
    int rc = 0;
    convert(&rc);
    if (rc != 0) state.SkipWithError((std::string(name) + " failed").c_str());
  }
  set_bytes(state);
}

void run_awk(benchmark::State &state, const std::string &command) {
  make_dumps();
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("awk failed");
  set_bytes(state);
}

void BM_cgwtcr(benchmark::State &state) {
  run_converter(state, "cgwtcr", [](int *rc) {
    cgwtcr(work("weld.dmp").c_str(), work("weld.csv").c_str(), rc);
  });
}

void BM_awk_weld(benchmark::State &state) {
  run_awk(state,
          "awk '/WELDHEAD/{s=1;next} /CTFTBEN/{if(s)exit} s && substr($1,1,8)==\"WELDNTRY\"{"
          "f=$3; if(f==\"F\")f=\"FIELD\"; else if(f==\"S\")f=\"SHOP\"; n=$4+0; if(n>5)n=5;"
          "for(i=0;i<n;i++){t=5+3*i; print $2\",\"$2\",\"$t\",\"$(t+1)\",\"f\",\"$(t+2)\",\"}}' " +
              work("weld.dmp") + " > " + work("weld.awk"));
}

void BM_cgpdtcr(benchmark::State &state) {
  run_converter(state, "cgpdtcr", [](int *rc) {
    cgpdtcr(work("wall.dmp").c_str(), work("od.dmp").c_str(), work("pd.csv").c_str(), rc);
  });
}

void BM_awk_pipedim(benchmark::State &state) {
  run_awk(state,
          "awk 'FNR==NR{if(/PIODHEAD/)s=1; else if(/CTFTBEN/)s=0; else if(s && $1==\"PIODNTRY\"){"
          "if(!($2 in d))d[$2]=$3; print $2\",,\"$3\",,\"}; next} /PITHHEAD/{t=1;next} /CTFTBEN/{t=0}"
          " t && $1==\"PITHNTRY\"{print $2\",\"$3\",\"d[$2]\",\"$4\",\"}' " +
              work("od.dmp") + " " + work("wall.dmp") + " > " + work("pd.awk"));
}

// A fresh in-process model from the example project, saved in the work dir.
void fresh_model() {
  model::clear();
  const std::string project = work("project");
  fs::remove(project);
  model::set_project_path(project);
  std::ifstream in(std::string(PCS_SOURCE_DIR) + "/docs/example-project.json");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (model::load_text(text) != 0) std::abort();
}

const long kRows = env_number("PCS_BENCH_ROWS", 100000);

void write_rows(const std::string &path, long rows) {
  FILE *file = std::fopen(path.c_str(), "w");
  for (long i = 0; i < rows; ++i) std::fprintf(file, "S%ld,40,%ld.3,3.91,\n", i % 1000, i % 500);
  std::fclose(file);
}

void BM_cgpdtcr2(benchmark::State &state) {
  write_rows(work("rows.csv"), kRows);
  for (auto _ : state) {
    state.PauseTiming();
    fresh_model();
    state.ResumeTiming();
    int rc = 0;
    const double scale = 1.0;
    cgpdtcr2(work("rows.csv").c_str(), "BENCH", &scale, &rc);
    if (rc != 0) state.SkipWithError("cgpdtcr2 failed");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
  model::clear();
}

void BM_split_rows(benchmark::State &state) {
  write_rows(work("rows.csv"), kRows);
  for (auto _ : state) {
    FILE *file = std::fopen(work("rows.csv").c_str(), "r");
    char line[pcs::generators::kLineSize];
    static pcs::generators::Fields fields;
    while (pcs::generators::read_line(file, line)) pcs::generators::SplitCsvLine(line, fields);
    std::fclose(file);
    benchmark::DoNotOptimize(fields[0][0]);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}

// A directory of `files` function files for files / 10 classes, and a model
// holding `rows` extra PIPEDIM rows.
void BM_cgpscr(benchmark::State &state) {
  const long files = state.range(0), rows = env_number("PCS_BENCH_MODEL_ROWS", 100000);
  const std::string dir = work("classes" + std::to_string(files));
  fs::create_directories(dir);
  const char *types[] = {"PIPE", "FLG", "GSK", "ELBOW0", "BRANCH", "FITTING", "VALVOPER",
                         "VALVBODY", "MSCPPART", "X"};
  std::string map;
  for (long c = 0; c < files / 10; ++c) {
    const std::string name = "C" + std::to_string(1000 + c);
    map += name + ",W" + std::to_string(c) + ",weld_table,B" + std::to_string(c) + ",branch_table,\n";
    for (const char *t : types) std::fclose(std::fopen((dir + "/" + name + "_" + t).c_str(), "w"));
  }
  FILE *classmap = std::fopen((dir + "/CLASSMAP").c_str(), "w");
  std::fputs(map.c_str(), classmap);
  std::fclose(classmap);
  for (auto _ : state) {
    state.PauseTiming();
    fresh_model();
    const int standard = model::data().find_object("STANDARD", "ASME")->handle;
    for (long r = 0; r < rows; ++r) model::data().add_row(standard, "PIPEDIM", {{"SIZE", "4"}});
    state.ResumeTiming();
    int rc = 0, stack = 0;
    cgpscr(dir.c_str(), "ASME", &stack, &rc);
    if (rc != 0) state.SkipWithError("cgpscr failed");
    gusend(&stack, &rc);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * files);
  model::clear();
}

}  // namespace

BENCHMARK(BM_cgwtcr)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_awk_weld)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_cgpdtcr)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_awk_pipedim)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_cgpdtcr2)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_split_rows)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_cgpscr)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime()->Arg(
    env_number("PCS_BENCH_CLASS_FILES", 1000) / 2)->Arg(env_number("PCS_BENCH_CLASS_FILES", 1000));
BENCHMARK_MAIN();
