// Shared test support: host fixture, temporary directory, file and byte
// helpers, result-code assertions.
#include "tests/support/support.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/coding.h"
#include "common/fileio.h"

namespace pcs::test {

void HostTest::SetUp() {
  pcs::host::reset();
  pcs::io::test_reset();
  start_blocks_ = pcs::host::memory().live_blocks;
}

void HostTest::TearDown() {
  pcs::host::clear_allocation_failure();
  pcs::io::test_reset();
  pcs::host::fail_stack_call(0, 0);
  EXPECT_EQ(pcs::host::memory().live_blocks, start_blocks_) << "host blocks leaked";
  EXPECT_EQ(pcs::host::live_stacks(), 0) << "host stacks left open";
}

std::vector<std::string> list_dir(const TempDir &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir.root()))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/pcs-test-XXXXXX";
  const char *made = mkdtemp(pattern);
  if (!made) ADD_FAILURE() << "cannot create a temporary directory";
  root_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  if (root_ == "/tmp") return;
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string TempDir::path(std::string_view name) const {
  return root_ + "/" + std::string(name);
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

bool file_exists(const std::string &path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

std::string be32(int value) {
  std::string word;
  append_be32(word, value);
  return word;
}

std::string field(std::string_view text, size_t width) {
  std::string padded(text.substr(0, width));
  padded.resize(width, ' ');
  return padded;
}

::testing::AssertionResult rc_equal(const char *expected_text, const char *actual_text,
                                    int expected, int actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << actual_text << " is " << pcs::host::code_name(actual) << " (" << actual
         << "), expected " << expected_text << " = " << pcs::host::code_name(expected) << " ("
         << expected << ")";
}

ToolRun run_tool(const TempDir &dir, const std::string &args) {
#ifdef PCS_TOOL
  const std::string out = dir.path("tool.out"), err = dir.path("tool.err");
  const std::string command = "cd " + dir.root() + " && " + PCS_TOOL + " " + args + " >" + out +
                              " 2>" + err + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
#else
  (void)dir;
  (void)args;
  ADD_FAILURE() << "PCS_TOOL is not defined for this test program";
  return {};
#endif
}

}  // namespace pcs::test
