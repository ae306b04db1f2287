// The in-process host as the command-line program sees it: echoing the
// library's error reports, the words for result codes, the project file the
// model services use, the report units of the duplicate merge, what the
// model services answered, and the memory still held.
#ifndef PCS_HOST_INPROCESS_TOOLS_H
#define PCS_HOST_INPROCESS_TOOLS_H

#include <cstdio>
#include <string>
#include <vector>

#include "host/host_services.h"

namespace pcs::host::tools {

// Echo every error the library reports to standard error.
PCS_HOST_API void echo_reports(bool on);

// Meaning of a result code of the library's code table or of the model
// services; "" when the code has none (the small codes 1 to 7 mean what the
// operation that gave them documents).
PCS_HOST_API std::string code_meaning(int code);
// The constant's name ("PCS_NO_GROUP", "PCS_HOST_NO_FAMILY"); "" when none.
PCS_HOST_API std::string code_constant(int code);

// Memory blocks obtained from the host and not released yet.
PCS_HOST_API long live_blocks();

// The project file the model services load and save ("" restores the
// default: $PCS_PROJECT, else ./project.db).
PCS_HOST_API void use_project(const std::string &path);
PCS_HOST_API std::string project_path();
// Why the project could not be loaded (after a PCS_HOST_NO_PROJECT or
// PCS_HOST_BAD_PROJECT answer).
PCS_HOST_API std::string project_error();
// Loads the project file now; 0, PCS_HOST_NO_PROJECT or PCS_HOST_BAD_PROJECT.
PCS_HOST_API int load_project();
// Makes a new project database at `path` (replacing one that is there) whose
// setup names the catalog directory and, as catalog 1, the catalog file names;
// it becomes the project the model services use. 0 or a PCS_HOST_* code.
PCS_HOST_API int create_project(const std::string &path, const std::string &catalog_directory,
                                const std::vector<std::string> &catalog_names);
// Writes the model back to the project file; 0 or PCS_HOST_SAVE_FAILED.
PCS_HOST_API int save_project();

// Lines written to report unit `unit` also go to `file` (null: nowhere).
PCS_HOST_API void copy_unit(int unit, FILE *file);

// A model service call that failed.
struct ServiceFailure {
  std::string service;
  int rc = 0;
};
// Failed model service calls since the program started, in call order.
// gldobj answering PCS_HOST_NO_PART_OBJECT is a success and not listed.
PCS_HOST_API std::vector<ServiceFailure> service_failures();
// Part objects deleted from the model (successful gldobj calls).
PCS_HOST_API int removed_part_objects();

}  // namespace pcs::host::tools

#endif
