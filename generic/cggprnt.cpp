// Printing query parts for diagnosis to standard error: groups with their
// names, counts and match flags (cggprnt), and each attribute with its
// type, counts, values and generic flags (my_print_attribute).
#include <cstdio>
#include <cstring>

#include "common/coding.h"
#include "common/memory.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

// The printable bytes (32 to 126) of a field between ">" and "<\n".
void print_field(const char *label, const void *bytes, int64_t width) {
  std::fputs(label, stderr);
  std::fputs(">", stderr);
  const auto *p = static_cast<const unsigned char *>(bytes);
  for (int64_t i = 0; i < width; ++i)
    if (p[i] >= 32 && p[i] <= 126) std::fprintf(stderr, "%c", p[i]);
  std::fputs("<\n", stderr);
}

void print_value(const CgAttribute *a, int k, const unsigned char *reals) {
  std::fprintf(stderr, "   Value No. %d", k);
  const unsigned char *v = a->values + int64_t{k} * a->valueLength;
  if (a->type[0] == 'I' && a->valueLength >= 4) {
    std::fprintf(stderr, ">%d<\n", load_value<int32_t>(v));
  } else if (a->type[0] == 'R' && reals) {
    std::fprintf(stderr, ">%lf<\n", load_value<double>(reals + 8 * int64_t{k}));
  } else {
    print_field("", v, a->valueLength);
  }
  if (a->genericFlags) std::fprintf(stderr, "   Generic Flag:>%d<\n", a->genericFlags[k]);
}

}  // namespace

void my_print_attribute(const CgAttribute *first) {
  for (const CgAttribute *a = first; a; a = a->next) {
    print_field(" Attribute Name:", a->name, PCS_NAME_LEN);
    print_field("  Attribute type:", a->type, PCS_NAME_LEN);
    std::fprintf(stderr, "  Number of values:>%d<\n", a->valueCount);
    std::fprintf(stderr, "  Length of attribute values:>%d<\n", a->valueLength);
    if (!a->values || a->valueLength < 0) continue;
    // Real values are read from an aligned copy at 8-byte steps.
    HostPtr<unsigned char> reals;
    if (a->type[0] == 'R' && a->valueLength == 8 && a->valueCount > 0) {
      reals.reset(static_cast<unsigned char *>(gimaloc(8 * static_cast<size_t>(a->valueCount))));
      if (reals) std::memcpy(reals.get(), a->values, 8 * static_cast<size_t>(a->valueCount));
    }
    for (int k = 0; k < a->valueCount; ++k) print_value(a, k, reals.get());
  }
}

}  // namespace pcs::generic

extern "C" void cggprnt(const CgGroup *part, const char *title, int limit) {
  for (const CgGroup *g = part; g && limit != 0; g = g->next, --limit) {
    std::fprintf(stderr, "%s\n", title);
    pcs::generic::print_field("Group name:", g->name, PCS_NAME_LEN);
    std::fprintf(stderr, " Number of attributes:>%d<\n", g->attributeCount);
    std::fprintf(stderr, " Match flag:>%d<\n", g->matchFlag);
    pcs::generic::my_print_attribute(g->attributes);
  }
}
