// Catalog maintenance against baselines in the same run: csgbldx over a
// catalog of 1,000,000 parts with a 40-byte key against `LC_ALL=C sort
// --parallel=2` of the same keys as text and against std::sort of the same
// key records, alone and plus one buffered write; cscprs of a 256 MiB
// catalog with a tenth of its records deleted against `cp` (and `cp` then
// `sync`) of the same file; `pcs maint index` of the parts catalog against
// csgbldx alone, in this process and in a fresh one.
// PCS_BENCH_PARTS and PCS_BENCH_CATALOG_MB choose smaller sizes.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "common/coding.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "maintenance/maintenance.h"

namespace {

constexpr int kKeyLength = 40;

using pcs::bench::env_number;

std::string work(const char *name) { return pcs::bench::work_dir("maint") + "/" + name; }

void write_all(const std::string &path, const std::string &bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fclose(file) != 0)
    std::abort();
}

// One catalog record: groups of one attribute each, laid out as cspgwrt
// writes them.
void append_record(std::string &out, const std::vector<std::pair<std::string, std::string>> &groups,
                   int flag, const std::string &attribute_name = "PARTNO  ") {
  const int g = static_cast<int>(groups.size());
  std::string table, body;
  int offset = 16 + 4 * g;
  for (const auto &[group, value] : groups) {
    pcs::append_be32(table, offset);
    std::string block = group;
    pcs::append_be32(block, 1);
    pcs::append_be32(block, offset + 16);
    block += group == "PARTNUM " ? attribute_name : "CATEGORY";
    pcs::append_be32(block, 1);
    pcs::append_be32(block, static_cast<int>(value.size()));
    block += value;
    body += block;
    offset += static_cast<int>(block.size());
  }
  pcs::append_be32(out, 16 + static_cast<int>(table.size() + body.size()) + 1);
  pcs::append_be32(out, flag);
  pcs::append_be32(out, 12);
  pcs::append_be32(out, g);
  out += table;
  out += body;
  out += '\n';
}

// The parts catalog: random 40-character part numbers (some repeated) and a
// category; the same keys as text lines for sort(1).
struct PartsCatalog {
  int parts = static_cast<int>(env_number("PCS_BENCH_PARTS", 1000000));
  std::vector<std::string> keys;
  std::string catalog = work("parts.cat"), text = work("parts.txt");
  PartsCatalog() {
    std::mt19937_64 rng(7);
    keys.resize(static_cast<size_t>(parts));
    std::string bytes, lines;
    for (int i = 0; i < parts; ++i) {
      std::string &key = keys[static_cast<size_t>(i)];
      if (i > 0 && rng() % 50 == 0) {
        key = keys[rng() % static_cast<size_t>(i)];
      } else {
        key.resize(kKeyLength);
        for (char &c : key) c = static_cast<char>('A' + rng() % 26);
      }
      append_record(bytes, {{"PARTDEF ", "ELBOW                   "}, {"PARTNUM ", key}}, 0);
      lines += key;
      lines += '\n';
    }
    write_all(catalog, bytes);
    write_all(text, lines);
  }
  size_t key_record_bytes() const {
    return static_cast<size_t>(parts) * (sizeof(KeyRecord) + kKeyLength + 1);
  }
};
PartsCatalog &parts() {
  static PartsCatalog c;
  return c;
}

// Puts everything written so far on disk, untimed, before each timed run
// of the index builds, the compression and their baselines: the files the
// runs before them wrote would otherwise be written back during whichever
// came next, and slow it.
void put_on_disk() {
  if (std::system("sync") != 0) std::abort();
}

void settle(benchmark::State &state) {
  state.PauseTiming();
  put_on_disk();
  state.ResumeTiming();
}

void build_index(benchmark::State &state) {
  PartsCatalog &c = parts();
  const int fields = 1, widths[] = {kKeyLength};
  const std::string catalog = c.catalog + " ", index = work("parts.idx") + " ";
  for (auto _ : state) {
    settle(state);
    int rc = -1;
    csgbldx(&fields, "PARTNUM ", "PARTNO  ", widths, catalog.c_str(), index.c_str(), &rc);
    if (rc != 0) state.SkipWithError("csgbldx failed");
  }
  state.counters["parts"] = c.parts;
  state.SetItemsProcessed(state.iterations() * c.parts);
}
// Its CPU time is the whole process's: the sort runs on two threads.
BENCHMARK(build_index)->Name("csgbldx")->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime()->MeasureProcessCPUTime();

