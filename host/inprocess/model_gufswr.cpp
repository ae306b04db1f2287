// The duplicate merge's side of the model: the family of a part category
// (glrfam), deleting a part's model object (gldobj), and the report units
// (gufswr).
#include <cstdio>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

constexpr size_t kCategoryWidth = 24;
constexpr size_t kEltimeWidth = 16;

}  // namespace

extern "C" {

void glrfam(const char *category, int *family, int *rc) {
  Service call("glrfam", rc);
  call.chars(category, kCategoryWidth);
  if (family) *family = 0;
  call.run([&] {
    if (!category || !family) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    const std::string wanted = trim(field(category, kCategoryWidth));
    for (const Family &f : m->families) {
      for (const std::string &c : f.categories) {
        if (!wanted.empty() && trim(c) == wanted) {
          *family = f.id;
          return 0;
        }
      }
    }
    return PCS_HOST_NO_FAMILY;
  });
}

void gldobj(const int *family, const char *category, const char *eltime, int *rc) {
  Service call("gldobj", rc);
  call.number(family).chars(category, kCategoryWidth).chars(eltime, kEltimeWidth);
  call.run([&] {
    if (!family || !category || !eltime) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    Model *m = ensure_model(&code);
    if (!m) return code;
    bool known = false;
    for (const Family &f : m->families) known = known || f.id == *family;
    if (!known) return PCS_HOST_NO_FAMILY;
    const std::string wanted_category = trim(field(category, kCategoryWidth));
    const std::string wanted_stamp = trim(field(eltime, kEltimeWidth));
    for (auto part = m->part_objects.begin(); part != m->part_objects.end(); ++part) {
      if (part->family == *family && trim(part->category) == wanted_category &&
          trim(part->eltime) == wanted_stamp) {
        m->part_objects.erase(part);
        return 0;
      }
    }
    return PCS_HOST_NO_PART_OBJECT;
  });
}

void gufswr(const int *unit, const char *line, const int *length, int *rc) {
  Service call("gufswr", rc);
  const bool ok = unit && *unit >= 0 && length && *length >= 0 && (line || *length == 0);
  call.number(unit).chars(ok ? line : nullptr, ok ? size_t(*length) : 0);
  call.number(length);
  call.run([&] {
    if (!ok) return PCS_HOST_BAD_ARGUMENT;
    Unit &target = state().units[*unit];
    target.lines.emplace_back(line, size_t(*length));
    if (target.file) {
      std::fwrite(line, 1, size_t(*length), target.file);
      std::fputc('\n', target.file);
      std::fflush(target.file);
    }
    return 0;
  });
}

}  // extern "C"
