// Merging a save with what another process saved since this process last
// read or wrote the project: this save's own changes (from the copy it
// started from to its model) are applied onto what the database holds now.
// A part of the model that both changed, differently, refuses the save.
#include <string>

#include "host/inprocess/model_store.h"

namespace pcs::host::model::detail {
namespace {

[[noreturn]] void conflict(const std::string &what) {
  fail(PCS_HOST_SAVE_FAILED, "project changed by another process: " + what +
                                 " was changed both there and here; load the project again and "
                                 "redo this change");
}

// One part of the model held whole (setup, lists): ours wins when only we
// changed it.
template <class T>
void merge_whole(const T &base, const T &ours, T *theirs, const std::string &what) {
  if (ours == base) return;
  if (!(*theirs == base) && !(*theirs == ours)) conflict(what);
  *theirs = ours;
}

template <class Map>
const typename Map::mapped_type *find(const Map &map, const typename Map::key_type &key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

template <class V>
bool same(const V *a, const V *b) {
  return a == b || (a && b && *a == *b);
}

// A keyed part (groups, types, objects, standards): key by key.
template <class Map, class Name>
void merge_keys(const Map &base, const Map &ours, Map *theirs, Name name) {
  auto merge_key = [&](const typename Map::key_type &key) {
    const auto *b = find(base, key), *o = find(ours, key), *t = find(*theirs, key);
    if (same(b, o)) return;
    if (!same(t, b) && !same(t, o)) conflict(name(key, o ? o : b));
    if (o)
      (*theirs)[key] = *o;
    else
      theirs->erase(key);
  };
  for (const auto &entry : base) merge_key(entry.first);
  for (const auto &entry : ours)
    if (!base.count(entry.first)) merge_key(entry.first);
}

std::string trimmed(const std::string &name) {
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

}  // namespace

Model merge_saves(const Model &base, const Model &ours, Model theirs) {
  merge_whole(base.setup, ours.setup, &theirs.setup, "the setup");
  merge_keys(base.groups, ours.groups, &theirs.groups, [](const std::string &key, const auto *) {
    return "group " + trimmed(key);
  });
  merge_keys(base.types, ours.types, &theirs.types, [](const std::string &key, const auto *) {
    return "object type " + trimmed(key);
  });
  merge_keys(base.objects, ours.objects, &theirs.objects, [](int handle, const Object *object) {
    return "object " + std::to_string(handle) + " (" + trimmed(object->type) + " " +
           trimmed(object->name) + ")";
  });
  merge_whole(base.catalogs, ours.catalogs, &theirs.catalogs, "the catalog list");
  merge_keys(base.standards, ours.standards, &theirs.standards,
             [](const std::string &key, const auto *) { return "standard " + trimmed(key); });
  merge_whole(base.families, ours.families, &theirs.families, "the part family list");
  merge_whole(base.part_objects, ours.part_objects, &theirs.part_objects,
              "the part object list");
  return theirs;
}

}  // namespace pcs::host::model::detail
