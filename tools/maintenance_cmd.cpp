// Catalog maintenance commands (`pcs maint ...`): build an index for a
// catalog by key fields, rebuild the project's indexes of a catalog kind,
// compress a catalog and rebuild the indexes known for it, split a table
// dump. Each looks at its files before it changes one. Long runs show
// progress on a terminal and stay quiet otherwise.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/host_model.h"
#include "host/inprocess/tools.h"
#include "include/pcs.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/index_build.h"
#include "tools/maint.h"
#include "tools/progress.h"

namespace pcs::tools {
namespace {

namespace host_tools = pcs::host::tools;

long long file_size(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

// The size of `path` against `total` bytes.
Amount growth(const std::string &path, long long total) {
  return {file_size(path), total};
}

// While a catalog is compressed: how much of `total` bytes its copy
// "<catalog>.bak-XXXXXX" (a fresh name each run) holds so far.
std::function<Amount()> copy_growth(std::string catalog, long long total) {
  return [catalog = std::move(catalog), total, start = std::filesystem::file_time_type::clock::now()] {
    const std::filesystem::path target(catalog);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string prefix = target.filename().string() + ".bak-";
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
      std::error_code ignored;
      if (entry.path().filename().string().rfind(prefix, 0) == 0 &&
          entry.last_write_time(ignored) >= start)
        return growth(entry.path().string(), total);
    }
    return Amount{};
  };
}

// While an index is built: nothing known while the keys are read, then the
// part of the index written, from the record count in its header.
std::function<Amount()> index_growth(std::string path) {
  return [path = std::move(path), start = std::filesystem::file_time_type::clock::now()] {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    char header[PCS_INDEX_HEADER + 1] = {};
    FILE *index = error || written < start ? nullptr : std::fopen(path.c_str(), "rb");
    const size_t got = index ? std::fread(header, 1, PCS_INDEX_HEADER, index) : 0;
    if (index) std::fclose(index);
    if (got != PCS_INDEX_HEADER) return Amount{};
    const long long records = std::atoll(std::string(header, 12).c_str());
    const long long key_length = std::atoll(header + 12);
    return growth(path, PCS_INDEX_HEADER + records * (key_length + PCS_INDEX_OVERHEAD));
  };
}

struct Options {
  std::string catalog, index, project, dump, directory;
  std::vector<std::string> keys, indexes;
  int kind = 0;
  bool force = false, no_reindex = false;
};
Options options;

bool is_index(const std::string &path) {
  FILE *index = std::fopen(path.c_str(), "rb");
  int length = 0, rc = 1;
  if (index) csailn(&index, &length, &rc);
  if (index) std::fclose(index);
  return rc == 0;
}

}  // namespace

// An index path must not name the catalog, and a file that is not an index
// is replaced only with --force.
void check_index_path(const std::string &catalog, const std::string &index, bool force) {
  if (catalog.size() > PCS_PATH_MAX || index.size() > PCS_PATH_MAX)
    fail(index + ": paths are limited to 255 characters");
  if (catalog.find(' ') != std::string::npos || index.find(' ') != std::string::npos)
    fail(index + ": catalog and index paths cannot hold blanks", kUsage);
  // The index builder replaces the file atomically by itself.
  Outputs({catalog}, force).check(index, is_index(index) ? Outputs::kReplace : Outputs::kNeedsForce);
}

// Builds one index; the catalog's keys were scanned already.
void write_index(const std::string &catalog_path, const std::string &index_path,
                 const std::vector<KeyField> &fields) {
  std::string groups, attributes;
  std::vector<int> widths;
  for (const KeyField &f : fields) {
    groups += name_field(f.group);
    attributes += name_field(f.attribute);
    widths.push_back(f.length);
  }
  int count = static_cast<int>(widths.size()), rc = 0, error = 0;
  const std::string catalog = catalog_path + " ", index = index_path + " ";
  {
    FollowedProgress progress("indexing " + catalog_path, index_growth(index_path));
    errno = 0;
    csgbldx(&count, groups.data(), attributes.data(), widths.data(), catalog.c_str(), index.c_str(),
            &rc);
    error = errno;
  }
  if (rc != 0)
    fail(catalog_path + ": cannot build the index " + index_path +
         cause("csgbldx", rc, rc == 5 || rc == 6 ? error : 0));
}

namespace {

void build_index(const Options &o) {
  require_file(o.catalog);
  check_index_path(o.catalog, o.index, o.force);
  const std::vector<KeyField> fields = key_fields(o.keys);
  IndexSummary built;
  {
    FollowedProgress progress("indexing " + o.catalog, index_growth(o.index));
    built = build_index_once(o.catalog, o.index, fields);
  }
  print_summary(static_cast<size_t>(built.read), built.duplicates, built.deleted, built.blank);
  if (built.blank > 0)
    std::fprintf(stderr, "pcs: warning: %d record(s) of %s have a blank key\n", built.blank,
                 o.catalog.c_str());
  note(o.catalog + ": index " + o.index + " written", {{"catalog", o.catalog}, {"index", o.index}});
}

// Fails with the project's load error when the code says it could not be read.
void project_failure(int rc) {
  if (rc == PCS_HOST_NO_PROJECT || rc == PCS_HOST_BAD_PROJECT)
    fail(host_tools::project_path() + ": cannot read the project: " + host_tools::project_error());
}

void reindex(const Options &o) {
  use_project(o.project);
  int kind = o.kind, rc = 0;
  {
    FollowedProgress progress("rebuilding the indexes of kind " + std::to_string(kind),
                              [] { return Amount{}; });
    cscprt2(&kind, &rc);
  }
  project_failure(rc);
  if (rc != 0)
    fail(host_tools::project_path() + ": cannot rebuild the indexes" + cause("cscprt2", rc));
  note("indexes of catalog kind " + std::to_string(kind) + " rebuilt",
       {{"project", host_tools::project_path()}, {"kind", kind}});
}

// An index given to compress as PATH=GROUP.ATTR:LENGTH[,GROUP.ATTR:LENGTH...].
struct IndexSpec {
  std::string path;
  std::vector<KeyField> fields;
};

IndexSpec parse_index_spec(const std::string &text) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0)
    fail("index \"" + text + "\" is not PATH=GROUP.ATTR:LENGTH[,...]", kUsage);
  IndexSpec spec{text.substr(0, equals), {}};
  std::string rest = text.substr(equals + 1);
  for (size_t at = 0; at <= rest.size();) {
    const size_t comma = std::min(rest.find(',', at), rest.size());
    spec.fields.push_back(parse_key_field(rest.substr(at, comma - at)));
    at = comma + 1;
  }
  return spec;
}

