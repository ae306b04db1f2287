// `pcs check FILE...` runs the checks of file_check.h over catalogs, index
// files (against the catalog named before them) and keyed group files (with
// -k, their key description). `pcs repair FILE` removes a
// torn last record, one whose length runs past the end of the file with no
// whole records after it, after copying the file to a backup; damage in the
// middle is reported with the intact records that follow it and cut only
// with --force (after the same backup).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "common/coding.h"
#include "tools/catalog_scan.h"
#include "tools/command.h"
#include "tools/file_check.h"

namespace pcs::tools {
namespace {

struct CheckOptions {
  std::vector<std::string> files, keys, index_keys;
  bool verbose = false;
};

RecordKeys record_keys(const std::string &catalog, const std::vector<KeyField> &fields) {
  RecordKeys keys;
  for (const KeyedRecord &r : scan_keys(catalog, fields, false).records) keys[r.offset] = r.key;
  return keys;
}
CheckOptions check_options;

void check(const CheckOptions &o) {
  const std::vector<KeyField> fields = key_fields(o.keys), index_fields = key_fields(o.index_keys);
  RecordKeys keys;
  std::string catalog;
  Starts starts;
  int damaged = 0;
  nlohmann::json report = nlohmann::json::array();
  for (const std::string &path : o.files) {
    Findings found(path, json_output() ? nullptr : stdout, o.verbose || verbose());
    if (!fields.empty()) {
      check_keyed(path, fields, found);
    } else if (looks_like_index(path)) {
      if (catalog.empty())
        fail(path + ": an index is checked against its catalog: name the catalog before it",
             kUsage);
      check_index(path, catalog, starts, index_fields.empty() ? nullptr : &keys, found);
    } else {
      starts = check_catalog(path, found);
      if (!index_fields.empty()) keys = record_keys(path, index_fields);
      catalog = path;
    }
    if (json_output()) {
      nlohmann::json places = nlohmann::json::array();
      for (const auto &[offset, what] : found.places())
        places.push_back({{"offset", offset}, {"damage", what}});
      report.push_back({{"file", path}, {"damaged", found.count()}, {"places", places}});
    } else if (found.count() == 0) {
      std::printf("%s: no damage found\n", path.c_str());
    }
    damaged += found.count();
  }
  if (json_output()) print_json({{"files", report}, {"damaged", damaged}});
  if (damaged > 0) fail(std::to_string(damaged) + " damaged place(s) found");
}

// Copies `path` to `backup`, which must not exist yet, with the file's
// permission bits and owner, and syncs the copy.
void copy_to_backup(const std::string &path, const std::string &backup) {
  const int in = open(path.c_str(), O_RDONLY);
  if (in < 0) fail(path + ": cannot open the file: " + std::strerror(errno));
  struct stat status {};
  fstat(in, &status);
  const int out = open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  if (out < 0) {
    const int error = errno;
    close(in);
    fail(backup + ": cannot create the backup (nothing removed): " + std::strerror(error));
  }
  if (fchown(out, status.st_uid, status.st_gid) != 0 &&
      fchown(out, static_cast<uid_t>(-1), status.st_gid) != 0)
    errno = 0;
  fchmod(out, status.st_mode & 07777);
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

// Whole records that follow damage at `from`: the first place after it,
// just past a newline, from which records run by their length words, each
// ending with a newline, exactly to the end of the file. {offset, count},
// count 0 when there is none.
std::pair<int64_t, int> intact_after(const std::string &path, int64_t from, int32_t min_length) {
  FILE *stream = std::fopen(path.c_str(), "rb");
  if (!stream) return {0, 0};
  std::string bytes;
  char chunk[65536];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) bytes.append(chunk, got);
  std::fclose(stream);
  const auto size = static_cast<int64_t>(bytes.size());
  for (int64_t start = from + 1; start + min_length <= size; ++start) {
    if (bytes[static_cast<size_t>(start - 1)] != '\n') continue;
    int count = 0;
    int64_t at = start;
    while (at + 8 <= size) {
      const int32_t length = get_be32(reinterpret_cast<const unsigned char *>(bytes.data() + at));
      if (length < min_length || length > size - at ||
          bytes[static_cast<size_t>(at + length - 1)] != '\n')
        break;
      at += length;
      ++count;
    }
    if (at == size && count > 0) return {start, count};
  }
  return {0, 0};
}

void cut_at(const std::string &path, int64_t offset, const std::string &backup) {
  const int file = open(path.c_str(), O_WRONLY);
  if (file < 0 || ftruncate(file, static_cast<off_t>(offset)) != 0 || fsync(file) != 0) {
    const int error = errno;
    if (file >= 0) close(file);
    fail(path + ": cannot cut the file: " + std::strerror(error) + " (the file as it was is in " +
         backup + ")");
  }
  close(file);
}

// What a repair did, as a text line or, with --json, as {"file", "action",
// "offset", "backup"}: action "none", "removed" (a torn last record) or
// "cut" (damage in the middle, with --force).
void repaired(const std::string &path, const char *action, int64_t offset, const std::string &backup,
              const std::string &text) {
  if (!json_output()) {
    std::printf("%s\n", text.c_str());
    return;
  }
  nlohmann::json done = {{"file", path}, {"action", action}};
  if (offset >= 0) {
    done["offset"] = offset;
    done["backup"] = backup;
  }
  print_json(done);
}

// Damage that is not a torn tail: nothing is cut unless `force`.
void refuse_or_cut(const std::string &path, const std::string &what, int64_t offset, bool force) {
  const auto [intact, count] = intact_after(path, offset, 12);
  const std::string salvage =
      count > 0 ? "; " + std::to_string(count) + " intact record(s) follow from offset " +
                      std::to_string(intact) + " to the end of the file"
                : "";
  if (!force)
    fail(path + ": " + what + salvage +
         "; that is not a torn last record, so nothing was removed (pcs check lists the damage; "
         "--force cuts the file at offset " + std::to_string(offset) + ", keeping a backup)");
  const std::string backup = path + ".before-repair";
  copy_to_backup(path, backup);
  cut_at(path, offset, backup);
  repaired(path, "cut", offset, backup,
           path + ": cut the file at offset " + std::to_string(offset) + " (" + what + salvage +
               "); the file as it was is in " + backup);
}

void repair(const std::string &path, bool force) {
  std::string damage;
  int64_t damage_at = -1;
  const WalkEnd end = walk_records(path, 12, [&](FILE *stream, const RecordStep &at) {
    if (damage.empty() && !ends_with_newline(stream, at)) {
      damage = "record at offset " + std::to_string(at.offset) + " does not end with a newline";
      damage_at = at.offset;
    }
  });
  if (!damage.empty()) return refuse_or_cut(path, damage, damage_at, force);
  if (end.kind == WalkEnd::short_length) return refuse_or_cut(path, end.text(), end.offset, force);
  if (end.kind == WalkEnd::clean) {
    return repaired(path, "none", -1, "",
                    path + ": nothing to repair: the last record ends at the end of the file");
  }
  // A length word that runs past the end with whole records after it is
  // damage in the middle (a flipped bit), not a torn last record.
  if (intact_after(path, end.offset, 12).second > 0)
    return refuse_or_cut(path,
                         "record at offset " + std::to_string(end.offset) + ": its length word " +
                             std::to_string(end.length) + " runs past the end of the file",
                         end.offset, force);
  const std::string backup = path + ".before-repair";
  copy_to_backup(path, backup);
  cut_at(path, end.offset, backup);
  repaired(path, "removed", end.offset, backup,
           path + ": removed the torn last record at offset " + std::to_string(end.offset) +
               " (length word " + std::to_string(end.length) + ", only " +
               std::to_string(end.file_size - end.offset) +
               " bytes present); the file as it was is in " + backup);
}

Register reg([](CLI::App &app) {
  CheckOptions &o = check_options;
  CLI::App *check_cmd = app.add_subcommand(
      "check",
      "Report every damaged place of catalogs, index files (after their catalog) or keyed files");
  check_cmd->add_option("file", o.files, "Files to check, each index after its catalog")
      ->required();
  check_cmd->add_option("--index-key", o.index_keys,
                        "Key fields GROUP.ATTR:LENGTH of the index files: check each key against "
                        "its record");
  check_cmd->add_option("-k,--key", o.keys,
                        "The files are keyed files with these key fields GROUP.ATTR:LENGTH");
  check_cmd->add_flag("--verbose", o.verbose,
                      "Also say where the library's reader refused a damaged record (its "
                      "source line and the offset of the refused bytes); so does pcs -v check");
  add_json_flag(check_cmd);
  check_cmd->callback([] { check(check_options); });

  static std::string file;
  static bool force = false;
  CLI::App *repair_cmd = app.add_subcommand(
      "repair",
      "Remove a torn last record (one that runs past the end of the file), keeping a backup");
  // A missing file is reported by the repair itself, as every command's
  // failures are: "pcs: FILE: cannot open the file: ...".
  repair_cmd->add_option("file", file, "Catalog or keyed group file")->required();
  repair_cmd->add_flag("--force", force,
                       "Also cut the file at damage in the middle (the records from there on "
                       "are removed; the backup keeps them)");
  add_json_flag(repair_cmd);
  repair_cmd->callback([] { repair(file, force); });
});

}  // namespace
}  // namespace pcs::tools
