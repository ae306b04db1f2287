// Where a reader last refused bytes: every reader that finds a length,
// offset, count or closing byte it cannot accept says so through refuse(),
// which notes the source line and the file offset of the refused bytes.
// The note is kept per thread until read back (csdamage, last_damage), so
// diagnostics and tests can tell which check fired and where.
#ifndef PCS_COMMON_DAMAGE_H
#define PCS_COMMON_DAMAGE_H

#include <cstdint>

namespace pcs {

// The last refusal: the source file (from its folder on, e.g.
// "keyed/cspopn.cpp") and line of the check, and the offset in the file.
struct DamageSite {
  const char *source;
  int line;
  int64_t offset;
};

// Notes a refusal of the bytes at `offset`. Offsets are counted from the
// start of the bytes that the innermost DamageBase placed (the file when
// there is none).
void note_damage(int64_t offset, const char *source, int line) noexcept;

// Notes a refusal at the caller's line and returns `code`, the reader's own
// result for damage.
template <class Code>
Code refuse(Code code, int64_t offset, const char *source = __builtin_FILE(),
            int line = __builtin_LINE()) noexcept {
  note_damage(offset, source, line);
  return code;
}

// While alive, offsets noted by refuse() are counted from `base` of the
// file: a reader that walks a record it loaded from `base` places it so.
class DamageBase {
 public:
  explicit DamageBase(int64_t base) noexcept;
  ~DamageBase();
  DamageBase(const DamageBase &) = delete;
  DamageBase &operator=(const DamageBase &) = delete;

 private:
  int64_t saved_;
};

// Reads back and forgets the last refusal of this thread: false when there
// was none since the last read.
bool last_damage(DamageSite *site) noexcept;

}  // namespace pcs

#endif
