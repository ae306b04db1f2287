// The project database against the JSON project file it replaced, in the
// same run: a save after changing one row of a 100,000-row model (the
// database writes the change, the baseline rewrites the whole JSON file
// atomically), opening the project and running one service, and N sessions
// that each add three rows and save.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/bench_util.h"
#include "host/inprocess/model.h"

namespace {

namespace model = pcs::host::model;

constexpr int kObjects = 100;
constexpr int kRowsEach = 1000;

// A folder of its own, removed with everything in it at exit.
struct Folder {
  std::string root;
  Folder() {
    root = pcs::bench::make_temp_dir("pcs-bench-");
  }
  ~Folder() { std::filesystem::remove_all(root); }
  std::string path(const char *name) const { return root + "/" + name; }
};

Folder &folder() {
  static Folder instance;
  return instance;
}

// 100 weld tables of 1,000 rows each.
void build_large_model() {
  model::clear();
  model::Model &m = model::data();
  m.define_group("PRJWRULS", {{"ENDS1", 'C', 8},
                              {"ENDS2", 'C', 8},
                              {"WALL1", 'R', 8},
                              {"WALL2", 'R', 8},
                              {"FABSITE", 'C', 8},
                              {"WELDTYPE", 'C', 8}});
  m.define_type("WLDTABLE", {"PRJWRULS"});
  for (int t = 0; t < kObjects; ++t) {
    const int handle = m.add_object("WLDTABLE", "WELD TABLE " + std::to_string(t)).handle;
    for (int r = 0; r < kRowsEach; ++r) {
      m.add_row(handle, "PRJWRULS",
                {{"ENDS1", "BW"},
                 {"ENDS2", "SW"},
                 {"WALL1", std::to_string(r % 50 + 1)},
                 {"WALL2", "3.91"},
                 {"FABSITE", "SHOP"},
                 {"WELDTYPE", "BUTT"}});
    }
  }
}

// The large model saved once as a database and as a JSON file.
const std::string &large_project() {
  static const std::string path = [] {
    const std::string db = folder().path("large.db");
    build_large_model();
    if (model::save(db) != 0) std::abort();
    return db;
  }();
  return path;
}

// The JSON project file's save: the whole text to a temporary file, synced,
// renamed over the project.
void write_json(const std::string &path) {
  const std::string text = model::to_json(), temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
            ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) std::abort();
}

void change_one_row(int iteration) {
  model::Row &row = model::data().object(50)->groups[model::name("PRJWRULS")][500];
  row[0] = model::name(iteration % 2 ? "SW" : "BW");
}

void BM_SaveOneRowChange_Database(benchmark::State &state) {
  const std::string &db = large_project();
  if (model::load(db) != 0) std::abort();
  int iteration = 0;
  for (auto _ : state) {
    change_one_row(++iteration);
    if (model::save(db) != 0) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveOneRowChange_Database)->Unit(benchmark::kMillisecond);

void BM_SaveOneRowChange_JsonRewrite(benchmark::State &state) {
  build_large_model();
  const std::string json = folder().path("large.json");
  int iteration = 0;
  for (auto _ : state) {
    change_one_row(++iteration);
    write_json(json);
  }
}
BENCHMARK(BM_SaveOneRowChange_JsonRewrite)->Unit(benchmark::kMillisecond);

// gimcrw loads the project; gj0art is the one service.
int open_and_one_service() {
  int ws = 1, rc = 0, length = 0;
  double zero = 0, thousand = 1000;
  float small = 0;
  char type[8];
  gimcrw(&ws, &zero, &thousand, &small, &small, &rc);
  if (rc == 0) gj0art("PRJWRULS", "WALL1   ", type, &length, &rc);
  pr0end();
  return rc;
}

void BM_OpenAndOneService_Database(benchmark::State &state) {
  const std::string &db = large_project();
  for (auto _ : state) {
    model::clear();
    model::set_project_path(db);
    if (open_and_one_service() != 0) state.SkipWithError("service failed");
  }
}
BENCHMARK(BM_OpenAndOneService_Database)->Unit(benchmark::kMillisecond);

void BM_OpenAndOneService_Json(benchmark::State &state) {
  build_large_model();
  const std::string json = folder().path("large.json");
  write_json(json);
  for (auto _ : state) {
    model::clear();
    std::FILE *file = std::fopen(json.c_str(), "rb");
    std::string text(std::filesystem::file_size(json), '\0');
    if (!file || std::fread(text.data(), 1, text.size(), file) != text.size()) std::abort();
    std::fclose(file);
    if (model::load_text(text) != 0 || open_and_one_service() != 0)
      state.SkipWithError("service failed");
  }
}
BENCHMARK(BM_OpenAndOneService_Json)->Unit(benchmark::kMillisecond);

// One generator-like session: open, write three rows into a table, save.
template <class Save>
void session(int handle, Save save) {
  int ws = 1, rc = 0, id = 1, mode = 1, zero = 0, one = 1;
  double origin = 0, extent = 1000;
  float small = 0;
  gimcrw(&ws, &origin, &extent, &small, &small, &rc);
  g7mswm(&ws, &id, &mode, &rc);
  for (const char *ends : {"BW      ", "SW      ", "FL      "}) {
    gtbaae(&ws, &handle, &zero, "PRJWRULS", "ENDS1   ", &one, ends, &rc);
  }
  save();
  pr0end();
  if (rc != 0) std::abort();
}

// A small project with one empty weld table.
int small_project() {
  model::clear();
  model::Model &m = model::data();
  m.define_group("PRJWRULS", {{"ENDS1", 'C', 8}, {"ENDS2", 'C', 8}, {"WALL1", 'R', 8}});
  m.define_type("WLDTABLE", {"PRJWRULS"});
  return m.add_object("WLDTABLE", "WELD TABLE").handle;
}

void BM_Sessions_Database(benchmark::State &state) {
  const std::string db = folder().path("sessions.db");
  for (auto _ : state) {
    state.PauseTiming();
    for (const char *suffix : {"", "-wal", "-shm"}) std::remove((db + suffix).c_str());
    const int handle = small_project();
    model::set_project_path(db);  // the sessions' saves go to this database
    if (model::save(db) != 0) std::abort();
    state.ResumeTiming();
    for (int s = 0; s < state.range(0); ++s) {
      session(handle, [&] {
        int ws = 1, rc = 0;
        gj0swm(&ws, &rc);
        if (rc != 0) std::abort();
      });
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sessions_Database)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_Sessions_JsonRewrite(benchmark::State &state) {
  const std::string json = folder().path("sessions.json");
  for (auto _ : state) {
    state.PauseTiming();
    const int handle = small_project();
    state.ResumeTiming();
    for (int s = 0; s < state.range(0); ++s) session(handle, [&] { write_json(json); });
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Sessions_JsonRewrite)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  model::clear();  // closes the database before its folder goes
  return 0;
}
