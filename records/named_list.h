// The name-ordered host lists of part records: a record's groups and a
// group's attributes. Insertion, lookup and removal keep the list, its
// count and its cursor together, for both.
#ifndef PCS_RECORDS_NAMED_LIST_H
#define PCS_RECORDS_NAMED_LIST_H

#include <cstdint>

#include "records/records.h"

namespace pcs::records {

struct NamedList {
  void *&list;
  void *&cursor;
  int32_t &count;
};

inline NamedList named_list(PartRecord *record) {
  return {record->GroupList, record->GroupCursor, record->GroupCount};
}
inline NamedList named_list(AttrGroup *group) {
  return {group->AttrList, group->AttrCursor, group->AttrCount};
}

// Inserts `item` (taken over on success): 0 or kRecNoMemory.
inline int insert_named(NamedList l, void *item, PcsCompare compare) {
  void *list = pplstins(l.list, item, compare);
  if (!list) return kRecNoMemory;
  l.list = list;
  ++l.count;
  return 0;
}

// The item whose name compares equal to `name`, or null.
template <class T>
T *find_named(void *list, const char *name, PcsCompare compare) {
  if (!list) return nullptr;
  void *node = pplstfnd(list, name, compare);
  return node ? static_cast<T *>(pplstgtd(node)) : nullptr;
}

// Takes the item named `name` out of the list and returns it (null when
// absent). A cursor on it would dangle: traversal starts over instead.
template <class T>
T *unlink_named(NamedList l, const char *name, PcsCompare compare) {
  if (!l.list) return nullptr;
  void *node = pplstfnd(l.list, name, compare);
  if (!node) return nullptr;
  auto *item = static_cast<T *>(pplstgtd(node));
  if (l.cursor == node) l.cursor = nullptr;
  l.list = pplstdel(l.list, node);
  --l.count;
  return item;
}

}  // namespace pcs::records

#endif
