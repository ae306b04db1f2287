// Diagnostic dumps of attributes and groups to standard error.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/coding.h"
#include "records/records.h"

namespace pcs::records {
namespace {

// The character line shows at most this many value bytes.
constexpr size_t kDumpTextMax = 7999;


// One line per value for the lengths that have a numeric reading.
void dump_values(const Attribute *attribute) {
  const unsigned char *v = attribute->AttrValue;
  for (int i = 0; i < attribute->nAttrs; ++i) {
    const unsigned char *value = v + static_cast<size_t>(i) * attribute->nAttrLength;
    switch (attribute->nAttrLength) {
      case 8:
        std::fprintf(stderr, "      real i=%d AttrValue  =%15.7f\n", i, load_value<double>(value));
        break;
      case 24:
        std::fprintf(stderr, "      real j=%d AttrValue  =%15.7f %15.7f %15.7f\n", i,
                     load_value<double>(value), load_value<double>(value + 8), load_value<double>(value + 16));
        break;
      case 4:
        std::fprintf(stderr, "      int  i=%d AttrValue  =%d\n", i, load_value<int32_t>(value));
        break;
      default:
        return;
    }
  }
}

}  // namespace
}  // namespace pcs::records

extern "C" {

PCS_API void csatrdmp(const Attribute *attribute) {
  if (!attribute) return;
  size_t size = static_cast<size_t>(attribute->nAttrs) * static_cast<size_t>(attribute->nAttrLength);
  int text = static_cast<int>(size < pcs::records::kDumpTextMax ? size : pcs::records::kDumpTextMax);
  std::fprintf(stderr, " AttrName  =%.8s\n", attribute->AttrName);
  std::fprintf(stderr, "      nAttrs          =%d\n", attribute->nAttrs);
  std::fprintf(stderr, "      nAttrLength     =%d\n", attribute->nAttrLength);
  std::fprintf(stderr, "      char AttrValue  =%.*s\n", text,
               reinterpret_cast<const char *>(attribute->AttrValue));
  pcs::records::dump_values(attribute);
}

PCS_API void csgrpdmp(const AttrGroup *group) {
  if (!group) return;
  std::fprintf(stderr, "*********AttrGroup=%.8s***********\n", group->GroupName);
  pcs::records::csgrptrs(const_cast<AttrGroup *>(group),
                [](void *attribute) { csatrdmp(static_cast<const Attribute *>(attribute)); });
}

}  // extern "C"