// The catalog kinds whose source catalog the project setup names, by the
// number of the source among the catalog's names (counted from the end).
struct KindSource {
  int kind;
  int entry;
};
constexpr KindSource kKindSources[] = {{0, 9}, {1, 5}, {2, 3}};

// The kinds whose source is `catalog` in the current project; empty (and a
// note in `why`) when the project cannot say.
std::vector<int> project_kinds(const std::string &catalog, std::string *why) {
  if (int rc = host_tools::load_project(); rc != 0) {
    *why = host_tools::project_path() + " cannot be read: " + host_tools::project_error();
    return {};
  }
  int id = 0, names = 0, rc = 0, size = 0, count = 0;
  csnames(&id, &names, &rc);
  if (rc != 0) {
    *why = "the project names no catalog" + code_text(rc);
    return {};
  }
  gusinf(&names, &size, &count, &rc);
  std::vector<int> kinds;
  std::vector<char> entry(static_cast<size_t>(size) + 1, '\0');
  for (const KindSource &source : kKindSources) {
    int number = source.entry;
    if (number > count) continue;
    gusrea(&names, &number, entry.data(), &rc);
    if (rc == 0 && same_file(catalog, entry.data())) kinds.push_back(source.kind);
  }
  gusend(&names, &rc);
  if (kinds.empty()) *why = "the project " + host_tools::project_path() + " does not list it";
  return kinds;
}

void rebuild_project_indexes(const std::string &catalog, const std::vector<int> &kinds) {
  for (int kind : kinds) {
    int rc = 0;
    cscprt2(&kind, &rc);
    if (rc != 0)
      fail(catalog + ": compressed, but the project's indexes of catalog kind " +
           std::to_string(kind) + " could not be rebuilt and are stale" + cause("cscprt2", rc));
    note(catalog + ": the project's indexes of catalog kind " + std::to_string(kind) + " rebuilt",
         {{"kinds_rebuilt", nlohmann::json::array({kind})}});
  }
}

