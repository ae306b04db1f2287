// Samples of sorted 8-byte key prefixes: every kStep-th prefix, kept beside
// them so that the first prefix not below a wanted one is found by a search
// over the samples (few enough to stay in the processor's cache) and a scan
// of one step of prefixes, instead of a binary search that misses the cache
// at most of its probes. The held catalog index copy and the keyed search
// copy both search this way.
#ifndef PCS_COMMON_PREFIX_SAMPLES_H
#define PCS_COMMON_PREFIX_SAMPLES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace pcs {

class PrefixSamples {
 public:
  static constexpr size_t kStep = 16;

  // Prefixes [begin, end) hold the first one not below the wanted prefix;
  // when none of them is, it is the one at `end` (or there is none: n).
  struct Step {
    size_t begin, end;
  };

  static size_t count(size_t n) { return (n + kStep - 1) / kStep; }

  // Samples of n prefixes that never decrease; empty (false) when they do
  // decrease somewhere or there is no memory for the samples.
  bool take(const uint64_t *prefixes, size_t n) {
    n_ = n;
    samples_.reset();
    if (!std::is_sorted(prefixes, prefixes + n)) return false;
    samples_.reset(new (std::nothrow) uint64_t[count(n)]);
    for (size_t i = 0; samples_ && i < n; i += kStep) samples_[i / kStep] = prefixes[i];
    return samples_ != nullptr;
  }
  explicit operator bool() const { return samples_ != nullptr; }

  Step step_of(uint64_t wanted) const {
    const uint64_t *s = samples_.get();
    const auto b = static_cast<size_t>(std::lower_bound(s, s + count(n_), wanted) - s);
    return {b == 0 ? 0 : (b - 1) * kStep + 1, std::min(n_, b * kStep)};
  }

  // The first of the n prefixes not below `wanted`; n when none is.
  static size_t first_not_below(const uint64_t *prefixes, Step step, uint64_t wanted) {
    size_t i = step.begin;
    while (i < step.end && prefixes[i] < wanted) ++i;
    return i;
  }

 private:
  std::unique_ptr<uint64_t[]> samples_;
  size_t n_ = 0;
};

}  // namespace pcs

#endif
