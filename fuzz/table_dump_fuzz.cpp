// Arbitrary bytes as a positional table dump for the table text tool: every
// table file it writes stays inside the output directory and holds whole
// 51-byte lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  pcs::fuzz::silence_stdout();  // cstabl reports each table it opens
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string base = pcs::fuzz::scratch("dump");
  const std::string input = base + "/in", output = base + "/out";
  fs::remove_all(base);
  fs::create_directories(output);
  pcs::fuzz::save(input, data, size);
  char input_field[46], output_field[41];
  std::snprintf(input_field, sizeof input_field, "%-45s", input.c_str());
  std::snprintf(output_field, sizeof output_field, "%-40s", output.c_str());
  int rc = -1;
  cstabl(input_field, output_field, &rc);
  if (rc < 0 || rc > 2) std::abort();
  for (const auto &entry : fs::directory_iterator(base))
    if (entry.path() != input && entry.path() != output) std::abort();  // nothing outside out/
  for (const auto &entry : fs::directory_iterator(output))
    if (!entry.is_regular_file() || entry.file_size() % 51 != 0) std::abort();
  fs::remove_all(base);
  return 0;
}
