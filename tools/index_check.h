// The rule of every command that writes through an index (or reads the
// records it points at to write elsewhere): each catalog offset it will
// touch must hold a live record that carries the key the index gives for
// it. An index that points elsewhere is stale and nothing is written.
#ifndef PCS_TOOLS_INDEX_CHECK_H
#define PCS_TOOLS_INDEX_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tools {

// Why the record at `offset` of `catalog` is not a record carrying `key`
// (by the library's rule, and built from `fields` as the index builder
// builds keys when they are given); empty when it is, or when it is a
// record marked deleted (indexes keep pointing at those).
std::string index_target_problem(FILE *catalog, int64_t offset, const std::string &key,
                                 const std::vector<KeyField> &fields);

// One offset a command will touch and the key the index gives for it.
struct IndexTarget {
  int64_t offset;
  std::string key;
};

// The targets of record `number` (from 1; 0: every record) of `key`
// (blank-padded to the index's key length) in the index at `index_path`.
// Fails the command when the index cannot be read or lacks the key.
std::vector<IndexTarget> index_targets(const std::string &index_path, const std::string &key,
                                       int number);

// Fails the command, saying the index is stale and how to rebuild it, when
// a target is not a live record of `catalog_path` carrying its key.
void require_index_targets(const std::string &catalog_path, const std::string &index_path,
                           const std::vector<IndexTarget> &targets,
                           const std::vector<KeyField> &fields);

// The same for every record of an index of a generic part file by
// PARTNUM/PARTNO (the index a fold reads the reference parts through).
void require_part_index(const std::string &parts_path, const std::string &index_path);

}  // namespace pcs::tools

#endif