void sort_command(benchmark::State &state) {
  PartsCatalog &c = parts();
  const std::string command = "LC_ALL=C sort --parallel=2 " + c.text + " -o " + work("parts.sorted");
  for (auto _ : state) {
    settle(state);
    if (std::system(command.c_str()) != 0) state.SkipWithError("sort failed");
  }
  state.SetItemsProcessed(state.iterations() * c.parts);
}
BENCHMARK(sort_command)->Name("baseline: LC_ALL=C sort --parallel=2")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// std::sort of the key records alone (keys already in memory), and with one
// buffered write of index lines.
void std_sort(benchmark::State &state, bool write) {
  PartsCatalog &c = parts();
  std::vector<char> keys(static_cast<size_t>(c.parts) * (kKeyLength + 1));
  std::vector<KeyRecord> records(static_cast<size_t>(c.parts));
  const size_t line = kKeyLength + PCS_INDEX_OVERHEAD;
  std::vector<char> out(static_cast<size_t>(c.parts) * line);
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < c.parts; ++i) {
      char *key = &keys[static_cast<size_t>(i) * (kKeyLength + 1)];
      std::memcpy(key, c.keys[static_cast<size_t>(i)].data(), kKeyLength + 1);
      records[static_cast<size_t>(i)] = KeyRecord{i * 93, key};
    }
    state.ResumeTiming();
    std::sort(records.begin(), records.end(), [](const KeyRecord &a, const KeyRecord &b) {
      return std::strcmp(a.Key, b.Key) < 0;
    });
    if (!write) continue;
    char *p = out.data();
    for (const KeyRecord &r : records) {
      std::memcpy(p, "   1", 4);
      std::snprintf(p + 4, 13, "%12d", r.RecordOffset);
      std::memcpy(p + 16, "          17", 12);
      std::memcpy(p + 28, r.Key, kKeyLength);
      p[28 + kKeyLength] = '\n';
      p += line;
    }
    FILE *file = std::fopen(work("sorted.idx").c_str(), "wb");
    if (!file || std::fwrite(out.data(), 1, out.size(), file) != out.size()) std::abort();
    std::fclose(file);
  }
  state.SetItemsProcessed(state.iterations() * c.parts);
}
BENCHMARK_CAPTURE(std_sort, alone, false)->Name("baseline: std::sort of the key records")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_CAPTURE(std_sort, write, true)->Name("baseline: std::sort + one write")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Memory of one index build. The host's live bytes while the keys are held
// (sampled by a key reader around csgia: the record space), and the peak
// resident size of a fresh process that builds the index, over that of one
// that indexes a catalog of a single part.
long sampled_live_bytes = 0;
int sampling_reader(const char *path, const int *fields, void *description, const int *widths,
                    int count, int key_length, KeyRecord *records, int *filled) {
  const int rc = csgia(path, fields, description, widths, count, key_length, records, filled);
  sampled_live_bytes = pcs::host::memory().live_bytes;
  return rc;
}

int build_index_file(const char *catalog, const char *index) {
  const int fields = 1, widths[] = {kKeyLength};
  int rc = -1;
  csgbldx(&fields, "PARTNUM ", "PARTNO  ", widths, (std::string(catalog) + " ").c_str(),
          (std::string(index) + " ").c_str(), &rc);
  return rc;
}

// Peak resident size (VmHWM, KiB) of this process.
long peak_kib() {
  FILE *status = std::fopen("/proc/self/status", "r");
  char line[256];
  long kib = -1;
  while (status && std::fgets(line, sizeof line, status))
    if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::atol(line + 6);
  if (status) std::fclose(status);
  return kib;
}

