// Reading a part got from a catalog: csggetn and csggetv (size and values of
// an attribute), csgfree (release), csggetnm (the names of all attributes).
#include "catalog/catalog.h"
#include "common/host_stack.h"
#include "common/report.h"
#include "records/records.h"

namespace pcs::catalog {
namespace {

// Pushes the group and attribute name of every attribute, in list order.
int push_names(PartRecord *part, int group_stack, int attribute_stack) {
  if (!part) return 0;
  for (void *g = part->GroupList; g; g = pplstnxt(g)) {
    auto *group = static_cast<AttrGroup *>(pplstgtd(g));
    for (void *a = group->AttrList; a; a = pplstnxt(a)) {
      auto *attribute = static_cast<Attribute *>(pplstgtd(a));
      int rc = push_entry(group_stack, group->GroupName);
      if (rc == 0) rc = push_entry(attribute_stack, attribute->AttrName);
      if (rc != 0) return rc;
    }
  }
  return 0;
}

int get_names(PartRecord *part, int *group_stack, int *attribute_stack) {
  *group_stack = 0;
  *attribute_stack = 0;
  HostStack groups, attributes;
  int rc = groups.create(PCS_NAME_LEN);
  if (rc == 0) rc = attributes.create(PCS_NAME_LEN);
  if (rc == 0) rc = push_names(part, groups.handle, attributes.handle);
  if (rc != 0) return rc;
  *group_stack = groups.release();
  *attribute_stack = attributes.release();
  return 0;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" {

PCS_API void csggetn(PartRecord **part, const char *group, const char *attribute, int *count,
                     int *length, int *rc) {
  cspgretn(*part, group, attribute, count, length, rc);
}

PCS_API void csggetv(PartRecord **part, const char *group, const char *attribute,
                     void *destination, int *rc) {
  cspgretv(*part, group, attribute, destination, rc);
}

PCS_API void csgfree(PartRecord **part) {
  if (part && *part) cspgfre(*part);
}

PCS_API void csggetnm(PartRecord **part, int *group_stack, int *attribute_stack, int *rc) {
  pcs::guarded(rc, PCS_NO_MEMORY, [&] {
    *rc = pcs::catalog::get_names(part ? *part : nullptr, group_stack, attribute_stack);
  });
}

}  // extern "C"
