// Test helpers of query parts: attributes and parts built through the
// public operations from plain descriptions, and a part read back as text.
#ifndef PCS_TESTS_GENERIC_GENERIC_FIXTURE_H
#define PCS_TESTS_GENERIC_GENERIC_FIXTURE_H

#include <cstring>
#include <string>
#include <vector>

#include "host/inprocess/model.h"
#include "generic/generic_parts.h"
#include "tests/support/layouts.h"

namespace pcs::test {

inline std::string int_bytes(int32_t v) { return std::string(reinterpret_cast<char *>(&v), 4); }
inline std::string real_bytes(double v) { return std::string(reinterpret_cast<char *>(&v), 8); }

// A host stack of `size`-byte elements.
inline int make_stack(const std::vector<std::string> &elements, int size) {
  int stack = 0, rc = 0, count = 0;
  gusini(&size, &stack, &rc);
  for (const std::string &e : elements) guspus(&stack, e.data(), &count, &rc);
  return stack;
}

// An attribute of `type` holding `values` (each valueLength bytes) and, when
// `flags` is not empty, one generic flag per value.
inline CgAttribute *make_attribute(const std::string &name, const std::string &type, int length,
                                   const std::vector<std::string> &values,
                                   const std::vector<int> &flags = {}) {
  int rc = 0;
  CgAttribute *a = cgacre(field(name).c_str(), field(type).c_str(), &length, &rc);
  for (size_t k = 0; k < values.size(); ++k) {
    cgvadd(values[k].data(), a, &rc);
    if (k < flags.size()) {
      int count = static_cast<int>(k) + 1, size = 4;
      a->genericFlags = static_cast<int32_t *>(cgaradd(a->genericFlags, &count, &flags[k], &size));
    }
  }
  EXPECT_RC(0, rc);
  return a;
}

// A part of the groups of `groups` (layouts.h) in the same order, every
// attribute of type C.
inline CgGroup *make_part(const std::vector<Group> &groups) {
  CgGroup *part = nullptr;
  int rc = 0;
  for (const Group &g : groups) {
    CgGroup *group = part ? cgagadd(field(g.name).c_str(), part, &rc) : cgagcre(field(g.name).c_str(), &rc);
    if (!part) part = group;
    for (const Attr &a : g.attrs) {
      const std::string name = field(a.name), type = field("C" + std::to_string(a.length));
      CgAttribute *attribute = group->attributes
                                   ? cgaadd(name.c_str(), type.c_str(), &a.length, group->attributes, &rc)
                                   : (group->attributes = cgacre(name.c_str(), type.c_str(), &a.length, &rc));
      ++group->attributeCount;
      for (int k = 0; k < a.count; ++k) cgvadd(a.values.data() + k * a.length, attribute, &rc);
    }
  }
  EXPECT_RC(0, rc);
  return part;
}

// "GROUP:ATTR=values;ATTR=values|GROUP:..." in chain order.
inline std::string part_text(const CgGroup *part) {
  std::string out;
  for (const CgGroup *g = part; g; g = g->next) {
    out += std::string(g->name, 8) + ":";
    for (const CgAttribute *a = g->attributes; a; a = a->next)
      out += std::string(a->name, 8) + "=" +
             std::string(reinterpret_cast<const char *>(a->values),
                         static_cast<size_t>(a->valueCount) * a->valueLength) + ";";
    out += "|";
  }
  return out;
}

}  // namespace pcs::test

#endif
