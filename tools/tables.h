// What the project table commands share with the demo.
#ifndef PCS_TOOLS_TABLES_H
#define PCS_TOOLS_TABLES_H

#include <string>

namespace pcs::tools {

// Fails the command with the cause in words when rc is not 0.
void check_table_call(int rc, const std::string &what);
// Number of lines of a text file (0 when it cannot be read).
int count_lines(const std::string &path);
// The demo's project tables: sample dumps under root/tables converted,
// loaded into the project model and shown.
void demo_tables(const std::string &root);
// Prints the project model's objects of that type and name as
// `pcs model show TYPE NAME` does.
void show_model_object(const std::string &type, const std::string &name);

}  // namespace pcs::tools

#endif
