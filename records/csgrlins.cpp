// The group list of a part record: its groups in name order and a cursor
// over them.
#include "common/memory.h"
#include "records/named_list.h"
#include "records/records.h"

namespace pcs::records {

PartRecord *csgrlnew() { return host_alloc<PartRecord>(); }

void csgrlins(PartRecord *record, AttrGroup *group, int *rc, PcsCompare compare) {
  *rc = record ? insert_named(named_list(record), group, compare) : kNoContainer;
}

AttrGroup *csgrlfnd(const PartRecord *record, const char *name, PcsCompare compare) {
  return record ? find_named<AttrGroup>(record->GroupList, name, compare) : nullptr;
}

void csgrldeg(PartRecord *record, const char *name, PcsCompare compare) {
  AttrGroup *group = record ? unlink_named<AttrGroup>(named_list(record), name, compare) : nullptr;
  if (!group) return;
  DeleteAttribute(group);
  csgrpfre(group);
}

void csgrlset(PartRecord *record) { record->GroupCursor = nullptr; }

AttrGroup *csgrlnxt(PartRecord *record) {
  record->GroupCursor = record->GroupCursor ? pplstnxt(record->GroupCursor) : record->GroupList;
  return csgrlgtd(record);
}

AttrGroup *csgrlgtd(const PartRecord *record) {
  return record->GroupCursor ? static_cast<AttrGroup *>(pplstgtd(record->GroupCursor)) : nullptr;
}

int csgrlgng(const PartRecord *record) { return record->GroupCount; }

void csgrlfrn(PartRecord *record) {
  if (record->GroupList) pplstfre(record->GroupList);
  record->GroupList = nullptr;
  record->GroupCursor = nullptr;
  record->GroupCount = 0;
}

void csgrlfre(PartRecord *record) {
  if (!record) return;
  csgrlfrn(record);
  gifree(record);
}

void DeleteAttribute(AttrGroup *group) {
  csgrptrs(group, [](void *attribute) { csatrfre(static_cast<Attribute *>(attribute)); });
}

}  // namespace pcs::records

extern "C" {

PCS_API void csgrltrs(PartRecord *record, void (*visit)(void *group)) {
  if (!record || !record->GroupList) return;
  pplsttrs(record->GroupList, visit);
}

}  // extern "C"
