// Specification entries and query setups: name sets of an object (gtbsas),
// a table column of an entry by row (gtbrae), an entry's element class
// (gtbrui).
#include <cstring>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

constexpr int kFlag = 1;
constexpr size_t kClassWidth = 80;

// The model and the object the reference names; *code set otherwise.
Object *referenced(const int *flag, const int *reference, int missing, int *code) {
  if (!flag || *flag != kFlag || !reference) {
    *code = PCS_HOST_BAD_ARGUMENT;
    return nullptr;
  }
  Model *m = ensure_model(code);
  if (!m) return nullptr;
  Object *object = m->object(*reference);
  if (!object) *code = missing;
  return object;
}

}  // namespace

extern "C" {

void gtbsas(const int *flag, const int *owner, const char *name, int *stack, int *rc) {
  Service call("gtbsas", rc);
  call.number(flag).number(owner).chars(name);
  if (stack) *stack = 0;
  call.run([&] {
    if (!name || !stack) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Object *object = referenced(flag, owner, PCS_HOST_NO_OBJECT, &code);
    if (!object) return code;
    auto set = object->sets.find(field(name, kNameWidth));
    if (set == object->sets.end()) return 0;
    return make_stack(int(kNameWidth), set->second, stack);
  });
}

void gtbrae(const int *flag, const int *entry, const char *table, const char *attribute, int *stack,
            int *rc) {
  Service call("gtbrae", rc);
  call.number(flag).number(entry).chars(table).chars(attribute);
  if (stack) *stack = 0;
  call.run([&] {
    if (!table || !attribute || !stack) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Object *object = referenced(flag, entry, PCS_HOST_NO_ENTRY, &code);
    if (!object) return code;
    const GroupDef *group = state().model.group(field(table, kNameWidth));
    if (!group) return 0;
    int i = group->find(field(attribute, kNameWidth));
    auto rows = object->groups.find(group->name);
    if (i < 0 || rows == object->groups.end()) return 0;
    std::vector<std::string> values;
    for (Row row : rows->second) values.push_back(cell(row, *group, size_t(i)));
    return make_stack(group->attributes[size_t(i)].length, values, stack);
  });
}

void gtbrui(const int *flag, const int *entry, int *length, char *value, int *stack, int *rc) {
  Service call("gtbrui", rc);
  call.number(flag).number(entry);
  if (length) *length = 0;
  if (stack) *stack = 0;
  call.run([&] {
    if (!length || !value || !stack) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Object *object = referenced(flag, entry, PCS_HOST_NO_ENTRY, &code);
    if (!object) return code;
    const std::string element_class = object->element_class.substr(0, kClassWidth);
    if (element_class.empty()) return 0;
    if (int made = make_stack(int(element_class.size()), {element_class}, stack)) return made;
    std::memcpy(value, element_class.data(), element_class.size());
    *length = int(element_class.size());
    return 0;
  });
}

}  // extern "C"
