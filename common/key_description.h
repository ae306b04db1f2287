// Key descriptions of the catalog key readers: a host array of key fields,
// each a 16-byte host block holding a group name and an attribute name of
// 8 characters each.
#ifndef PCS_COMMON_KEY_DESCRIPTION_H
#define PCS_COMMON_KEY_DESCRIPTION_H

#include <cstddef>

namespace pcs {

// A description of `count` fields, all still unset; null when memory runs
// out.
void *new_key_description(int count);
// Sets field `i` to the first `group_length` characters of `group` and the
// first `attribute_length` of `attribute` (at most 8 each), blank-padded,
// releasing what the field held. False when memory runs out.
bool set_key_field(void *description, int i, const char *group, size_t group_length,
                   const char *attribute, size_t attribute_length);
// A description of `count` fields from `count` group and `count` attribute
// names of 8 characters side by side; null when memory runs out.
void *key_description(int count, const char *groups, const char *attributes);
// Releases a description with its fields; null is accepted.
void free_key_description(void *description);

}  // namespace pcs

#endif
