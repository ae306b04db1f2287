// Matching a catalog part against a query part: value classes, the
// decision table, value comparison by the query's type letter, positional
// and unordered attribute comparison, group and part comparison, and the
// test for non-generic content (cgafng).
#include <cmath>
#include <cstring>

#include "common/coding.h"
#include "common/memory.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {


// Address of value k; the caller has checked that it is held.
const unsigned char *value_at(const CgAttribute *a, int k) {
  return a->values + int64_t{k} * a->valueLength;
}

// Numbers need their full width; a shorter value reads as empty.
bool fits(const CgAttribute *a, size_t width) {
  return a->valueLength >= static_cast<int32_t>(width);
}

int32_t flag_of(const CgAttribute *a, int k) { return a->genericFlags ? a->genericFlags[k] : 0; }

bool non_blank(const unsigned char *bytes, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    if (bytes[i] != ' ') return true;
  return false;
}

// T[g][cb][ca].
constexpr Decision kTable[2][3][3] = {
    {{kEqual, kEqual, kUnequal}, {kEqual, kEqual, kUnequal}, {kEqual, kEqual, kCompare}},
    {{kEqual, kEqual, kEqual}, {kEqual, kEqual, kEqual}, {kUnequal, kUnequal, kCompare}},
};

bool equal_values(const CgAttribute *a, int i, const CgAttribute *b, int j, double tolerance) {
  const unsigned char *x = value_at(a, i), *y = value_at(b, j);
  switch (a->type[0]) {
    case 'C': {
      const int32_t n = a->valueLength < b->valueLength ? a->valueLength : b->valueLength;
      return std::strncmp(reinterpret_cast<const char *>(x), reinterpret_cast<const char *>(y),
                          static_cast<size_t>(n)) == 0;
    }
    case 'I':
      return load_value<int32_t>(x) == load_value<int32_t>(y);
    case 'R':
      return std::fabs(load_value<double>(x) - load_value<double>(y)) <= tolerance;
    default:
      return true;
  }
}

// compare_value, the decision reported to the trace when one is given.
bool compare_traced(const CgGroup *group, const CgAttribute *a, int i, CgAttribute *b, int j,
                    double tolerance, CompareTrace *trace) {
  if (b && b->values && j < b->valueCount) b->type[0] = a->type[0];
  const ValueClass ca = classify_value(a, i), cb = classify_value(b, j);
  const int generic = flag_of(a, i) > 0 ? 1 : 0;
  const Decision d = decide(generic, cb, ca);
  const bool equal = d == kEqual || (d == kCompare && equal_values(a, i, b, j, tolerance));
  if (trace) trace->value({group, a, b, i, generic, ca, cb, d, equal});
  return equal;
}

bool positional_traced(const CgGroup *group, const CgAttribute *a, CgAttribute *b,
                       double tolerance, CompareTrace *trace) {
  bool equal = true;
  for (int k = 0; k < a->valueCount && (equal || trace); ++k)
    equal = compare_traced(group, a, k, b, k, tolerance, trace) && equal;
  return equal;
}

// cgageql: ordered, tolerance 1.0.
bool compare_group(const CgGroup *a, const CgGroup *b, CompareTrace *trace) {
  bool equal = true;
  for (const CgAttribute *attribute = a ? a->attributes : nullptr; attribute && (equal || trace);
       attribute = attribute->next) {
    CgAttribute *other = b && b->attributes ? cgafnd(attribute->name, b->attributes) : nullptr;
    equal = positional_traced(a, attribute, other, 1.0, trace) && equal;
  }
  return equal;
}

}  // namespace

ValueClass classify_value(const CgAttribute *a, int k) {
  if (!a || !a->values || k < 0 || a->valueCount < k + 1) return kAbsent;
  const unsigned char *v = value_at(a, k);
  switch (a->type[0]) {
    case 'I':
      return fits(a, 4) && load_value<int32_t>(v) != 0 ? kPresent : kEmpty;
    case 'R':
      return fits(a, 8) && load_value<double>(v) != 0.0 ? kPresent : kEmpty;
    default:
      return a->valueLength >= 1 && non_blank(v, a->valueLength) ? kPresent : kEmpty;
  }
}

Decision decide(int generic, ValueClass catalog, ValueClass query) {
  return kTable[generic ? 1 : 0][catalog][query];
}

bool compare_value(const CgAttribute *a, int i, CgAttribute *b, int j, double tolerance) {
  return compare_traced(nullptr, a, i, b, j, tolerance, nullptr);
}

bool compare_positional(const CgAttribute *a, CgAttribute *b, double tolerance) {
  return positional_traced(nullptr, a, b, tolerance, nullptr);
}

bool compare_unordered(const CgAttribute *a, CgAttribute *b, double tolerance, int *rc) {
  const int n = b && b->valueCount > 0 ? b->valueCount : 0;
  HostPtr<unsigned char> taken(static_cast<unsigned char *>(gicaloc(static_cast<size_t>(n) + 1, 1)));
  if (!taken) {
    *rc = PCS_GEN_NO_MEMORY;
    return false;
  }
  int matched = 0;
  for (int i = 0; i < a->valueCount; ++i) {
    for (int j = 0; j < n; ++j) {
      if (taken.get()[j] || !compare_value(a, i, b, j, tolerance)) continue;
      taken.get()[j] = 1;
      ++matched;
      break;
    }
  }
  return matched == a->valueCount;
}

int compare_parts(const CgGroup *a, const CgGroup *b, int *, CompareTrace *trace) {
  bool equal = true;
  for (const CgGroup *group = a; group && (equal || trace); group = group->next) {
    const bool compared = group->matchFlag != 0;
    const bool satisfied =
        !compared || compare_group(group, cgagfnd(group->name, const_cast<CgGroup *>(b)), trace);
    if (trace) trace->group(group, compared, satisfied);
    equal = satisfied && equal;
  }
  return equal ? 1 : 0;
}

}  // namespace pcs::generic

using namespace pcs::generic;

extern "C" {

int cgafng(const CgAttribute *a) {
  for (int k = 0; a && a->values && k < a->valueCount; ++k)
    if (flag_of(a, k) == 0) {
      const unsigned char *v = value_at(a, k);
      switch (a->type[0]) {
        case 'C':
          if (a->valueLength >= 1 && v[0] != ' ') return 1;
          break;
        case 'I':
          if (fits(a, 4) && pcs::load_value<int32_t>(v) != 0) return 1;
          break;
        case 'R':
          if (fits(a, 8) && pcs::load_value<double>(v) != 0.0) return 1;
          break;
        default:
          break;
      }
    }
  return 0;
}

int cgagfng(const CgGroup *group, const void *) {
  for (const CgAttribute *a = group ? group->attributes : nullptr; a; a = a->next)
    if (cgafng(a)) return 1;
  return 0;
}

int cgaeql(const CgAttribute *a, CgAttribute *b, const int *ordered, const double *tolerance,
           int *rc) {
  if (*ordered) return compare_positional(a, b, *tolerance) ? 1 : 0;
  return compare_unordered(a, b, *tolerance, rc) ? 1 : 0;
}

int cgageql(const CgGroup *a, const CgGroup *b, int *) { return compare_group(a, b, nullptr) ? 1 : 0; }

int cgpreql(const CgGroup *a, const CgGroup *b, int *rc) { return compare_parts(a, b, rc, nullptr); }

}  // extern "C"
