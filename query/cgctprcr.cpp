// Catalog parts from query data: one new part per run size, or one part,
// built from two source parts and three lists of (group, attribute) names,
// with the option text and the record of generic values (cgctprcr); the
// standard option pairs (cgopts).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/report.h"
#include "query/query_fill.h"

namespace pcs::query {
namespace {

constexpr int kOptionText = 40;
constexpr int kSizeBuffer = 80;

constexpr const char *kOptionPairs[][2] = {{"PIPESIZE", "SIZE    "},
                                           {"ENDSPEC ", "RATG    "},
                                           {"ENDSPEC ", "ENDS    "},
                                           {"ENDSPEC ", "SCH     "},
                                           {"ELMMATL ", "MAINCODE"}};

// A list of (group, attribute) name pairs.
struct Pairs {
  const char *const *groups;
  const char *const *attributes;
  int count;
};

Value text_value(const char *type, const void *bytes, int length) {
  Value v;
  std::memcpy(v.type, type, PCS_NAME_LEN);
  v.length = length;
  std::memset(v.bytes, ' ', kValueBuffer);
  std::memcpy(v.bytes, bytes, size_t(length));
  return v;
}

// Value k of the attribute as a Value; false when it is longer than one.
bool value_at(const CgAttribute &attribute, int k, Value *out) {
  if (attribute.valueLength < 0 || attribute.valueLength > kValueBuffer) return false;
  *out = text_value(attribute.type, attribute.values + size_t(k) * size_t(attribute.valueLength),
                    attribute.valueLength);
  return true;
}

// Every value of the source's group.attribute under `group`.`name` of the
// new part. A pair missing from the source adds nothing.
int copy_values(CgPart *part, CgPart source, const char *group, const char *attribute,
                const char *to_group, const char *to_name) {
  CgAttribute *from = find_attribute(source, group, attribute);
  for (int k = 0; from && k < from->valueCount; ++k) {
    Value v;
    if (!value_at(*from, k, &v)) return PCS_GEN_NO_MEMORY;
    if (int rc = add_value(part, to_group, to_name, v, false, 0)) return rc;
  }
  return 0;
}

int copy_pairs(CgPart *part, CgPart source, const Pairs &pairs) {
  for (int i = 0; i < pairs.count; ++i) {
    int rc = copy_values(part, source, pairs.groups[i], pairs.attributes[i], pairs.groups[i],
                         pairs.attributes[i]);
    if (rc != 0) return rc;
  }
  return 0;
}

// The text of an option's first value: characters without trailing blanks,
// integers with "%d", reals with "%.1e".
size_t option_word(const CgAttribute &option, char *word, size_t capacity) {
  if (option.valueCount < 1 || !option.values) return 0;
  if (option.type[0] == 'I' && option.valueLength >= 4) {
    int32_t n;
    std::memcpy(&n, option.values, sizeof n);
    return size_t(std::snprintf(word, capacity, "%d", n));
  }
  if (option.type[0] == 'R' && option.valueLength >= 8) {
    double d;
    std::memcpy(&d, option.values, sizeof d);
    return size_t(std::snprintf(word, capacity, "%.1e", d));
  }
  size_t n = option.valueLength > 0 ? size_t(option.valueLength) : 0;
  while (n > 0 && option.values[n - 1] == ' ') --n;
  if (n > capacity) n = capacity;
  std::memcpy(word, option.values, n);
  return n;
}

// The 40-character option text: the options' first values in list order,
// one blank apart.
void option_text(CgPart source, const Pairs &options, char text[kOptionText]) {
  std::memset(text, ' ', kOptionText);
  int p = 0;
  for (int i = 0; i < options.count; ++i) {
    const CgAttribute *option = find_attribute(source, options.groups[i], options.attributes[i]);
    if (!option) continue;
    char word[kValueBuffer];
    size_t n = option_word(*option, word, sizeof word);
    for (size_t c = 0; c < n && p < kOptionText; ++c) text[p++] = word[c];
    if (p < kOptionText - 1) ++p;
  }
}

// Each generic value of the source under its own names, and its entry in
// group GENERICS.
int add_generics(CgPart *part, CgPart source) {
  for (const CgGroup *g = source; g; g = g->next) {
    for (const CgAttribute *a = g->attributes; a; a = a->next) {
      for (int k = 0; a->genericFlags && k < a->valueCount; ++k) {
        const int32_t flag = a->genericFlags[k];
        if (flag == 0) continue;
        Value v;
        if (!value_at(*a, k, &v)) return PCS_GEN_NO_MEMORY;
        int rc = add_value(part, g->name, a->name, v, false, 0);
        if (rc == 0) rc = add_value(part, "GENERICS", "ATTRGRP ", text_value("C8      ", g->name, 8), false, 0);
        if (rc == 0) rc = add_value(part, "GENERICS", "ATTRNAME", text_value("C8      ", a->name, 8), false, 0);
        if (rc == 0) rc = add_value(part, "GENERICS", "VALUESTA", text_value("I4      ", &flag, 4), false, 0);
        if (rc != 0) return rc;
      }
    }
  }
  return 0;
}

// One catalog part (BuildCatalogPart): the groups of the third list from
// the second source, of the first list from the first source, the options,
// the option text and the generic values. *part holds what was built, also
// on failure.
int build_catalog_part(const Pairs &first, const Pairs &options, const Pairs &third,
                       CgPart source1, CgPart source2, CgPart *part) {
  int rc = 0;
  *part = nullptr;
  if (third.count > 0) {
    *part = cgagcre(third.groups[0], &rc);
    if (!*part) return PCS_GEN_NO_MEMORY;
  }
  if (source2) rc = copy_pairs(part, source2, third);
  if (rc == 0) rc = copy_pairs(part, source1, first);
  for (int i = 0; rc == 0 && i < options.count; ++i)
    rc = copy_values(part, source1, options.groups[i], options.attributes[i], "OPTIONS ",
                     options.attributes[i]);
  if (rc != 0) return rc;
  char text[kOptionText];
  option_text(source1, options, text);
  int length = kOptionText;
  sulbrm(text, &length, &rc);
  if (rc != 0) return rc;
  if (length < 0 || length > kOptionText) return PCS_GEN_NO_MEMORY;
  rc = add_value(part, "TYPEOPTS", "OPTIONS ", text_value("C40     ", text, length), false, 0);
  if (rc == 0 && source2) rc = add_generics(part, source2);
  return rc;
}

// The first value of a size attribute in an 80-character buffer; false when
// it is longer.
bool size_value(const CgAttribute *size, char out[kSizeBuffer]) {
  std::memset(out, ' ', kSizeBuffer);
  if (!size || size->valueCount < 1) return true;
  if (size->valueLength < 0 || size->valueLength > kSizeBuffer) return false;
  std::memcpy(out, size->values, size_t(size->valueLength));
  return true;
}

class PartMaker {
 public:
  PartMaker(const Pairs &first, const Pairs &options, const Pairs &third, CgPart source1,
            CgPart source2)
      : first_(first), options_(options), third_(third), source1_(source1), source2_(source2) {}

