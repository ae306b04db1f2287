// The schema services: ready a group for an object type, describe an
// attribute, list a table's attributes, name an object type.
#include <cstdio>
#include <cstring>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

extern "C" {

void gj0pig(const char *type, const char *group, const char *group_type, int *rc) {
  Service call("gj0pig", rc);
  call.chars(type).chars(group).chars(group_type);
  call.run([&] {
    if (!type || !group || !group_type) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    auto def = m->types.find(field(type, kNameWidth));
    if (def == m->types.end()) return PCS_HOST_NO_TYPE;
    const std::string key = field(group, kNameWidth);
    if (!m->groups.count(key)) return PCS_HOST_NO_GROUP;
    bool listed = false;
    for (const TypeGroup &g : def->second.groups) listed = listed || g.group == key;
    if (!listed) def->second.groups.push_back({key, field(group_type, kNameWidth)});
    for (auto &[handle, object] : m->objects) {
      if (object.type == def->first) object.groups[key];
    }
    return 0;
  });
}

void gj0art(const char *group, const char *attribute, char *type, int *length, int *rc) {
  Service call("gj0art", rc);
  call.chars(group).chars(attribute);
  if (length) *length = 0;
  call.run([&] {
    if (!group || !attribute || !type || !length) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    const GroupDef *def = m->group(field(group, kNameWidth));
    if (!def) return PCS_HOST_NO_GROUP;
    int i = def->find(field(attribute, kNameWidth));
    if (i < 0) return PCS_HOST_NO_ATTRIBUTE;
    const AttributeDef &a = def->attributes[static_cast<size_t>(i)];
    char text[16];
    std::snprintf(text, sizeof text, "%c%d", a.type, a.length);
    std::memcpy(type, pad(text, kNameWidth).data(), kNameWidth);
    *length = a.length;
    return 0;
  });
}

void gj0asa(const char *table, int *stack, int *rc) {
  Service call("gj0asa", rc);
  call.chars(table);
  if (stack) *stack = 0;
  call.run([&] {
    if (!table || !stack) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    const GroupDef *def = m->group(field(table, kNameWidth));
    if (!def) return PCS_HOST_NO_GROUP;
    std::vector<std::string> names;
    for (const AttributeDef &a : def->attributes) names.push_back(a.name);
    return make_stack(static_cast<int>(kNameWidth), names, stack);
  });
}

void gj0puo(const char *type, char *name, int *rc) {
  Service call("gj0puo", rc);
  call.chars(type);
  call.run([&] {
    if (!type || !name) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    auto def = m->types.find(field(type, kNameWidth));
    if (def == m->types.end()) return PCS_HOST_NO_TYPE;
    std::memcpy(name, pad(def->second.host_name, kObjectName).data(), kObjectName);
    return 0;
  });
}

}  // extern "C"
