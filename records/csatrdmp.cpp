// Diagnostic dumps of attributes and groups to standard error.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "records/records.h"

namespace pcs {
namespace {

// The character line shows at most this many value bytes.
constexpr size_t kDumpTextMax = 7999;

double real_at(const unsigned char *bytes) {
  double value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

int32_t int_at(const unsigned char *bytes) {
  int32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// One line per value for the lengths that have a numeric reading.
void dump_values(const Attribute *attribute) {
  const unsigned char *v = attribute->AttrValue;
  for (int i = 0; i < attribute->nAttrs; ++i) {
    const unsigned char *value = v + static_cast<size_t>(i) * attribute->nAttrLength;
    switch (attribute->nAttrLength) {
      case 8:
        std::fprintf(stderr, "      real i=%d AttrValue  =%15.7f\n", i, real_at(value));
        break;
      case 24:
        std::fprintf(stderr, "      real j=%d AttrValue  =%15.7f %15.7f %15.7f\n", i,
                     real_at(value), real_at(value + 8), real_at(value + 16));
        break;
      case 4:
        std::fprintf(stderr, "      int  i=%d AttrValue  =%d\n", i, int_at(value));
        break;
      default:
        return;
    }
  }
}

}  // namespace
}  // namespace pcs

extern "C" {

PCS_API void csatrdmp(const Attribute *attribute) {
  if (!attribute) return;
  size_t size = static_cast<size_t>(attribute->nAttrs) * static_cast<size_t>(attribute->nAttrLength);
  int text = static_cast<int>(size < pcs::kDumpTextMax ? size : pcs::kDumpTextMax);
  std::fprintf(stderr, " AttrName  =%.8s\n", attribute->AttrName);
  std::fprintf(stderr, "      nAttrs          =%d\n", attribute->nAttrs);
  std::fprintf(stderr, "      nAttrLength     =%d\n", attribute->nAttrLength);
  std::fprintf(stderr, "      char AttrValue  =%.*s\n", text,
               reinterpret_cast<const char *>(attribute->AttrValue));
  pcs::dump_values(attribute);
}

PCS_API void csgrpdmp(const AttrGroup *group) {
  if (!group) return;
  std::fprintf(stderr, "*********AttrGroup=%.8s***********\n", group->GroupName);
  pcs::csgrptrs(const_cast<AttrGroup *>(group),
                [](void *attribute) { csatrdmp(static_cast<const Attribute *>(attribute)); });
}

}  // extern "C"
