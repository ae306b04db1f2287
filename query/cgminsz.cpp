// Size checks and end specifications of parts: a catalog part's sizes
// against a query's minimum and maximum (cgminsz), and single end
// specifications spread over four ends (cgmangle).
#include <cstring>

#include "common/report.h"
#include "query/query_fill.h"
#include "query/selection.h"

namespace pcs::query {
namespace {

constexpr int kSizeBuffer = 80;
constexpr const char *kEndAttributes[] = {"RATG    ", "SCH     ", "WALL    ", "ENDS    "};

int spread_ends(CgPart part) {
  CgGroup *ends = cgagfnd("ENDSPEC ", part);
  if (!ends) return 0;
  for (const char *name : kEndAttributes) {
    CgAttribute *attribute = cgafnd(name, ends->attributes);
    Value first;
    if (!attribute || attribute->valueCount < 1) break;
    if (!first_value(attribute, &first)) return PCS_GEN_NO_MEMORY;
    for (int i = 0; i < 3; ++i) {
      int rc = 0;
      cgvadd(first.bytes, attribute, &rc);
      if (rc != 0) return rc;
    }
  }
  return 0;
}

// Value k of a size attribute in an 80-character buffer; false when the
// value is longer than that.
bool size_at(const CgAttribute &sizes, int k, char out[kSizeBuffer]) {
  if (sizes.valueLength < 0 || sizes.valueLength > kSizeBuffer) return false;
  std::memset(out, ' ', kSizeBuffer);
  std::memcpy(out, sizes.values + size_t(k) * size_t(sizes.valueLength), size_t(sizes.valueLength));
  return true;
}

// A size counts when its first 8 characters (or all, when shorter) are not
// blank.
bool given(const CgAttribute &sizes, const char *size) {
  const int n = sizes.valueLength < PCS_NAME_LEN ? sizes.valueLength : PCS_NAME_LEN;
  return !blank(size, size_t(n > 0 ? n : 0));
}

// The ranks of sizes in the project sizes of the query's standard; the
// size environment is made on first use and ended with the object.
class Ranks {
 public:
  explicit Ranks(CgPart query) : query_(query) {}
  int rank(const char *size, int *rank) {
    int rc = 0;
    if (!environment_) {
      char standard[kSizeBuffer];
      std::memset(standard, ' ', sizeof standard);
      const CgAttribute *a = find_attribute(query_, "STANDATA", "STANDARD");
      if (a && a->valueCount > 0 && !size_at(*a, 0, standard)) return PCS_GEN_NO_MEMORY;
      pclenv(standard, "PRJSIZE ", environment_.out(), &rc);
      if (rc != 0) return rc;
    }
    pu4fcsk(environment_.ptr(), size, rank, &rc);
    return rc;
  }

 private:
  CgPart query_;
  Stack environment_;
};

// The query's limit (group.attribute, first value) when it is set.
int limit(CgPart query, const char *group, const char *attribute, char out[kSizeBuffer],
          bool *set) {
  *set = false;
  const CgAttribute *a = find_attribute(query, group, attribute);
  if (!a || a->valueCount < 1) return 0;
  if (!size_at(*a, 0, out)) return PCS_GEN_NO_MEMORY;
  *set = given(*a, out);
  return 0;
}

// 1 when a catalog size from value `from` on ranks below (direction -1) or
// above (+1) the limit.
// SizeStep.limit: the limit, its size text and its rank.
struct Bound {
  int direction;
  const char *text;
  int rank;
};

int outside(const CgAttribute &sizes, int from, const Bound &bound, Ranks *ranks, int *result,
            SizeTrace *trace) {
  char size[kSizeBuffer];
  for (int k = from; k < sizes.valueCount; ++k) {
    if (!size_at(sizes, k, size)) return PCS_GEN_NO_MEMORY;
    if (!given(sizes, size)) continue;
    int rank = 0;
    if (int rc = ranks->rank(size, &rank)) return rc;
    const bool out = (bound.direction < 0 && rank < bound.rank) ||
                     (bound.direction > 0 && rank > bound.rank);
    if (trace)
      trace->size({bound.direction < 0 ? SizeStep::kMinimum : SizeStep::kMaximum, bound.text, bound.rank,
                   k, size, rank, out});
    if (out) {
      *result = 1;
      return 0;
    }
  }
  return 0;
}

// One limit of the query tested against the catalog sizes from `from` on.
int test_limit(CgPart query, const CgAttribute *sizes, int direction, Ranks *ranks, int *result,
               SizeTrace *trace) {
  char text[kSizeBuffer];
  bool set = false;
  const bool minimum = direction < 0;
  int rc = minimum ? limit(query, "RHMINSIZ", "MINSIZE ", text, &set)
                   : limit(query, "RHMAXSIZ", "MAXSIZE ", text, &set);
  Bound bound{direction, text, 0};
  if (rc == 0 && set) rc = ranks->rank(text, &bound.rank);
  if (rc == 0 && set && sizes) rc = outside(*sizes, minimum ? 0 : 1, bound, ranks, result, trace);
  return rc;
}

}  // namespace

int check_sizes(CgPart catalog, CgPart query, int *result, SizeTrace *trace) {
  *result = 0;
  Ranks ranks(query);
  const CgAttribute *sizes = find_attribute(catalog, "PIPESIZE", "SIZE    ");
  int rc = test_limit(query, sizes, -1, &ranks, result, trace);
  if (rc != 0 || *result != 0) return rc;
  return test_limit(query, sizes, 1, &ranks, result, trace);
}

}  // namespace pcs::query

extern "C" void cgmangle(CgGroup *part, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::query::spread_ends(part); });
}

extern "C" void cgminsz(CgGroup *catalog, CgGroup *query, int *result, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = 0;
    *rc = pcs::query::check_sizes(catalog, query, result, nullptr);
  });
}
