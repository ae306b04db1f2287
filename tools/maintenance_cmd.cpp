// Catalog maintenance commands (`pcs maint ...`): build an index for a
// catalog by key fields, rebuild the project's indexes of a catalog kind,
// merge duplicate parts, compress a catalog, split a table dump. Long runs
// show progress on a terminal and stay quiet otherwise.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/host_test.h"
#include "host/model_test.h"
#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tool {
namespace {

namespace model = pcs::host::model;

long long file_size(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// Shows "pcs: <what> <state>" on standard error, refreshed twice a second,
// while a long call runs; nothing when standard error is not a terminal.
class Progress {
 public:
  Progress(std::string what, std::function<std::string()> state) {
    if (!interactive()) return;
    worker_ = std::thread([this, what = std::move(what), state = std::move(state)] {
      const auto start = std::chrono::steady_clock::now();
      while (!done_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (done_) break;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        std::fprintf(stderr, "\rpcs: %s %s %llds ", what.c_str(), state().c_str(),
                     static_cast<long long>(seconds));
        shown_ = true;
      }
    });
  }
  ~Progress() {
    done_ = true;
    if (worker_.joinable()) worker_.join();
    if (shown_) std::fprintf(stderr, "\r\033[K");
  }
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> shown_{false};
  std::thread worker_;
};

// Percentage of `total` bytes that `path` holds so far.
std::function<std::string()> growth(std::string path, long long total) {
  return [path = std::move(path), total] {
    const long long size = file_size(path);
    if (size < 0 || total <= 0) return std::string("...");
    return std::to_string(size * 100 / total) + "%";
  };
}

// While an index is built: "reading keys" until the index file is written
// anew, then the part of it written, from the record count in its header.
std::function<std::string()> index_growth(std::string path) {
  return [path = std::move(path), start = std::filesystem::file_time_type::clock::now()] {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    char header[PCS_INDEX_HEADER + 1] = {};
    FILE *index = error || written < start ? nullptr : std::fopen(path.c_str(), "rb");
    const size_t got = index ? std::fread(header, 1, PCS_INDEX_HEADER, index) : 0;
    if (index) std::fclose(index);
    if (got != PCS_INDEX_HEADER) return std::string("reading keys");
    const long long records = std::atoll(std::string(header, 12).c_str());
    const long long key_length = std::atoll(header + 12);
    return "writing " + growth(path, PCS_INDEX_HEADER + records * (key_length + PCS_INDEX_OVERHEAD))();
  };
}

struct Options {
  std::string catalog, index, project, dump, directory;
  std::vector<std::string> keys;
  int kind = 0;
  bool newest = false;
  std::string group = "PARTNUM", attribute = "PARTNO";
  int key_length = 40;
};
Options options;

void require_file(const std::string &path) {
  if (!std::filesystem::is_regular_file(path)) fail(path + ": no such file");
}

void build_index(const Options &o) {
  require_file(o.catalog);
  if (o.catalog.size() > PCS_PATH_MAX || o.index.size() > PCS_PATH_MAX)
    fail(o.catalog + ": paths are limited to 255 characters");
  if (o.catalog.find(' ') != std::string::npos || o.index.find(' ') != std::string::npos)
    fail(o.catalog + ": catalog and index paths cannot hold blanks", kUsage);
  std::string groups, attributes;
  std::vector<int> widths;
  for (const std::string &spec : o.keys) {
    const KeyField f = parse_key_field(spec);
    groups += name_field(f.group);
    attributes += name_field(f.attribute);
    widths.push_back(f.length);
  }
  int fields = static_cast<int>(widths.size()), rc = 0;
  const std::string catalog = o.catalog + " ", index = o.index + " ";
  {
    Progress progress("indexing " + o.catalog, index_growth(o.index));
    csgbldx(&fields, groups.data(), attributes.data(), widths.data(), catalog.c_str(),
            index.c_str(), &rc);
  }
  if (rc != 0) fail(o.catalog + ": cannot build the index " + o.index + code_text(rc));
  std::printf("%s: index %s written\n", o.catalog.c_str(), o.index.c_str());
}

void use_project(const Options &o) {
  if (!o.project.empty()) model::set_project_path(o.project);
}

void reindex(const Options &o) {
  use_project(o);
  int kind = o.kind, rc = 0;
  {
    Progress progress("rebuilding the indexes of kind " + std::to_string(kind),
                      [] { return std::string("..."); });
    cscprt2(&kind, &rc);
  }
  if (rc == PCS_HOST_NO_PROJECT || rc == PCS_HOST_BAD_PROJECT)
    fail(model::project_path() + ": cannot read the project: " + model::load_error());
  if (rc != 0) fail(model::project_path() + ": cannot rebuild the indexes" + code_text(rc));
  std::printf("indexes of catalog kind %d rebuilt\n", kind);
}

void merge_duplicates(const Options &o) {
  require_file(o.catalog);
  use_project(o);
  const int unit = 6;
  model::set_unit_file(unit, stdout);
  const std::string group = name_field(o.group), attribute = name_field(o.attribute);
  if (o.key_length < 1 || o.key_length > 63) fail("the key length must be 1 to 63", kUsage);
  csprtdup(o.newest ? 1 : 0, o.catalog.c_str(), &unit, group.c_str(), attribute.c_str(),
           o.key_length);
  std::fflush(stdout);
  model::set_unit_file(unit, nullptr);
  for (const model::Call &call : model::calls()) {
    if (call.rc != 0 && !(call.service == "gldobj" && call.rc == PCS_HOST_NO_PART_OBJECT))
      fail(o.catalog + ": the merge stopped: " + call.service + " failed" + code_text(call.rc));
  }
  // Model objects that went with removed parts are gone from the project too.
  bool removed = false;
  for (const model::Call &call : model::calls_of("gldobj")) removed = removed || call.rc == 0;
  if (removed) {
    if (int rc = model::save(model::project_path()))
      fail("cannot save the project: " + model::load_error() + code_text(rc));
  }
}

void compress(const Options &o) {
  require_file(o.catalog);
  int rc = 0;
  {
    Progress progress("compressing " + o.catalog,
                      growth(o.catalog + ".bak", file_size(o.catalog)));
    cscprs(o.catalog.c_str(), &rc);
  }
  std::fflush(stdout);
  if (rc != 0) fail(o.catalog + ": cannot compress the catalog" + code_text(rc));
}

void split_dump(const Options &o) {
  if (o.dump.size() > 45) fail(o.dump + ": the dump path is limited to 45 characters");
  if (o.directory.size() > 40)
    fail(o.directory + ": the directory path is limited to 40 characters");
  const std::string dump = name_field(o.dump, 45), directory = name_field(o.directory, 40);
  int rc = 0;
  cstabl(dump.c_str(), directory.c_str(), &rc);
  std::fflush(stdout);
  if (rc == 1) fail(o.dump + ": cannot read the dump or write a table into " + o.directory);
  if (rc == 2) fail(o.dump + ": the dump has no header line");
}

Register reg([](CLI::App &app) {
  CLI::App *maint = app.add_subcommand(
      "maint", "Catalog maintenance: indexes, duplicate parts, compression, table dumps");
  maint->require_subcommand(1);
  Options &o = options;

  CLI::App *index = maint->add_subcommand("index", "Build the sorted index of a catalog by key fields");
  index->add_option("catalog", o.catalog, "Catalog file")->required();
  index->add_option("index", o.index, "Index file to write")->required();
  index->add_option("-k,--key", o.keys, "Key field GROUP.ATTR:LENGTH, in key order")->required();
  index->callback([] { build_index(options); });

  CLI::App *reindex_cmd = maint->add_subcommand(
      "reindex", "Rebuild the index files of the project's catalogs of one kind");
  reindex_cmd->add_option("--kind", o.kind, "Catalog kind: 0 parts, 1 classes, 2 symbols")
      ->required();
  reindex_cmd->add_option("--project", o.project, "Project database (default: $PCS_PROJECT or ./project.db)");
  reindex_cmd->callback([] { reindex(options); });

  CLI::App *merge = maint->add_subcommand(
      "merge", "Keep one record per part number, report each removal on standard output");
  merge->add_option("catalog", o.catalog, "Catalog file")->required();
  merge->add_flag("--newest", o.newest, "Keep the newest record (default: the oldest)");
  merge->add_option("--group", o.group, "Group of the key attribute")->capture_default_str();
  merge->add_option("--attribute", o.attribute, "Key attribute")->capture_default_str();
  merge->add_option("--key-length", o.key_length, "Key length, 1 to 63")->capture_default_str();
  merge->add_option("--project", o.project, "Project database (default: $PCS_PROJECT or ./project.db)");
  merge->callback([] { merge_duplicates(options); });

  CLI::App *compress_cmd =
      maint->add_subcommand("compress", "Drop the deleted records of a catalog (rebuild its indexes after)");
  compress_cmd->add_option("catalog", o.catalog, "Catalog file")->required();
  compress_cmd->callback([] { compress(options); });

  CLI::App *split = maint->add_subcommand("split-dump", "Split a positional table dump into one file per table");
  split->add_option("dump", o.dump, "Dump file (at most 45 characters)")->required();
  split->add_option("directory", o.directory, "Output directory (at most 40 characters)")->required();
  split->callback([] { split_dump(options); });
});

}  // namespace
}  // namespace pcs::tool
