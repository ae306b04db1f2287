// `pcs maint merge`: keeps one record per key and marks the others deleted.
// It reads every key first and refuses what would lose parts by mistake: a
// key attribute no live record carries, blank keys (unless allowed), a
// damaged catalog. --dry-run lists the records a merge would delete; every
// run ends with a summary, and a merge the library stopped early fails.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/host_model.h"
#include "host/inprocess/tools.h"
#include "include/pcs.h"
#include "tools/command.h"
#include "tools/maint.h"
#include "tools/progress.h"

namespace pcs::tools {
namespace {

namespace host_tools = pcs::host::tools;

struct MergeOptions {
  std::string catalog, project;
  std::string group = "PARTNUM", attribute = "PARTNO";
  int key_length = 40;
  bool newest = false, dry_run = false, allow_blank = false;
};
MergeOptions merge_options;

// The records the merge deletes: in each run of equal keys (compared as
// strings, older records first) all but the oldest, or all but the newest.
std::vector<KeyedRecord> planned_deletions(std::vector<KeyedRecord> records, bool newest) {
  std::stable_sort(records.begin(), records.end(), [](const KeyedRecord &a, const KeyedRecord &b) {
    const int order = std::strcmp(a.key.c_str(), b.key.c_str());
    return order != 0 ? order < 0 : a.offset < b.offset;
  });
  std::vector<KeyedRecord> deleted;
  for (size_t i = 1; i < records.size(); ++i) {
    if (std::strcmp(records[i - 1].key.c_str(), records[i].key.c_str()) == 0)
      deleted.push_back(records[newest ? i - 1 : i]);
  }
  return deleted;
}

// How many of the planned records are marked deleted now.
int deleted_now(const std::string &catalog, const std::vector<KeyedRecord> &planned) {
  std::set<int64_t> offsets;
  for (const KeyedRecord &r : planned) offsets.insert(r.offset);
  int deleted = 0;
  walk_records(catalog, 16, [&](FILE *, const RecordStep &at) {
    if (at.flag != 0 && offsets.count(at.offset) != 0) ++deleted;
  });
  return deleted;
}

// The values of group/attribute as text, blank-padded or cut to `width`;
// false when the record lacks them.
bool text_value(PartRecord *part, const char *group, const char *attribute, size_t width,
                std::string *text) {
  int count = 0, length = 0, rc = 0;
  *text = std::string(width, ' ');
  cspgretn(part, group, attribute, &count, &length, &rc);
  if (rc != 0 || count < 1 || length < 1) return false;
  std::string values(static_cast<size_t>(count) * static_cast<size_t>(length), ' ');
  cspgretv(part, group, attribute, values.data(), &rc);
  if (rc != 0) return false;
  values.resize(width, ' ');
  *text = values;
  return true;
}

// Why the merge could not delete the record at `offset` (its part, then the
// model object of a part that is not a pipe, looked up as the merge looks
// it up); empty when it can.
std::string deletion_problem(FILE *catalog, int64_t offset) {
  int length = 0, rc = 0;
  PartRecord *part = cspgetrc(catalog, static_cast<int>(offset), &length, &rc);
  if (!part) return "the record cannot be read" + code_text(rc);
  std::string category, stamp;
  text_value(part, "PARTDEF ", "CATEGORY", 24, &category);
  const bool stamped = text_value(part, "ELCATLOG", "ELTIME  ", 16, &stamp);
  cspgfre(part);
  if (category.compare(0, 16, "PIPE            ") == 0) return "";
  int family = 0;
  glrfam(category.c_str(), &family, &rc);
  if (rc != 0) return "the model service glrfam failed" + code_text(rc);
  if (!stamped) return "the part has no ELCATLOG.ELTIME stamp naming its model object";
  return "";
}

// Fails the command, before anything changed, when the merge would stop at
// one of the planned deletions: the dry run and the real run alike.
void require_deletable(const std::string &path, const std::vector<KeyedRecord> &plan) {
  FILE *catalog = std::fopen(path.c_str(), "rb");
  if (!catalog) fail(path + ": cannot open the file");
  for (const KeyedRecord &r : plan) {
    const std::string problem = deletion_problem(catalog, r.offset);
    if (problem.empty()) continue;
    std::fclose(catalog);
    fail(path + ": the merge cannot delete the record at offset " + std::to_string(r.offset) +
         ", key \"" + r.key.substr(0, r.key.find_last_not_of(' ') + 1) + "\": " + problem +
         "; nothing changed");
  }
  std::fclose(catalog);
}

// Why the library stopped before the end, in words.
std::string stop_reason() {
  for (const host_tools::ServiceFailure &f : host_tools::service_failures())
    return "the model service " + f.service + " failed" + code_text(f.rc);
  return "a record could not be read or memory ran out";
}

void run_merge(const MergeOptions &o, const KeyScan &scan, const std::vector<KeyedRecord> &plan) {
  const int unit = 6;
  host_tools::copy_unit(unit, verbose() ? stdout : nullptr);
  const std::string group = name_field(o.group), attribute = name_field(o.attribute);
  {
    FollowedProgress progress("merging " + o.catalog, [] { return Amount{}; });
    csprtdup(o.newest ? 1 : 0, o.catalog.c_str(), &unit, group.c_str(), attribute.c_str(),
             o.key_length);
  }
  std::fflush(stdout);
  host_tools::copy_unit(unit, nullptr);
  const int deleted = deleted_now(o.catalog, plan);
  note("", {{"catalog", o.catalog}, {"dry_run", false}});
  print_summary(scan, deleted);
  finish_report();
  // Model objects that went with removed parts are gone from the project too.
  if (host_tools::removed_part_objects() > 0 && host_tools::save_project() != 0)
    fail(host_tools::project_path() + ": cannot save the project after the merge");
  if (deleted < static_cast<int>(plan.size()))
    fail(o.catalog + ": the merge stopped early after deleting " + std::to_string(deleted) +
         " of " + std::to_string(plan.size()) + " duplicate(s): " + stop_reason());
}

void merge_duplicates(const MergeOptions &o) {
  check_name(o.group, "group");
  check_name(o.attribute, "attribute");
  if (o.key_length < 1 || o.key_length > 63) fail("the key length must be 1 to 63", kUsage);
  require_file(o.catalog);
  use_project(o.project);
  const KeyScan scan = readable_scan(o.catalog, {{o.group, o.attribute, o.key_length}}, true);
  const std::vector<KeyedRecord> plan = planned_deletions(scan.records, o.newest);
  if (scan.blank_keys() > 0 && !o.allow_blank)
    fail(o.catalog + ": " + std::to_string(scan.blank_keys()) +
         " record(s) have a blank key and would count as duplicates of each other; nothing "
         "changed (give --allow-blank-keys to merge them too)");
  require_deletable(o.catalog, plan);
  if (o.dry_run) {
    for (const KeyedRecord &r : plan) {
      nlohmann::json one = nlohmann::json::array();
      one.push_back({{"offset", r.offset}, {"key", trimmed(r.key)}});
      note("would delete the record at offset " + std::to_string(r.offset) + ", key \"" + r.key + "\"",
           {{"would_delete", one}});
    }
    note("", {{"catalog", o.catalog}, {"dry_run", true}, {"would_delete", nlohmann::json::array()}});
    print_summary(scan, 0);
    return;
  }
  run_merge(o, scan, plan);
}

}  // namespace

void add_merge_command(CLI::App *maint) {
  MergeOptions &o = merge_options;
  CLI::App *merge = maint->add_subcommand(
      "merge", "Keep one record per part number, report each removal on standard output");
  merge->add_option("catalog", o.catalog, "Catalog file")->required();
  merge->add_flag("--newest", o.newest, "Keep the newest record (default: the oldest)");
  merge->add_option("--group", o.group, "Group of the key attribute")->capture_default_str();
  merge->add_option("--attribute", o.attribute, "Key attribute")->capture_default_str();
  merge->add_option("--key-length", o.key_length, "Key length, 1 to 63")->capture_default_str();
  merge->add_flag("--dry-run", o.dry_run, "List the records a merge would delete, change nothing");
  merge->add_flag("--allow-blank-keys", o.allow_blank,
                  "Merge also when records have a blank key (they count as one key)");
  merge->add_option("--project", o.project,
                    "Project database (default: $PCS_PROJECT or ./project.db)");
  add_json_flag(merge);
  merge->callback([] {
    merge_duplicates(merge_options);
    finish_report();
  });
}

}  // namespace pcs::tools
