// Internals shared by the query fill, the catalog part creation and the size
// checks: host stacks that end themselves, reading a stack entry into a
// bounded buffer, and adding a value with its generic flag to a part.
#ifndef PCS_QUERY_QUERY_FILL_H
#define PCS_QUERY_QUERY_FILL_H

#include <cstddef>
#include <cstdint>

#include "common/host_stack.h"
#include "host/host_model.h"
#include "include/pcs.h"

namespace pcs::query {

// Longest value the fill and the part creation handle; a longer declared
// length gives PCS_GEN_NO_MEMORY, as the code's meaning says.
inline constexpr int kValueBuffer = 256;

// A host stack owned as HostStack owns it, read by its handle's value.
class Stack : public HostStack {
 public:
  int get() const { return handle; }
};

// Number of entries; 0 for handle 0.
int stack_count(int handle);
// Copies entry `position` into out. *found false (code 0) when the handle is
// 0 or there is no such entry; PCS_GEN_NO_MEMORY when the entry is longer
// than `capacity`; otherwise the stack service's code.
int read_entry(int handle, int position, void *out, int capacity, bool *found);

// The lists of query tables, aligned by position: names, flag-table names
// (8 blanks: none) and handles of attribute-name stacks.
struct TableLists {
  Stack *names;
  Stack *flag_tables;
  Stack *attributes;
};
// Fills the three lists (cgqgen); on failure every stack is ended.
int collect_tables(const int *owner, const char *const *names, int count,
                   const TableLists &lists);

// A value as it goes into a part: type field, length, bytes.
struct Value {
  char type[PCS_NAME_LEN];
  int length = 0;
  unsigned char bytes[kValueBuffer];
};
// The first value of an attribute with its type and length; false when it
// has none or it is longer than a Value holds.
bool first_value(const CgAttribute *attribute, Value *out);
// The attribute of a group of the part, or null.
CgAttribute *find_attribute(CgPart part, const char *group, const char *attribute);
// Adds the value under the names (cgpradd) and, when `flags` is set, appends
// `flag` to the attribute's generic flags. 0 or PCS_GEN_NO_MEMORY.
int add_value(CgPart *part, const char *group, const char *attribute, const Value &value,
              bool flags, int32_t flag);
// True when the n bytes at p are all blanks.
bool blank(const void *p, size_t n);

}  // namespace pcs::query

#endif
