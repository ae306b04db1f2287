// Samples of sorted 8-byte key prefixes: every kStep-th prefix, and every
// kStep-th of those, kept beside them so that the first prefix not below a
// wanted one is found by a binary search over the coarse samples (few
// enough to stay in the processor's cache) and a scan of one step of fine
// samples and one of prefixes, instead of a binary search that misses the
// cache at most of its probes. The held catalog index copy and the keyed
// search copy both search this way.
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
  // Bytes held for the samples of n prefixes.
  static size_t bytes(size_t n) { return (count(n) + count(count(n))) * sizeof(uint64_t); }

  // Samples of n prefixes that never decrease, and samples of those; none
  // when the prefixes decrease somewhere or there is no memory.
  void take(const uint64_t *prefixes, size_t n) {
    n_ = n;
    fine_.reset();
    coarse_.reset();
    if (!std::is_sorted(prefixes, prefixes + n)) return;
    fine_ = sampled(prefixes, n);
    if (fine_) coarse_ = sampled(fine_.get(), count(n));
    if (!coarse_) fine_.reset();
  }
  explicit operator bool() const { return fine_ != nullptr; }

  // Through the coarse samples, one step of fine ones, and from it the
  // step of prefixes.
  Step step_of(uint64_t wanted) const {
    const size_t m = count(n_);
    const uint64_t *c = coarse_.get();
    const auto s = static_cast<size_t>(std::lower_bound(c, c + count(m), wanted) - c);
    const size_t b = first_not_below(fine_.get(), step_after(s, m), wanted);
    return step_after(b, n_);
  }

  // The first prefix of the step not below `wanted`; the step's end when
  // none is.
  static size_t first_not_below(const uint64_t *prefixes, Step step, uint64_t wanted) {
    size_t i = step.begin;
    while (i < step.end && prefixes[i] < wanted) ++i;
    return i;
  }

 private:
  static std::unique_ptr<uint64_t[]> sampled(const uint64_t *values, size_t n) {
    std::unique_ptr<uint64_t[]> samples(new (std::nothrow) uint64_t[count(n)]);
    for (size_t i = 0; samples && i < n; i += kStep) samples[i / kStep] = values[i];
    return samples;
  }
  // Sample b is the first not below the wanted value: of n values the
  // first not below it is among those after sample b - 1 up to sample b.
  static Step step_after(size_t b, size_t n) {
    return {b == 0 ? 0 : (b - 1) * kStep + 1, std::min(n, b * kStep)};
  }

  std::unique_ptr<uint64_t[]> fine_, coarse_;
  size_t n_ = 0;
};

}  // namespace pcs

#endif
