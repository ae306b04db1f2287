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
#include "common/memory.h"
#include "include/pcs.h"

namespace pcs::generic {

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

// One value decision of a part comparison, as the comparison took it: the
// query value `index` of attribute `query` of group `group` against the
// catalog value in the same place (`catalog` null when the catalog part has
// no such attribute).
struct ValueStep {
  const CgGroup *group;
  const CgAttribute *query;
  const CgAttribute *catalog;
  int index;
  int generic;
  ValueClass query_class, catalog_class;
  Decision decision;
  bool equal;
};
// Receives the decisions of a traced part comparison in the order taken.
class CompareTrace {
 public:
  virtual ~CompareTrace() = default;
  virtual void value(const ValueStep &step) = 0;
  // A group of the query part after its attributes: whether it takes part
  // in the comparison and whether the catalog part satisfies it.
  virtual void group(const CgGroup *query, bool compared, bool satisfied) = 0;
};
// cgpreql, each decision reported to `trace` when it is given. A traced
// comparison goes on after the first unequal value, so that every value is
// reported; its result is the same.
int compare_parts(const CgGroup *a, const CgGroup *b, int *rc, CompareTrace *trace);
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
// The same for the record at `position` of a file image held in memory.
int read_part(ByteView image, int64_t position, int32_t *length, CgGroup **part);
// The whole file behind the stream, from its start, in host memory: read
// front to back in large blocks, so that its records are then decoded with
// no further system call. 0, PCS_GEN_NO_MEMORY, or PCS_INPUT_ENDED when the
// file cannot be read to its end.
int read_image(FILE *stream, HostPtr<unsigned char> *image, size_t *size);
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

// The key pairs of the query part lookup: element class and query number.
inline constexpr int kLookupPairs = 2;
inline const char *const kLookupGroups[kLookupPairs] = {"ELCLASS ", "SPCFUNC "};
inline const char *const kLookupAttributes[kLookupPairs] = {"AELCLASS", "QRYNUMBR"};
// Length of the stored key of the pairs: each attribute's declared length
// (8 for one the model does not know); above 256 when too long.
int key_length(const char *const *groups, const char *const *attributes, int count);
// The part's key (cgkeycre) cut or blank-padded to `width` bytes.
int stored_key(const char *const *groups, const char *const *attributes, int count,
               const CgGroup *part, int width, unsigned char *out);
// The key a query looks up: the 8-character element class followed by the
// query number without its trailing blanks (at most 248 characters of the
// QRYNUMBR length the model declares); 0 or a code.
int query_key(const char *element_class, const char *query, char *key, int *length);

}  // namespace pcs::generic

#endif
