// The per-thread note of the last refusal of bytes by a reader, and the
// entry point that reads it back.
#include "common/damage.h"

#include <cstdio>
#include <cstring>

#include "include/pcs.h"

namespace pcs {
namespace {

thread_local int64_t base_offset = 0;
thread_local DamageSite last{nullptr, 0, 0};
thread_local char where_text[128];

// The source path from its library folder on: the part after the second
// last slash.
const char *short_source(const char *path) {
  const char *last_slash = std::strrchr(path, '/');
  if (!last_slash) return path;
  const char *folder = last_slash;
  while (folder > path && folder[-1] != '/') --folder;
  return folder;
}

}  // namespace

void note_damage(int64_t offset, const char *source, int line) noexcept {
  last = DamageSite{short_source(source), line, base_offset + offset};
}

DamageBase::DamageBase(int64_t base) noexcept : saved_(base_offset) { base_offset += base; }
DamageBase::~DamageBase() { base_offset = saved_; }

bool last_damage(DamageSite *site) noexcept {
  if (!last.source) return false;
  *site = last;
  last = DamageSite{nullptr, 0, 0};
  return true;
}

}  // namespace pcs

extern "C" PCS_API const char *csdamage(long long *offset) {
  pcs::DamageSite site{};
  if (!pcs::last_damage(&site)) return nullptr;
  std::snprintf(pcs::where_text, sizeof pcs::where_text, "%s:%d", site.source, site.line);
  if (offset) *offset = site.offset;
  return pcs::where_text;
}