  int run(int *parts);

 private:
  int run_sizes(bool *given, char size1[kSizeBuffer], char size2[kSizeBuffer]);
  int make_part(const Value *run_size, int *parts);

  Pairs first_, options_, third_;
  CgPart source1_, source2_;
};

int PartMaker::run_sizes(bool *given, char size1[kSizeBuffer], char size2[kSizeBuffer]) {
  *given = false;
  const CgAttribute *from = find_attribute(source1_, "RUNSIZE1", "SIZE    ");
  const CgAttribute *to = find_attribute(source1_, "RUNSIZE2", "SIZE    ");
  if (!cgagfnd("RUNSIZE1", source1_)) return 0;
  if (!size_value(from, size1) || !size_value(to, size2)) return PCS_GEN_NO_MEMORY;
  const CgAttribute *measure = to ? to : from;
  const size_t width = measure && measure->valueLength > 0 ? size_t(measure->valueLength) : 0;
  *given = !blank(size1, width) || !blank(size2, width);
  return 0;
}

// Builds one part, appends the run size (when given) and the source's sizes
// to PIPESIZE.SIZE, and pushes the part, also when building it failed.
int PartMaker::make_part(const Value *run_size, int *parts) {
  CgPart part = nullptr;
  int rc = build_catalog_part(first_, options_, third_, source1_, source2_, &part);
  const CgAttribute *sizes = find_attribute(source1_, "PIPESIZE", "SIZE    ");
  if (rc == 0 && sizes && run_size) {
    Value v;
    if (!value_at(*sizes, 0, &v)) {
      rc = PCS_GEN_NO_MEMORY;
    } else {
      std::memset(v.bytes, ' ', kValueBuffer);
      std::memcpy(v.bytes, run_size->bytes, size_t(std::min(run_size->length, v.length)));
      rc = add_value(&part, "PIPESIZE", "SIZE    ", v, false, 0);
    }
  }
  const int source_sizes = run_size ? 1 : 2;
  for (int k = 0; rc == 0 && sizes && k < sizes->valueCount && k < source_sizes; ++k) {
    Value v;
    if (!value_at(*sizes, k, &v)) rc = PCS_GEN_NO_MEMORY;
    if (rc == 0) rc = add_value(&part, "PIPESIZE", "SIZE    ", v, false, 0);
  }
  if (!part) return rc;
  int pushed = 0, pushing = 0;
  guspus(parts, &part, &pushed, &pushing);
  if (pushing != 0) cggfre(part);
  return rc != 0 ? rc : pushing;
}

int PartMaker::run(int *parts) {
  int rc = 0;
  const int handle_size = PCS_HANDLE_SIZE;
  gusini(&handle_size, parts, &rc);
  if (rc != 0) return rc;
  bool given = false;
  char size1[kSizeBuffer], size2[kSizeBuffer];
  rc = run_sizes(&given, size1, size2);
  if (rc != 0 || !given) return rc != 0 ? rc : make_part(nullptr, parts);
  char standard[kSizeBuffer];
  if (!size_value(find_attribute(source1_, "STANDATA", "STANDARD"), standard))
    return PCS_GEN_NO_MEMORY;
  Stack range;
  pclrng(standard, "PRJSIZE ", size1, size2, range.out(), &rc);
  for (int empty = 0; rc == 0 && range;) {
    Value run_size;
    int width = 0, count = 0;
    gusinf(range.ptr(), &width, &count, &rc);
    if (rc == 0 && width > kValueBuffer) rc = PCS_GEN_NO_MEMORY;
    if (rc == 0) guspop(range.ptr(), run_size.bytes, &empty, &rc);
    if (rc != 0 || empty) break;
    run_size.length = width;
    rc = make_part(&run_size, parts);
  }
  return rc;
}

int option_pairs(int *groups, int *attributes) {
  *groups = *attributes = 0;
  Stack g, a;
  int rc = 0, count = 0;
  const int width = PCS_NAME_LEN;
  gusini(&width, g.out(), &rc);
  if (rc == 0) gusini(&width, a.out(), &rc);
  for (const auto &pair : kOptionPairs) {
    if (rc == 0) guspus(g.ptr(), pair[0], &count, &rc);
    if (rc == 0) guspus(a.ptr(), pair[1], &count, &rc);
  }
  if (rc == 0) {
    *groups = g.release();
    *attributes = a.release();
  }
  return rc;
}

}  // namespace
}  // namespace pcs::query

extern "C" void cgctprcr(const char *const *groups, const char *const *attributes,
                         const int *count, const char *const *option_groups,
                         const char *const *option_attributes, const int *option_count,
                         const char *const *source_groups, const char *const *source_attributes,
                         const int *source_count, CgGroup *first, CgGroup *second, int *parts,
                         int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    using pcs::query::Pairs;
    *parts = 0;
    pcs::query::PartMaker maker(Pairs{groups, attributes, *count},
                               Pairs{option_groups, option_attributes, *option_count},
                               Pairs{source_groups, source_attributes, *source_count}, first,
                               second);
    *rc = maker.run(parts);
  });
}

extern "C" void cgopts(int *groups, int *attributes, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::query::option_pairs(groups, attributes); });
}
