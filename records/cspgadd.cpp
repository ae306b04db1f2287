// Part record operations: create, add an attribute under a group, look an
// attribute up, remove it, empty and release the record.
#include "common/report.h"
#include "records/named_list.h"
#include "records/records.h"

namespace pcs::records {

namespace {

AttrGroup *add_group(PartRecord *record, const char *group_name) {
  AttrGroup *group = csgrpnew(group_name);
  if (!group) return nullptr;
  int rc = 0;
  csgrlins(record, group, &rc, csgrpcmp);
  if (rc == 0) return group;
  csgrpfre(group);
  return nullptr;
}

// Adds a new attribute to `group`; `known_new` skips the duplicate check.
int add_attribute(AttrGroup *group, const char *attr_name, int count, int length,
                  const void *values, bool known_new, Attribute **added) {
  int rc = 0;
  Attribute *attribute = csatrnew(attr_name, count, length, values, &rc);
  if (!attribute) return rc == 0 ? 0 : PCS_NO_MEMORY;
  if (known_new)
    rc = insert_named(named_list(group), attribute, csatrcmp);
  else
    csgrpins(group, attribute, &rc, csatrcmp);
  if (rc == 0) {
    *added = attribute;
    return 0;
  }
  csatrfre(attribute);
  return rc == kRecNoMemory ? PCS_NO_MEMORY : PCS_ATTR_EXISTS;
}

}  // namespace

int record_add(PartRecord *record, const char *group_name, const char *attr_name, int count,
               int length, const void *values) {
  AttrGroup *group = csgrlfnd(record, group_name, csgrpcnm);
  if (!group && !(group = add_group(record, group_name))) return PCS_NO_MEMORY;
  Attribute *added = nullptr;
  return add_attribute(group, attr_name, count, length, values, false, &added);
}

RecordAppender::RecordAppender(PartRecord *record)
    : record_(record), in_order_(record && record->GroupCount == 0) {}

int RecordAppender::add(const char *group_name, const char *attr_name, int count, int length,
                        const void *values) {
  if (!in_order_) return record_add(record_, group_name, attr_name, count, length, values);
  const int order = group_ ? csgrpcnm(group_, group_name) : -1;
  if (order > 0) {
    in_order_ = false;
    return record_add(record_, group_name, attr_name, count, length, values);
  }
  if (order < 0) {
    AttrGroup *added = add_group(record_, group_name);
    if (!added) {
      in_order_ = false;
      return PCS_NO_MEMORY;
    }
    group_ = added;
    last_ = nullptr;
  }
  // Names above the highest one in their list cannot be there yet.
  const bool known_new = !last_ || csatrcnm(last_, attr_name) < 0;
  Attribute *added = nullptr;
  const int rc = add_attribute(group_, attr_name, count, length, values, known_new, &added);
  if (known_new && added) last_ = added;
  return rc;
}

Lookup record_find(const PartRecord *record, const char *group_name, const char *attr_name) {
  AttrGroup *group = csgrlfnd(record, group_name, csgrpcnm);
  if (!group) return {nullptr, PCS_NO_GROUP, group_name};
  Attribute *attribute = csgrpfnd(group, attr_name, csatrcnm);
  if (!attribute) return {nullptr, PCS_NO_ATTR, attr_name};
  return {attribute, 0, nullptr};
}

void record_delete_attribute(PartRecord *record, const char *group_name, const char *attr_name) {
  csgrpdel(csgrlfnd(record, group_name, csgrpcnm), attr_name, csatrcnm);
}

void record_empty(PartRecord *record) {
  if (!record) return;
  csgrltrs(record, [](void *group) { DeleteAttribute(static_cast<AttrGroup *>(group)); });
  csgrltrs(record, [](void *group) { csgrpfre(static_cast<AttrGroup *>(group)); });
  csgrlfrn(record);
}

}  // namespace pcs::records

extern "C" {

PCS_API void cspgcre(PartRecord **record, int *rc) {
  *record = pcs::records::csgrlnew();
  *rc = *record ? 0 : PCS_NO_MEMORY;
  pcs::report(*rc);
}

PCS_API void cspgadd(PartRecord *record, const char *group, const char *attribute, int count,
                     int length, const void *values, int *rc) {
  *rc = 0;
  pcs::guarded(rc, PCS_NO_MEMORY,
               [&] { *rc = pcs::records::record_add(record, group, attribute, count, length, values); });
  pcs::report(*rc);
}

PCS_API void cspgaddf(PartRecord **record, const char *group, const char *attribute,
                      const int *count, const int *length, const void *values, int *rc) {
  cspgadd(*record, group, attribute, *count, *length, values, rc);
}

PCS_API void cspgretn(PartRecord *record, const char *group, const char *attribute, int *count,
                      int *length, int *rc) {
  *count = 0;
  *length = 0;
  pcs::records::Lookup found = pcs::records::record_find(record, group, attribute);
  *rc = found.rc;
  if (found.attribute) pcs::records::csatrgtn(found.attribute, count, length);
  pcs::report(found.rc, found.missing);
}

PCS_API void cspgretv(PartRecord *record, const char *group, const char *attribute,
                      void *destination, int *rc) {
  pcs::records::Lookup found = pcs::records::record_find(record, group, attribute);
  *rc = found.rc;
  if (found.attribute) pcs::records::csatrgtv(found.attribute, destination);
  pcs::report(found.rc, found.missing);
}

PCS_API void cspgdela(PartRecord *record, const char *group, const char *attribute) {
  pcs::records::record_delete_attribute(record, group, attribute);
}

PCS_API void cspgdel(PartRecord *record) { pcs::records::record_empty(record); }

PCS_API void cspgfre(PartRecord *record) {
  if (!record) return;
  if (record->GroupCount > 0) pcs::records::record_empty(record);
  pcs::records::csgrlfre(record);
}

PCS_API void cspgfref(PartRecord **record) { cspgfre(*record); }

}  // extern "C"
