// Arbitrary bytes through the checks of `pcs check` and the walk of
// `pcs repair`: as a catalog, as an index of itself, and as a keyed file;
// nothing may crash, and nothing may stay allocated.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "tools/command.h"
#include "tools/file_check.h"

namespace {

// A check that fails the command (a file that cannot be read) ends here.
template <class Check>
void run(Check &&check) {
  try {
    check();
  } catch (const CLI::RuntimeError &) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace pcs::tools;
  pcs::host::reset();
  pcs::host::suppress_reports(true);
  const long blocks = pcs::host::memory().live_blocks;
  static const std::string path = pcs::fuzz::scratch("check");
  pcs::fuzz::save(path, data, size);
  Findings found(path, nullptr);
  Starts starts;
  run([&] { starts = check_catalog(path, found); });
  const RecordKeys keys = {{0, "KEY     "}, {61, "OTHER   "}};
  run([&] { check_index(path, path, starts, &keys, found); });
  run([&] { check_keyed(path, {{"PIPE", "SIZE", 4}, {"END", "TYPE", 2}}, found); });
  run([&] { scan_keys(path, {{"PARTNUM", "PARTNO", 8}}, true); });
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