// Index files beside the catalog whose every record points at a record
// start of it: those compression leaves stale.
std::vector<std::string> indexes_beside(const std::string &catalog) {
  std::set<int64_t> starts;
  walk_records(catalog, 16, [&](FILE *, const RecordStep &at) { starts.insert(at.offset); });
  const std::filesystem::path folder = std::filesystem::path(catalog).parent_path();
  std::vector<std::string> found;
  std::error_code error;
  for (const auto &entry :
       std::filesystem::directory_iterator(folder.empty() ? "." : folder, error)) {
    const std::string path = entry.path().string();
    if (!entry.is_regular_file() || same_file(path, catalog) || !is_index(path)) continue;
    FILE *index = std::fopen(path.c_str(), "rb");
    int length = 0, rc = 0, data = 0, records = 0;
    if (index) csailn(&index, &length, &rc);
    std::string key(static_cast<size_t>(std::max(length - PCS_INDEX_OVERHEAD, 0)), ' ');
    bool points_in = index != nullptr && rc == 0;
    for (int at = PCS_INDEX_HEADER; points_in; at += length, ++records) {
      if (cspgread(index, at, &data, key.data(), &rc) == 0 || rc != 0) break;
      points_in = starts.count(data) != 0;
    }
    if (index) std::fclose(index);
    if (points_in && records > 0) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}

void compress(const Options &o) {
  require_file(o.catalog);
  use_project(o.project);
  std::vector<IndexSpec> specs;
  for (const std::string &text : o.indexes) {
    specs.push_back(parse_index_spec(text));
    check_index_path(o.catalog, specs.back().path, o.force);
    readable_scan(o.catalog, specs.back().fields, false);  // compression keeps the live records
  }
  std::string why;
  const std::vector<int> kinds = project_kinds(o.catalog, &why);
  if (kinds.empty() && specs.empty() && !o.no_reindex)
    fail(o.catalog + ": compression moves the records, and no index of it is known to rebuild (" +
         why + "); name its indexes with --index PATH=GROUP.ATTR:LENGTH, or give --no-reindex "
         "to leave them stale; nothing changed");
  const std::vector<std::string> stale = o.no_reindex ? indexes_beside(o.catalog)
                                                      : std::vector<std::string>{};
  int rc = 0;
  const long long before = file_size(o.catalog);
  {
    FollowedProgress progress("compressing " + o.catalog, copy_growth(o.catalog, before));
    QuietOutput quiet(1);
    cscprs(o.catalog.c_str(), &rc);
  }
  std::fflush(stdout);
  if (rc != 0) fail(o.catalog + ": cannot compress the catalog" + cause("cscprs", rc));
  const long long after = file_size(o.catalog);
  note(o.catalog + ": compressed from " + std::to_string(before) + " to " + std::to_string(after) +
           " bytes",
       {{"catalog", o.catalog}, {"bytes_before", before}, {"bytes_after", after},
        {"kinds_rebuilt", nlohmann::json::array()}, {"indexes_rebuilt", nlohmann::json::array()},
        {"stale", nlohmann::json::array()}});
  rebuild_project_indexes(o.catalog, kinds);
  for (const IndexSpec &spec : specs) {
    write_index(o.catalog, spec.path, spec.fields);
    note(o.catalog + ": index " + spec.path + " rebuilt", {{"indexes_rebuilt", nlohmann::json::array({spec.path})}});
  }
  if (!kinds.empty() || !specs.empty()) return;
  note("", {{"stale", stale}});
  for (const std::string &index : stale)
    std::fprintf(stderr,
                 "pcs: warning: %s is now stale: rebuild it (pcs maint index %s %s -k "
                 "GROUP.ATTR:LENGTH)\n",
                 index.c_str(), o.catalog.c_str(), index.c_str());
  if (stale.empty())
    std::fprintf(stderr, "pcs: warning: %s: record offsets changed; every index of it is stale\n",
                 o.catalog.c_str());
}

// Checks each table file the dump names (columns 10 up to a blank of a
// line) as an output in the directory.
void check_tables(const Options &o) {
  Outputs outputs({o.dump}, o.force);
  std::ifstream in(o.dump);
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 19) continue;
    const std::string name = line.substr(9, line.find(' ', 9) - 9);
    if (!name.empty()) outputs.check(o.directory + "/" + name, Outputs::kNeedsForce);
  }
}

void split_dump(const Options &o) {
  if (o.dump.size() > 45) fail(o.dump + ": the dump path is limited to 45 characters");
  if (o.directory.size() > 40)
    fail(o.directory + ": the directory path is limited to 40 characters");
  check_tables(o);
  const std::string dump = name_field(o.dump, 45), directory = name_field(o.directory, 40);
  int rc = 0;
  errno = 0;
  cstabl(dump.c_str(), directory.c_str(), &rc);
  const int error = errno;
  std::fflush(stdout);
  if (rc != 0)
    fail(o.dump + ": cannot split the dump into " + o.directory +
         cause("cstabl", rc, rc == 1 ? error : 0));
}

}  // namespace

void require_file(const std::string &path) {
  if (!std::filesystem::is_regular_file(path)) fail(path + ": no such file");
}

