// Objects: create and find them, list the groups of their type, attach a
// group to one.
#include <algorithm>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

int create_object(const int *ws, const std::string &type, const std::string &name, int *handle) {
  if (int code = check_writing(ws)) return code;
  Model &m = state().model;
  if (!m.types.count(type)) return PCS_HOST_NO_TYPE;
  if (m.next_handle() <= 0) return PCS_HOST_NO_MEMORY;
  *handle = m.add_object(type, name).handle;
  return 0;
}

// The object of the handle, of `type` when one is given.
Object *object_of(const int *handle, const std::string *type = nullptr) {
  if (!handle) return nullptr;
  Object *object = state().model.object(*handle);
  if (object && type && object->type != *type) return nullptr;
  return object;
}

}  // namespace

extern "C" {

void pu2cpo(const int *ws, const char *type, const char *name, int *handle, int *rc) {
  Service call("pu2cpo", rc);
  call.number(ws).chars(type).chars(name, kObjectName);
  if (handle) *handle = 0;
  call.run([&] {
    if (!type || !name || !handle) return PCS_HOST_BAD_ARGUMENT;
    return create_object(ws, field(type, kNameWidth), field(name, kObjectName), handle);
  });
}

void gtbsui(const int *ws, const char *type, const int *name_length, const char *name, int *handle,
            int *rc) {
  Service call("gtbsui", rc);
  const bool length_ok = name_length && *name_length >= 0 && *name_length <= int(kObjectName);
  call.number(ws).chars(type).number(name_length);
  call.chars(length_ok ? name : nullptr, length_ok ? size_t(*name_length) : 0);
  if (handle) *handle = 0;
  call.run([&] {
    if (int code = check_session(ws)) return code;
    if (!type || !length_ok || !name || !handle) return PCS_HOST_BAD_ARGUMENT;
    Model &m = state().model;
    const std::string key = field(type, kNameWidth);
    if (!m.types.count(key)) return PCS_HOST_NO_TYPE;
    const Object *found = m.find_object(key, field(name, size_t(*name_length)));
    *handle = found ? found->handle : 0;
    return 0;
  });
}

int gtbcpo(const int *ws, const char *type, const char *name, int *handle, int *rc,
           int type_length, int name_length) {
  Service call("gtbcpo", rc);
  const bool lengths_ok = type_length >= 0 && name_length >= 0 && name_length <= int(kObjectName);
  const size_t type_width = lengths_ok ? std::min(size_t(type_length), kNameWidth) : 0;
  call.number(ws).chars(type, type_width).chars(lengths_ok ? name : nullptr, size_t(name_length));
  call.number(type_length).number(name_length);
  if (handle) *handle = 0;
  int code = call.run([&] {
    if (!type || !name || !handle || !lengths_ok) return PCS_HOST_BAD_ARGUMENT;
    return create_object(ws, pad(field(type, type_width), kNameWidth), field(name, size_t(name_length)),
                         handle);
  });
  return code == 0 ? 1 : 0;
}

void gj0erx(const int *ws, const int *handle, int *groups, int *element, int *rc) {
  Service call("gj0erx", rc);
  call.number(ws).number(handle);
  if (groups) *groups = 0;
  if (element) *element = 0;
  call.run([&] {
    if (int code = check_session(ws)) return code;
    if (!groups || !element) return PCS_HOST_BAD_ARGUMENT;
    const Object *object = object_of(handle);
    if (!object) return PCS_HOST_NO_OBJECT;
    *groups = static_cast<int>(object->groups.size());
    *element = object->handle;
    return 0;
  });
}

void gtbwvg(const int *ws, const char *type, const int *element, const int *level, int *group_stack,
            int *type_stack, int *rc) {
  Service call("gtbwvg", rc);
  call.number(ws).chars(type).number(element).number(level);
  if (group_stack) *group_stack = 0;
  if (type_stack) *type_stack = 0;
  call.run([&] {
    if (int code = check_session(ws)) return code;
    if (!type || !element || !level || !group_stack || !type_stack) return PCS_HOST_BAD_ARGUMENT;
    Model &m = state().model;
    const std::string key = field(type, kNameWidth);
    auto def = m.types.find(key);
    if (def == m.types.end()) return PCS_HOST_NO_TYPE;
    if (*element != 0 && !object_of(element, &key)) return PCS_HOST_NO_OBJECT;
    std::vector<std::string> names, types;
    for (const TypeGroup &g : def->second.groups) {
      names.push_back(g.group);
      types.push_back(g.group_type);
    }
    if (int code = make_stack(int(kNameWidth), names, group_stack)) return code;
    if (int code = make_stack(int(kNameWidth), types, type_stack)) {
      int ignored = 0;
      gusend(group_stack, &ignored);
      *group_stack = 0;
      return code;
    }
    return 0;
  });
}

void gj0aii(const int *ws, const int *handle, const char *type, const char *group, int *rc) {
  Service call("gj0aii", rc);
  call.number(ws).number(handle).chars(type).chars(group);
  call.run([&] {
    if (int code = check_writing(ws)) return code;
    if (!type || !group) return PCS_HOST_BAD_ARGUMENT;
    const std::string key = field(type, kNameWidth);
    Object *object = object_of(handle, &key);
    if (!object) return PCS_HOST_NO_OBJECT;
    const std::string group_key = field(group, kNameWidth);
    if (!state().model.groups.count(group_key)) return PCS_HOST_NO_GROUP;
    if (object->groups.count(group_key)) return PCS_HOST_ATTACHED;
    object->groups[group_key];
    return 0;
  });
}

}  // extern "C"
