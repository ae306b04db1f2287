// Shared test support: a fixture that resets the in-process host and checks
// for leaked blocks and stacks, a temporary directory, file and byte
// helpers for hand-built fixtures, result-code assertions that print code
// names, and the allocation-failure sweep.
#ifndef PCS_TESTS_SUPPORT_H
#define PCS_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "host/inprocess/testing.h"

namespace pcs::test {

// Resets the host and the file failure injector before each test; after
// it, expects every host block obtained during the test to be released and
// no stack left open.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  long start_blocks_ = 0;
};

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &root() const { return root_; }
  // root() + "/" + name
  std::string path(std::string_view name) const;

 private:
  std::string root_;
};

// The whole file as bytes ("" when it cannot be read); writes bytes as the
// whole file (a failed write fails the test).
std::string read_file(const std::string &path);
void write_file(const std::string &path, std::string_view bytes);
bool file_exists(const std::string &path);
// Names in the directory, sorted (temporary files left behind show here).
std::vector<std::string> list_dir(const TempDir &dir);

// 4-byte big-endian word, as every integer in the library's files.
std::string be32(int value);
// `text` cut or blank-padded to `width` bytes: a name field.
std::string field(std::string_view text, size_t width = 8);

// Formatter behind EXPECT_RC/ASSERT_RC: equal codes, or a failure naming both.
::testing::AssertionResult rc_equal(const char *expected_text, const char *actual_text,
                                    int expected, int actual);

// Runs scenario(k) with the k-th allocation from the start of the run
// failing, for k = 1, 2, ... until a run in which no allocation was failed.
// After each run, expects the live-block count and the open stacks back to
// what they were before it: the scenario must release everything it obtained,
// on its failure paths too. With `from_then_on`, every allocation from the
// k-th on fails. The scenario must not call pcs::host::reset().
template <class F>
void sweep_allocations(F scenario, bool from_then_on = false) {
  constexpr long kLimit = 1000000;
  for (long k = 1; k <= kLimit; ++k) {
    SCOPED_TRACE("allocation " + std::to_string(k) + " fails");
    const long blocks = pcs::host::memory().live_blocks;
    const int stacks = pcs::host::live_stacks();
    const long injected = pcs::host::memory().injected;
    pcs::host::fail_allocation(k, from_then_on);
    scenario(k);
    const bool failed_one = pcs::host::memory().injected > injected;
    pcs::host::clear_allocation_failure();
    EXPECT_EQ(pcs::host::memory().live_blocks, blocks) << "blocks leaked";
    EXPECT_EQ(pcs::host::live_stacks(), stacks) << "stacks left open";
    if (!failed_one || ::testing::Test::HasFatalFailure()) return;
  }
  ADD_FAILURE() << "the scenario still allocates after " << kLimit << " allocations";
}

// Runs call() with the nth host stack call from its start failing with
// `code`, for n = 1, 2, ... until a run in which no stack call was failed.
// prepare() runs before each run is armed and release() after it is
// disarmed, so the test's own stack calls never fail; after release() the
// open stacks must be back to what they were before prepare().
template <class Prepare, class Call, class Release>
void sweep_stack_calls(int code, Prepare prepare, Call call, Release release) {
  for (long n = 1; n <= 100000; ++n) {
    SCOPED_TRACE("stack call " + std::to_string(n) + " fails");
    const int stacks = pcs::host::live_stacks();
    prepare();
    const long injected = pcs::host::stack_calls_injected();
    pcs::host::fail_stack_call(n, code);
    call();
    pcs::host::fail_stack_call(0, 0);
    const bool failed_one = pcs::host::stack_calls_injected() > injected;
    release();
    EXPECT_EQ(pcs::host::live_stacks(), stacks) << "stacks left open";
    if (!failed_one || ::testing::Test::HasFatalFailure()) return;
  }
}

// One run of the command-line program (PCS_TOOL) in the directory `dir`,
// with `args` given to the shell and no standard input: its exit status and
// what it wrote to standard output and error.
struct ToolRun {
  int status = -1;
  std::string out, err;
};
ToolRun run_tool(const TempDir &dir, const std::string &args);

}  // namespace pcs::test

#define EXPECT_RC(expected, actual) \
  EXPECT_PRED_FORMAT2(::pcs::test::rc_equal, static_cast<int>(expected), static_cast<int>(actual))
#define ASSERT_RC(expected, actual) \
  ASSERT_PRED_FORMAT2(::pcs::test::rc_equal, static_cast<int>(expected), static_cast<int>(actual))

using pcs::test::be32;
using pcs::test::field;
using pcs::test::file_exists;
using pcs::test::HostTest;
using pcs::test::read_file;
using pcs::test::run_tool;
using pcs::test::ToolRun;
using pcs::test::sweep_allocations;
using pcs::test::sweep_stack_calls;
using pcs::test::TempDir;
using pcs::test::write_file;

#endif
