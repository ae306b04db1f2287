// Internal operations of the generic part subsystem: value classes and the
// comparison of query and catalog values, part keys, the generic part file
// record codec, and the key index of a generic part file.
//
// CgAttribute, CgGroup and CgPart are the public types of include/pcs.h.
#ifndef PCS_GENERIC_GENERIC_PARTS_H
#define PCS_GENERIC_GENERIC_PARTS_H

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

// Prints an attribute chain to standard error.
void my_print_attribute(const CgAttribute *first);
// Releases an attribute chain from the last attribute to the first.
void free_attributes(CgAttribute *first);

// Bytes cgkeycre writes for the pairs, without the closing 0 byte.
int64_t key_size(const char *const *groups, const char *const *attributes, int count,
                 const CgGroup *part);

// ---- generic part file ----------------------------------------------------

// Reads the record at `position` into a new part: 0, PCS_AT_END,
// PCS_INPUT_ENDED (short, damaged or without its newline), PCS_RECORD_DELETED
// or PCS_GEN_NO_MEMORY. *length is set once the length word is read.
int read_part(FILE *stream, int64_t position, int32_t *length, CgGroup **part);
// Fills `group` from the group header at `header` of the record bytes,
// putting each attribute at the head of its chain; on failure the group
// keeps what was built.
int read_group(ByteView record, int64_t header, CgGroup *group);
// Appends the part as a live record at the end of the file: 0, or
// PCS_INPUT_ENDED (no part, or counts that cannot be stored),
// PCS_GEN_NO_MEMORY, PCS_SHORT_WRITE; on failure the file is cut back to
// its old end.
int write_part(FILE *stream, const CgGroup *part);

// ---- lookup ------------------------------------------------------------------

// cgfind: the position of an element of the sorted stack whose first
// key_length bytes compare equal to the key, or 0; 0 or a code.
int find_key(const int *stack, const void *key, int key_length, CgCompare compare, int *found);
// cgqprmt2: a new stack of the 4-byte positions of every element whose key
// equals `key` (the found one, those above it, then those below); *matches
// is 0 when nothing matches or on failure.
int collect_matches(const char *key, int key_length, const int *stack, int *matches);

}  // namespace pcs::query

#endif
