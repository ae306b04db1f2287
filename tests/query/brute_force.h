// An independent check of one catalog part against one query part, written
// from the decision table and the size limits without the library's code:
// for the selection tests and the command-line tests, which compare the
// library's selection with it over every pair.
#ifndef PCS_TESTS_QUERY_BRUTE_FORCE_H
#define PCS_TESTS_QUERY_BRUTE_FORCE_H

#include <algorithm>
#include <cstring>
#include <string>

#include "host/inprocess/model.h"
#include "include/pcs.h"

namespace pcs::bruteforce {

namespace model = pcs::host::model;

enum { kAbsent, kEmpty, kPresent };

inline int value_class(const CgAttribute *a, int k, char type) {
  if (!a || !a->values || a->valueCount <= k) return kAbsent;
  const unsigned char *p = a->values + k * a->valueLength;
  if (type == 'I') return std::memcmp(p, "\0\0\0\0", 4) ? kPresent : kEmpty;
  return std::all_of(p, p + a->valueLength, [](unsigned char c) { return c == ' '; }) ? kEmpty
                                                                                    : kPresent;
}

inline bool value_ok(const CgAttribute &q, const CgAttribute *c, int k) {
  const char type = q.type[0];
  const bool generic = q.genericFlags[k] > 0;
  const int cq = value_class(&q, k, type), cc = value_class(c, k, type);
  if (cq != kPresent) return !generic || cc != kPresent;
  if (cc != kPresent) return generic;
  const int n = std::min(q.valueLength, c->valueLength);
  return std::memcmp(q.values + k * q.valueLength, c->values + k * c->valueLength, size_t(n)) == 0;
}

inline const CgAttribute *attribute(const CgGroup *part, const char *group, const char *name) {
  for (const CgGroup *g = part; g; g = g->next)
    if (std::memcmp(g->name, group, 8) == 0)
      for (const CgAttribute *a = g->attributes; a; a = a->next)
        if (std::memcmp(a->name, name, 8) == 0) return a;
  return nullptr;
}

inline std::string value(const CgAttribute *a, int k = 0) {
  if (!a || a->valueCount <= k) return "";
  std::string v(reinterpret_cast<const char *>(a->values) + k * a->valueLength, size_t(a->valueLength));
  return v.erase(v.find_last_not_of(' ') + 1);
}

// Position of a size among the ASME project sizes, from 1; 0 when absent.
inline int rank(const std::string &size) {
  const auto &sizes = model::data().standards[model::name("ASME")][model::name("PRJSIZE")].sizes;
  auto at = std::find(sizes.begin(), sizes.end(), size);
  return at == sizes.end() ? 0 : int(at - sizes.begin()) + 1;
}

// The part comparison and the size limits.
inline bool selects(const CgGroup *query, const CgGroup *part) {
  for (const CgGroup *g = query; g; g = g->next) {
    if (g->matchFlag == 0) continue;
    for (const CgAttribute *a = g->attributes; a; a = a->next)
      for (int k = 0; k < a->valueCount; ++k)
        if (!value_ok(*a, attribute(part, g->name, a->name), k)) return false;
  }
  const std::string minimum = value(attribute(query, "RHMINSIZ", "MINSIZE "));
  const std::string maximum = value(attribute(query, "RHMAXSIZ", "MAXSIZE "));
  const CgAttribute *sizes = attribute(part, "PIPESIZE", "SIZE    ");
  for (int k = 0; sizes && k < sizes->valueCount; ++k) {
    const std::string size = value(sizes, k);
    if (size.empty()) continue;
    if (!minimum.empty() && rank(size) < rank(minimum)) return false;
    if (!maximum.empty() && k > 0 && rank(size) > rank(maximum)) return false;
  }
  return true;
}

// The lookup's key: the same element class, and a catalog query number
// that starts with the query's (its trailing blanks dropped).
inline bool same_key(const CgGroup *query, const CgGroup *part) {
  const CgAttribute *qc = attribute(query, "ELCLASS ", "AELCLASS");
  const CgAttribute *pc = attribute(part, "ELCLASS ", "AELCLASS");
  if (!qc || !pc || std::memcmp(qc->values, pc->values, 8) != 0) return false;
  const std::string number = value(attribute(query, "SPCFUNC ", "QRYNUMBR"));
  const CgAttribute *pn = attribute(part, "SPCFUNC ", "QRYNUMBR");
  const std::string stored = pn && pn->valueCount > 0
                                 ? std::string(reinterpret_cast<const char *>(pn->values),
                                               size_t(pn->valueLength))
                                 : std::string(8, ' ');
  return stored.compare(0, number.size(), number) == 0;
}

}  // namespace pcs::bruteforce

#endif
