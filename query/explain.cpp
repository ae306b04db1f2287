// Explanations of the selection: the part comparison and the size check
// of one candidate run again with their traces, every step copied into a
// PcsSelExplanation in host memory; value texts by type letter.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/coding.h"
#include "generic/generic_parts.h"
#include "query/query_fill.h"
#include "query/selection.h"

namespace pcs::query {
namespace {

std::string field_text(const char *p, size_t n) {
  std::string text(p, n);
  text.erase(text.find_last_not_of(' ') + 1);
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
  return text;
}

void put_name(char *out, const char *name) {
  const std::string text = field_text(name, PCS_NAME_LEN);
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
}

// Both traces, gathered in order.
class Recorder : public generic::CompareTrace, public SizeTrace {
 public:
  std::vector<PcsSelValue> values;
  std::vector<PcsSelGroup> groups;
  std::vector<PcsSelSize> sizes;
  int unequal = 0;

  void value(const generic::ValueStep &step) override {
    PcsSelValue v{};
    put_name(v.group, step.group->name);
    put_name(v.attribute, step.query->name);
    v.index = step.index + 1;
    v.type = step.query->type[0];
    v.hasCatalog = step.catalog ? 1 : 0;
    copy_text(v.query, value_text(step.query, step.index, v.type));
    copy_text(v.catalog, value_text(step.catalog, step.index, v.type));
    v.generic = step.generic;
    v.queryClass = step.query_class;
    v.catalogClass = step.catalog_class;
    v.decision = step.decision;
    v.equal = step.equal ? 1 : 0;
    unequal += step.equal ? 0 : 1;
    values.push_back(v);
  }
  void group(const CgGroup *query, bool compared, bool satisfied) override {
    PcsSelGroup g{};
    put_name(g.name, query->name);
    g.compared = compared ? 1 : 0;
    g.satisfied = satisfied ? 1 : 0;
    groups.push_back(g);
  }
  void size(const SizeStep &step) override {
    PcsSelSize z{};
    z.limit = step.kind;
    copy_text(z.limitSize, field_text(step.limit, 80));
    z.limitRank = step.limit_rank;
    z.index = step.index + 1;
    copy_text(z.size, field_text(step.size, 80));
    z.rank = step.rank;
    z.outside = step.outside ? 1 : 0;
    sizes.push_back(z);
  }
};

// A host copy of the items; true when it could be made (an empty list is
// a null array).
template <class T>
bool host_copy(const std::vector<T> &items, T **out, int32_t *count) {
  *count = static_cast<int32_t>(items.size());
  *out = nullptr;
  if (items.empty()) return true;
  *out = static_cast<T *>(gimaloc(items.size() * sizeof(T)));
  if (*out) std::memcpy(*out, items.data(), items.size() * sizeof(T));
  return *out != nullptr;
}

}  // namespace

void copy_text(char *out, const std::string &text) {
  const size_t n = std::min(text.size(), size_t{PCS_SEL_TEXT - 1});
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

std::string value_text(const CgAttribute *a, int k, char type) {
  if (!a || !a->values || k < 0 || k >= a->valueCount) return "";
  const unsigned char *p = a->values + static_cast<size_t>(k) * static_cast<size_t>(a->valueLength);
  char text[40];
  if (type == 'I' && a->valueLength >= 4) {
    std::snprintf(text, sizeof text, "%d", static_cast<int>(load_value<int32_t>(p)));
    return text;
  }
  if (type == 'R' && a->valueLength >= 8) {
    std::snprintf(text, sizeof text, "%g", load_value<double>(p));
    return text;
  }
  return field_text(reinterpret_cast<const char *>(p), static_cast<size_t>(a->valueLength));
}

int explain_candidate(PcsSelection *s, int k, PcsSelExplanation **out) {
  *out = nullptr;
  if (k < 0 || k >= static_cast<int>(s->answer.size())) return PCS_SEL_NO_CANDIDATE;
  const Candidate &c = s->answer[static_cast<size_t>(k)];
  Recorder recorder;
  int rc = 0, outside = 0;
  const bool groups = generic::compare_parts(s->query, c.part, &rc, &recorder) == 1;
  // The sizes of a part the comparison rejects are explained as far as
  // they can be ranked; a ranking failure then leaves them untested.
  if ((rc = check_sizes(c.part, s->query, &outside, &recorder)) != 0 && groups) return rc;
  if (rc != 0) outside = 0;
  auto *e = static_cast<PcsSelExplanation *>(gicaloc(1, sizeof(PcsSelExplanation)));
  if (!e) return PCS_SEL_NO_MEMORY;
  copy_text(e->partNumber, value_text(find_attribute(c.part, "PARTNUM ", "PARTNO  "), 0, 'C'));
  e->position = c.position;
  e->unequal = recorder.unequal;
  e->groupsSatisfied = groups ? 1 : 0;
  e->withinLimits = outside == 0 ? 1 : 0;
  e->selected = groups && outside == 0 ? 1 : 0;
  if (!host_copy(recorder.groups, &e->groups, &e->groupCount) ||
      !host_copy(recorder.values, &e->values, &e->valueCount) ||
      !host_copy(recorder.sizes, &e->sizes, &e->sizeCount)) {
    free_explanation(e);
    return PCS_SEL_NO_MEMORY;
  }
  *out = e;
  return 0;
}

void free_explanation(PcsSelExplanation *e) {
  if (!e) return;
  gifree(e->groups);
  gifree(e->values);
  gifree(e->sizes);
  gifree(e);
}

}  // namespace pcs::query
