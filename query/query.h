// Internal operations of the query subsystem: value classes and the
// comparison of query and catalog values, part keys, the generic part file
// record codec, and the key index of a generic part file.
//
// CgAttribute, CgGroup and CgPart are the public types of include/pcs.h.
#ifndef PCS_QUERY_QUERY_H
#define PCS_QUERY_QUERY_H

#include <cstdint>
#include <cstdio>

#include "common/coding.h"
#include "include/pcs.h"

namespace pcs::query {

// ---- attribute lists and comparison ---------------------------------------

// Class of a value: absent, empty or present.
enum ValueClass { kAbsent = 0, kEmpty = 1, kPresent = 2 };
// Decision of the comparison table.
enum Decision { kUnequal = 0, kEqual = 1, kCompare = 2 };

// Class of value k of an attribute (null: absent), by its type letter.
ValueClass classify_value(const CgAttribute *attribute, int k);
// T[g][cb][ca]: g 1 for a generic query value, cb the catalog class, ca the
// query class.
Decision decide(int generic, ValueClass catalog, ValueClass query);
// Value i of query attribute a against value j of catalog attribute b;
// writes a's type letter into a present b first. True when equal.
bool compare_value(const CgAttribute *a, int i, CgAttribute *b, int j, double tolerance);
bool compare_positional(const CgAttribute *a, CgAttribute *b, double tolerance);
// *rc 20101 when the work flags cannot be obtained (result false).
bool compare_unordered(const CgAttribute *a, CgAttribute *b, double tolerance, int *rc);

// Releases an attribute chain from the last attribute to the first.
void free_attributes(CgAttribute *first);

// Bytes cgkeycre writes for the pairs, without the closing 0 byte.
int64_t key_size(const char *const *groups, const char *const *attributes, int count,
                 const CgGroup *part);

}  // namespace pcs::query

#endif
