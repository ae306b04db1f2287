// Attribute groups: a named list of attributes in name order, its cursor
// and its serialized form.
#include <cstring>

#include "common/coding.h"
#include "common/memory.h"
#include "common/record_codec.h"
#include "records/named_list.h"
#include "records/records.h"

namespace pcs::records {

AttrGroup *csgrpnew(const char *name) {
  auto *group = host_alloc<AttrGroup>();
  if (!group) return group;
  // The name up to its first 0 byte, at most 8 bytes, 0-filled after.
  const size_t n = strnlen(name, PCS_NAME_LEN);
  std::memcpy(group->GroupName, name, n);
  std::memset(group->GroupName + n, 0, PCS_NAME_LEN - n);
  return group;
}

void csgrpins(AttrGroup *group, Attribute *attribute, int *rc, PcsCompare compare) {
  if (!group)
    *rc = kNoContainer;
  else if (find_named<Attribute>(group->AttrList, reinterpret_cast<const char *>(attribute),
                                 compare))
    *rc = kAttrDuplicate;
  else
    *rc = insert_named(named_list(group), attribute, compare);
}

Attribute *csgrpfnd(const AttrGroup *group, const char *name, PcsCompare compare) {
  return group ? find_named<Attribute>(group->AttrList, name, compare) : nullptr;
}

void csgrpdel(AttrGroup *group, const char *name, PcsCompare compare) {
  Attribute *attribute =
      group ? unlink_named<Attribute>(named_list(group), name, compare) : nullptr;
  if (!attribute) return;
  csatrfre(attribute);
}

void csgrpfre(AttrGroup *group) {
  if (!group) return;
  if (group->AttrList) pplstfre(group->AttrList);
  gifree(group);
}

void csgrptrs(AttrGroup *group, PcsVisit visit) {
  if (!group || !group->AttrList) return;
  pplsttrs(group->AttrList, visit);
}

void csgrpset(AttrGroup *group) { group->AttrCursor = nullptr; }

Attribute *csgrpnxt(AttrGroup *group) {
  group->AttrCursor = group->AttrCursor ? pplstnxt(group->AttrCursor) : group->AttrList;
  return group->AttrCursor ? static_cast<Attribute *>(pplstgtd(group->AttrCursor)) : nullptr;
}

char *csgrpgtn(AttrGroup *group, int *length) {
  *length = PCS_NAME_LEN;
  return group->GroupName;
}

int csgrpcnt(const AttrGroup *group) { return group->AttrCount; }

int csgrpwrt(AttrGroup *group, int offset, FILE *stream, int *rc) {
  codec::StreamSink out(stream);
  *rc = codec::put_catalog_group(group, offset, out) ? 0 : kGroupShortWrite;
  return static_cast<int>(out.written());
}

}  // namespace pcs::records

