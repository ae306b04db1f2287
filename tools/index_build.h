// `pcs maint index`: the index built in one pass over the catalog, with the
// run summary taken from the keys the builder read and the index it wrote.
#ifndef PCS_TOOLS_INDEX_BUILD_H
#define PCS_TOOLS_INDEX_BUILD_H

#include <string>
#include <vector>

#include "tools/command.h"

namespace pcs::tools {

// The figures of the run summary.
struct IndexSummary {
  int read = 0;        // live records
  int duplicates = 0;  // records whose key an earlier one holds too
  int deleted = 0;
  int blank = 0;       // live records with a blank key
};

// Builds the index of the catalog by `fields`. Fails the command, with
// nothing written, when a record cannot be read or no live record carries
// a key field (as readable_scan says), or when the builder fails.
IndexSummary build_index_once(const std::string &catalog_path, const std::string &index_path,
                              const std::vector<KeyField> &fields);

}  // namespace pcs::tools

#endif