// The number a command line prints, -1 when it fails.
long printed_kib(const std::string &command) {
  FILE *child = popen(command.c_str(), "r");
  long kib = -1;
  if (child && std::fscanf(child, "%ld", &kib) != 1) kib = -1;
  if (child && pclose(child) != 0) kib = -1;
  return kib;
}

std::string self() { return "/proc/" + std::to_string(getpid()) + "/exe"; }

// Peak resident KiB of this program run as `--build-index catalog index`.
long child_peak_kib(const std::string &catalog) {
  return printed_kib(self() + " --build-index " + catalog + " " + work("child.idx"));
}

void index_memory(benchmark::State &state) {
  PartsCatalog &c = parts();
  std::string one;
  append_record(one, {{"PARTNUM ", c.keys[0]}}, 0);
  write_all(work("one.cat"), one);
  long host_bytes = 0, growth_kib = 0;
  for (auto _ : state) {
    void *description = pparynew(1);
    char *entry = static_cast<char *>(gimaloc(PCS_KEY_FIELD));
    std::memcpy(entry, "PARTNUM PARTNO  ", PCS_KEY_FIELD);
    pparystr(description, 0, entry);
    const long before = pcs::host::memory().live_bytes;
    int fields = 1, widths[] = {kKeyLength}, rc = -1;
    csbndx(csgrn, sampling_reader, &fields, description, widths, c.catalog.c_str(),
           work("memory.idx").c_str(), &rc);
    host_bytes = sampled_live_bytes - before;
    pcs::free_key_description(description);
    const long full = child_peak_kib(c.catalog), base = child_peak_kib(work("one.cat"));
    if (rc != 0 || full < 0 || base < 0) state.SkipWithError("index build failed");
    growth_kib = full - base;
  }
  const double key_records = static_cast<double>(c.key_record_bytes());
  state.counters["key_records_MiB"] = key_records / (1 << 20);
  state.counters["host_live_MiB"] = static_cast<double>(host_bytes) / (1 << 20);
  state.counters["peak_rss_growth_MiB"] = static_cast<double>(growth_kib) / 1024;
  state.counters["peak_per_key_records"] = static_cast<double>(growth_kib) * 1024 / key_records;
}
BENCHMARK(index_memory)->Name("csgbldx memory")->Unit(benchmark::kMillisecond)->Iterations(1);

// Peak resident KiB of `argv` run as a child process, -1 when it fails; it
// counts this process's pages at the fork too.
long spawned_peak_kib(std::vector<std::string> args) {
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss;
}

// Runs `command`, which writes `index`, once per iteration, the index
// removed and earlier writes put on disk first.
void timed_runs(benchmark::State &state, const std::vector<std::string> &command,
                const std::string &index, const char *failure) {
  for (auto _ : state) {
    std::remove(index.c_str());
    settle(state);
    if (spawned_peak_kib(command) < 0) state.SkipWithError(failure);
  }
}

// Peak resident KiB of `command` started by a fresh process of this
// program (`--peak-of`): a child's peak counts the pages of the process
// that forked it, so this large one must not.
long fresh_peak_kib(const std::vector<std::string> &command) {
  std::string line = self() + " --peak-of";
  for (const std::string &word : command) line += " " + word;
  return printed_kib(line);
}

// csgbldx alone in a fresh process (this program as `--build-index`): the
// process start and the first touch of its memory that `pcs maint index`
// pays too, and the warm csgbldx above does not.
void process_index(benchmark::State &state) {
  PartsCatalog &c = parts();
  timed_runs(state, {"/proc/self/exe", "--build-index", c.catalog, work("process.idx")},
             work("process.idx"), "csgbldx process failed");
  state.SetItemsProcessed(state.iterations() * c.parts);
}
BENCHMARK(process_index)->Name("csgbldx process")->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// `pcs maint index` of the same catalog as a process, to set beside
// csgbldx above; its peak resident size beside that of a process that runs
// csgbldx alone.
void maint_index(benchmark::State &state) {
  PartsCatalog &c = parts();
  const std::vector<std::string> command = {PCS_TOOL, "maint", "index", c.catalog,
                                            work("tool.idx"), "-k", "PARTNUM.PARTNO:40"};
  timed_runs(state, command, work("tool.idx"), "pcs maint index failed");
  std::remove(work("tool.idx").c_str());
  const long tool_kib = fresh_peak_kib(command), builder_kib = child_peak_kib(c.catalog);
  if (tool_kib < 0 || builder_kib < 0) state.SkipWithError("peak resident size not measured");
  state.counters["peak_rss_MiB"] = static_cast<double>(tool_kib) / 1024;
  state.counters["csgbldx_peak_rss_MiB"] = static_cast<double>(builder_kib) / 1024;
  state.counters["peak_rss_per_csgbldx"] =
      builder_kib > 0 ? static_cast<double>(tool_kib) / static_cast<double>(builder_kib) : 0;
  state.SetItemsProcessed(state.iterations() * c.parts);
}
BENCHMARK(maint_index)->Name("pcs maint index")->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// ---- compression ---------------------------------------------------------