void use_project(const std::string &project) {
  if (!project.empty()) host_tools::use_project(project);
}

KeyScan readable_scan(const std::string &catalog, const std::vector<KeyField> &fields,
                      bool collapse) {
  KeyScan scan = scan_keys(catalog, fields, collapse);
  if (scan.end.kind != WalkEnd::clean)
    fail(catalog + ": " + scan.end.text() + "; nothing changed (see pcs check and pcs repair)");
  if (scan.unreadable > 0)
    fail(catalog + ": " + std::to_string(scan.unreadable) +
         " damaged record(s); nothing changed (pcs check shows where)");
  require_carried(scan, fields, catalog);
  return scan;
}

void print_summary(size_t read, int duplicates, int deleted, int blank) {
  note("records read: " + std::to_string(read) + ", duplicates: " + std::to_string(duplicates) +
           ", deleted: " + std::to_string(deleted) + ", blank keys: " + std::to_string(blank),
       {{"records_read", read}, {"duplicates", duplicates}, {"deleted", deleted}, {"blank_keys", blank}});
}

void print_summary(const KeyScan &scan, int deleted) {
  print_summary(scan.records.size(), scan.duplicates(), deleted, scan.blank_keys());
}

namespace {
nlohmann::json report = nlohmann::json::object();
}  // namespace

void note(const std::string &line, const nlohmann::json &fields) {
  if (!json_output()) {
    if (!line.empty()) std::printf("%s\n", line.c_str());
    return;
  }
  for (const auto &[name, value] : fields.items()) {
    nlohmann::json &kept = report[name];
    if (kept.is_array() && value.is_array()) kept.insert(kept.end(), value.begin(), value.end());
    else kept = value;
  }
}

void finish_report() {
  if (json_output() && !report.empty()) print_json(report);
  report = nlohmann::json::object();
}

namespace {

Register reg([](CLI::App &app) {
  CLI::App *maint = app.add_subcommand(
      "maint", "Catalog maintenance: indexes, duplicate parts, compression, table dumps");
  maint->require_subcommand(1);
  Options &o = options;

  CLI::App *index =
      maint->add_subcommand("index", "Build the sorted index of a catalog by key fields");
  index->add_option("catalog", o.catalog, "Catalog file")->required();
  index->add_option("index", o.index, "Index file to write")->required();
  index->add_option("-k,--key", o.keys, "Key field GROUP.ATTR:LENGTH, in key order")->required();
  index->add_flag("--force", o.force, "Replace an existing file that is not an index");
  add_json_flag(index);
  index->callback([] {
    build_index(options);
    finish_report();
  });

  CLI::App *reindex_cmd = maint->add_subcommand(
      "reindex", "Rebuild the index files of the project's catalogs of one kind");
  reindex_cmd->add_option("--kind", o.kind, "Catalog kind: 0 parts, 1 classes, 2 symbols")
      ->required();
  reindex_cmd->add_option("--project", o.project,
                          "Project database (default: $PCS_PROJECT or ./project.db)");
  add_json_flag(reindex_cmd);
  reindex_cmd->callback([] {
    reindex(options);
    finish_report();
  });

  add_merge_command(maint);

  CLI::App *compress_cmd = maint->add_subcommand(
      "compress",
      "Drop the deleted records of a catalog, then rebuild the indexes the project names for it "
      "and those given with --index");
  compress_cmd->add_option("catalog", o.catalog, "Catalog file")->required();
  compress_cmd->add_option(
      "--index", o.indexes,
      "Index to rebuild after, as PATH=GROUP.ATTR:LENGTH[,GROUP.ATTR:LENGTH...]");
  compress_cmd->add_option("--project", o.project,
                           "Project database (default: $PCS_PROJECT or ./project.db)");
  compress_cmd->add_flag("--force", o.force, "Replace an --index file that is not an index");
  compress_cmd->add_flag("--no-reindex", o.no_reindex,
                         "Compress also when no index is known to rebuild; name the index files "
                         "beside the catalog that are stale after");
  add_json_flag(compress_cmd);
  compress_cmd->callback([] {
    compress(options);
    finish_report();
  });

  CLI::App *split =
      maint->add_subcommand("split-dump", "Split a positional table dump into one file per table");
  split->add_option("dump", o.dump, "Dump file (at most 45 characters)")->required();
  split->add_option("directory", o.directory, "Output directory (at most 40 characters)")
      ->required();
  split->add_flag("--force", o.force, "Replace existing table files");
  split->callback([] { split_dump(options); });
});

}  // namespace
}  // namespace pcs::tools
