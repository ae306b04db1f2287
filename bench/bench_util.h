// What the benchmark programs share: sizes from the environment and a work
// directory that is removed at exit.
#ifndef PCS_BENCH_BENCH_UTIL_H
#define PCS_BENCH_BENCH_UTIL_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pcs::bench {

// The positive number in environment variable `name`, else `fallback`.
inline long env_number(const char *name, long fallback) {
  const char *text = std::getenv(name);
  const long value = text ? std::atol(text) : 0;
  return value > 0 ? value : fallback;
}

// Where benchmarks put their files: $TMPDIR, else /tmp.
inline std::string temp_root() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Makes a fresh directory <temp_root>/<prefix>XXXXXX; aborts when it cannot.
inline std::string make_temp_dir(const std::string &prefix) {
  std::string pattern = temp_root() + "/" + prefix + "XXXXXX";
  if (!mkdtemp(pattern.data())) std::abort();
  return pattern;
}

// A fresh directory <temp_root>/pcs-bench-<tag>-XXXXXX for the run's files,
// made on first use and removed with everything in it at exit. One per
// program.
inline const std::string &work_dir(const char *tag) {
  static const std::string dir = make_temp_dir(std::string("pcs-bench-") + tag + "-");
  // Registered once `dir` is complete, so that the removal runs before `dir`
  // is destroyed at exit.
  static const bool removed_at_exit = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(work_dir(""), ignored);
  }) == 0;
  (void)removed_at_exit;
  return dir;
}

}  // namespace pcs::bench

#endif