struct BigCatalog {
  long megabytes = env_number("PCS_BENCH_CATALOG_MB", 256);
  std::string source = work("big.cat"), target = work("big.work");
  size_t size = 0;
  // Written a megabyte at a time: a quarter gigabyte built in memory and
  // freed just before the timed runs made the next large writes of the
  // virtual machine slow (memory it gave back had to be taken again).
  BigCatalog() {
    std::mt19937_64 rng(11);
    std::string bytes;
    const size_t limit = static_cast<size_t>(megabytes) << 20;
    FILE *file = std::fopen(source.c_str(), "wb");
    while (file && size < limit) {
      std::string value(200 + rng() % 1800, 'v');
      append_record(bytes, {{"PARTNUM ", value}}, rng() % 10 == 0 ? 1 : 0);
      if (bytes.size() < (1 << 20) && size + bytes.size() < limit) continue;
      if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
      size += bytes.size();
      bytes.clear();
    }
    if (!file || std::fclose(file) != 0) std::abort();
  }
};
void copy_file(const std::string &from, const std::string &to) {
  if (std::system(("cp " + from + " " + to).c_str()) != 0) std::abort();
}

// The catalog, on disk and copied once before anything is timed: its own
// write-back would otherwise run beside the first timed runs, and the
// first write of a few hundred MiB into the page cache of a fresh virtual
// machine took up to ten times as long as the next ones; either would
// burden whichever side ran first.
BigCatalog &big() {
  static BigCatalog c;
  static const bool warm = [] {
    copy_file(c.source, c.target);
    return std::system(("sync " + c.source + " " + c.target).c_str()) == 0;
  }();
  if (!warm) std::abort();
  return c;
}

void compress(benchmark::State &state) {
  BigCatalog &c = big();
  // cscprs names its files on standard output.
  std::fflush(stdout);
  const int saved = dup(1), null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  for (auto _ : state) {
    state.PauseTiming();
    // The copy to compress is put on disk first, so that the timed run
    // does not wait for the write-back of this preparation.
    copy_file(c.source, c.target);
    put_on_disk();
    state.ResumeTiming();
    int rc = -1;
    cscprs(c.target.c_str(), &rc);
    if (rc != 0) state.SkipWithError("cscprs failed");
  }
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(null);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.size));
}
BENCHMARK(compress)->Name("cscprs")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void cp_baseline(benchmark::State &state) {
  BigCatalog &c = big();
  for (auto _ : state) {
    settle(state);
    copy_file(c.source, c.target);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.size));
}
BENCHMARK(cp_baseline)->Name("baseline: cp")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void cp_sync_baseline(benchmark::State &state) {
  BigCatalog &c = big();
  const std::string command = "cp " + c.source + " " + c.target + " && sync " + c.target;
  for (auto _ : state) {
    settle(state);
    if (std::system(command.c_str()) != 0) std::abort();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(c.size));
}
BENCHMARK(cp_sync_baseline)->Name("baseline: cp + sync")->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--peak-of") == 0) {
    const long kib = spawned_peak_kib(std::vector<std::string>(argv + 2, argv + argc));
    std::printf("%ld\n", kib);
    return kib < 0 ? 1 : 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "--build-index") == 0) {
    if (build_index_file(argv[2], argv[3]) != 0) return 1;
    std::printf("%ld\n", peak_kib());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
