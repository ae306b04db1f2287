// `pcs check FILE...` walks catalogs, index files (against the catalog named
// before them) and keyed group files (with -k, their key description), and
// reports every damaged place with its offset. `pcs repair FILE` removes a
// torn last record, one whose length runs past the end of the file, after
// copying the file to a backup; it touches nothing else.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "include/pcs.h"
#include "tools/catalog_scan.h"
#include "tools/command.h"

namespace pcs::tool {
namespace {

// Damage found in one file, printed as it is found.
class Findings {
 public:
  explicit Findings(std::string file) : file_(std::move(file)) {}
  void at(int64_t offset, const std::string &what) {
    std::printf("%s: offset %lld: %s\n", file_.c_str(), static_cast<long long>(offset),
                what.c_str());
    ++count_;
  }
  // The walk's end when it stopped at damage.
  void end(const WalkEnd &end) {
    if (end.kind != WalkEnd::clean) at(end.offset, end.reason());
  }
  int count() const { return count_; }

 private:
  std::string file_;
  int count_ = 0;
};

// Index files start with a text header "%12d%4d\n"; catalogs with a binary
// length word.
bool looks_like_index(const std::string &path) {
  char header[PCS_INDEX_HEADER] = {};
  FILE *file = std::fopen(path.c_str(), "rb");
  const size_t got = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  if (got != sizeof header || header[PCS_INDEX_HEADER - 1] != '\n') return false;
  return std::strspn(header, " -0123456789") == PCS_INDEX_HEADER - 1;
}

bool ends_with_newline(FILE *stream, const RecordStep &at) {
  std::fseek(stream, static_cast<long>(at.offset + at.length - 1), SEEK_SET);
  return std::fgetc(stream) == '\n';
}

// Record starts of a checked catalog.
using Starts = std::set<int64_t>;

Starts check_catalog(const std::string &path, Findings &found) {
  Starts starts;
  found.end(walk_records(path, 16, [&](FILE *stream, const RecordStep &at) {
    starts.insert(at.offset);
    if (at.flag != 0 && at.flag != 1)
      found.at(at.offset, "flag word " + std::to_string(at.flag) + " is neither 0 (live) nor 1 (deleted)");
    if (!ends_with_newline(stream, at)) found.at(at.offset, "the record does not end with a newline");
    int length = 0, rc = 0;
    PartRecord *part = at.flag == 0 ? cspgetrc(stream, static_cast<int>(at.offset), &length, &rc) : nullptr;
    if (at.flag == 0 && !part)
      found.at(at.offset, "an offset, count or size of the record leaves it (or memory ran out)");
    cspgfre(part);
  }));
  return starts;
}

// The records of one key in an index, checked when the key changes.
struct Run {
  std::string key;
  int64_t first = 0;
  std::vector<std::pair<int64_t, int>> counts;  // offset, count field
  bool unreadable = false;  // a record inside it could not be read
};

void check_run(FILE *index, const Run &run, Findings &found) {
  if (run.counts.empty() || run.unreadable) return;
  const int records = static_cast<int>(run.counts.size());
  for (const auto &[offset, count] : run.counts) {
    if (count != records)
      found.at(offset, "count field " + std::to_string(count) + ", but the key has " +
                           std::to_string(records) + " record(s)");
  }
  int count = 0, first = 0, rc = 0;
  csalku(&index, run.key.data(), &count, &first, &rc);
  if (rc != 0 || first != run.first)
    found.at(run.first, "the key's first-record field does not point at its first record");
}

void check_index(const std::string &path, const std::string &catalog, const Starts &starts,
                 Findings &found) {
  FILE *index = std::fopen(path.c_str(), "rb");
  if (!index) fail(path + ": cannot open the file: " + std::strerror(errno));
  int record_length = 0, rc = 0;
  csailn(&index, &record_length, &rc);
  if (rc != 0) {
    found.at(0, "the header's record count and key length do not match the file's size");
    std::fclose(index);
    return;
  }
  const size_t key_length = static_cast<size_t>(record_length - PCS_INDEX_OVERHEAD);
  std::string key(key_length, ' ');
  Run run;
  std::fseek(index, 0, SEEK_END);
  const long end = std::ftell(index);
  for (int at = csidxfst(); at < end; at += record_length) {
    int data = 0;
    const int count = cspgread(index, at, &data, key.data(), &rc);
    if (rc != 0) {
      found.at(at, "the number fields are not numbers");
      run.unreadable = true;
      continue;
    }
    if (!ends_with_newline(index, {at, record_length, 0}))
      found.at(at, "the index record does not end with a newline");
    if (starts.count(data) == 0)
      found.at(at, "catalog offset " + std::to_string(data) + " is not the start of a record of " + catalog);
    if (!run.counts.empty() && key != run.key) {
      if (std::memcmp(key.data(), run.key.data(), key_length) < 0)
        found.at(at, "the key is below the key before it: the index is not sorted");
      check_run(index, run, found);
      run = Run{};
    }
    if (run.counts.empty()) run = Run{key, at, {}};
    run.counts.emplace_back(at, count);
  }
  check_run(index, run, found);
  std::fclose(index);
}

void check_keyed(const std::string &path, const std::vector<KeyField> &fields, Findings &found) {
  std::map<std::string, int64_t> keys;
  found.end(walk_records(path, 12, [&](FILE *stream, const RecordStep &at) {
    KeyedGroup *list = nullptr;
    int position = static_cast<int>(at.offset), length = 0, rc = 0;
    cspgtr(&stream, &position, &length, &list, &rc);
    bool complete = true;
    const std::string key = rc == 0 ? keyed_key(fields, &list, &complete) : "";
    cspfre(&list);
    if (rc == 1) fail(path + ": cannot check the file" + code_text(PCS_NO_MEMORY));
    if (rc != 0 && rc != 7)
      found.at(at.offset, "the record is damaged (an offset, count or length leaves it, or no closing newline)");
    if (rc != 0) return;
    if (!complete)
      found.at(at.offset, "a key attribute is missing or not as long as its key field");
    else if (const auto [it, added] = keys.emplace(key, at.offset); !added)
      found.at(at.offset, "the live record at offset " + std::to_string(it->second) + " has the same key");
  }));
}

struct CheckOptions {
  std::vector<std::string> files, keys;
};
CheckOptions check_options;

void check(const CheckOptions &o) {
  const std::vector<KeyField> fields = [&] {
    std::vector<KeyField> parsed;
    for (const std::string &spec : o.keys) parsed.push_back(parse_key_field(spec));
    return parsed;
  }();
  std::string catalog;
  Starts starts;
  int damaged = 0;
  for (const std::string &path : o.files) {
    Findings found(path);
    if (!fields.empty()) {
      check_keyed(path, fields, found);
    } else if (looks_like_index(path)) {
      if (catalog.empty()) fail(path + ": an index is checked against its catalog: name the catalog before it", kUsage);
      check_index(path, catalog, starts, found);
    } else {
      starts = check_catalog(path, found);
      catalog = path;
    }
    if (found.count() == 0) std::printf("%s: no damage found\n", path.c_str());
    damaged += found.count();
  }
  if (damaged > 0) fail(std::to_string(damaged) + " damaged place(s) found");
}

// Copies `path` to `backup`, which must not exist yet, and syncs the copy.
void copy_to_backup(const std::string &path, const std::string &backup) {
  const int in = open(path.c_str(), O_RDONLY);
  if (in < 0) fail(path + ": cannot open the file: " + std::strerror(errno));
  const int out = open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
  if (out < 0) {
    const int error = errno;
    close(in);
    fail(backup + ": cannot create the backup (nothing removed): " + std::strerror(error));
  }
  char buffer[65536];
  ssize_t got = 0;
  bool written = true;
  while (written && (got = read(in, buffer, sizeof buffer)) > 0)
    written = write(out, buffer, static_cast<size_t>(got)) == got;
  const int error = errno;
  const bool ok = written && got == 0 && fsync(out) == 0;
  close(in);
  if (close(out) != 0 || !ok) {
    unlink(backup.c_str());
    fail(backup + ": cannot write the backup (nothing removed): " + std::strerror(error));
  }
}

void repair(const std::string &path) {
  std::string damage;
  const WalkEnd end = walk_records(path, 12, [&](FILE *stream, const RecordStep &at) {
    if (damage.empty() && !ends_with_newline(stream, at))
      damage = "record at offset " + std::to_string(at.offset) + " does not end with a newline";
  });
  if (!damage.empty() || end.kind == WalkEnd::short_length)
    fail(path + ": " + (damage.empty() ? end.text() : damage) +
         "; that is not a torn last record, so nothing was removed (pcs check lists the damage)");
  if (end.kind == WalkEnd::clean) {
    std::printf("%s: nothing to repair: the last record ends at the end of the file\n", path.c_str());
    return;
  }
  const std::string backup = path + ".before-repair";
  copy_to_backup(path, backup);
  const int file = open(path.c_str(), O_WRONLY);
  if (file < 0 || ftruncate(file, static_cast<off_t>(end.offset)) != 0 || fsync(file) != 0) {
    const int error = errno;
    if (file >= 0) close(file);
    fail(path + ": cannot cut the torn record off: " + std::strerror(error) + " (the file as it was is in " + backup + ")");
  }
  close(file);
  std::printf("%s: removed the torn last record at offset %lld (length word %d, only %lld bytes "
              "present); the file as it was is in %s\n",
              path.c_str(), static_cast<long long>(end.offset), end.length,
              static_cast<long long>(end.file_size - end.offset), backup.c_str());
}

Register reg([](CLI::App &app) {
  CheckOptions &o = check_options;
  CLI::App *check_cmd = app.add_subcommand(
      "check", "Report every damaged place of catalogs, index files (after their catalog) or keyed files");
  check_cmd->add_option("file", o.files, "Files to check, each index after its catalog")->required();
  check_cmd->add_option("-k,--key", o.keys, "The files are keyed files with these key fields GROUP.ATTR:LENGTH");
  check_cmd->callback([] { check(check_options); });

  static std::string file;
  CLI::App *repair_cmd = app.add_subcommand(
      "repair", "Remove a torn last record (one that runs past the end of the file), keeping a backup");
  repair_cmd->add_option("file", file, "Catalog or keyed group file")->required()->check(CLI::ExistingFile);
  repair_cmd->callback([] { repair(file); });
});

}  // namespace
}  // namespace pcs::tool
