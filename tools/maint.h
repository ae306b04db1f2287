// Pieces the `pcs maint` commands share: the checks they make before they
// change a catalog, the run summary, and the merge command's registration.
#ifndef PCS_TOOLS_MAINT_H
#define PCS_TOOLS_MAINT_H

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/catalog_scan.h"

namespace pcs::tools {

// Fails the command unless `path` is a regular file.
void require_file(const std::string &path);

// Makes `project` (when not empty) the project file of the model services.
void use_project(const std::string &project);

// Reads the keys of every record of the catalog, and fails the command when
// the walk meets damage, a live record cannot be read, or no live record
// carries one of the key attributes.
KeyScan readable_scan(const std::string &catalog, const std::vector<KeyField> &fields,
                      bool collapse);

// "records read: N, duplicates: D, deleted: X, blank keys: B" on standard
// output, or its numbers in the report.
void print_summary(const KeyScan &scan, int deleted);
void print_summary(size_t read, int duplicates, int deleted, int blank);

// A line of a run's summary: printed at once (unless empty), or with --json its `fields`
// go into the report (arrays are appended to) that finish_report() prints
// once.
void note(const std::string &line, const nlohmann::json &fields);
void finish_report();

// Fails the command unless `index` may be written as the index of
// `catalog` (another file than the catalog; an index already, or --force).
void check_index_path(const std::string &catalog, const std::string &index, bool force);

// Builds the index of a catalog by key fields, with progress on a terminal.
void write_index(const std::string &catalog_path, const std::string &index_path,
                 const std::vector<KeyField> &fields);

// Adds `maint merge` to the maintenance commands.
void add_merge_command(CLI::App *maint);

}  // namespace pcs::tools

#endif
