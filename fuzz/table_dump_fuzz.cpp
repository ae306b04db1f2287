// Arbitrary bytes as a positional table dump for the table text tool: every
// table file it writes stays inside the output directory and holds whole
// 51-byte lines.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/host_test.h"
#include "include/pcs.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // cstabl reports each table it opens on standard output.
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string base = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                  "/pcs-fuzz-dump-" + std::to_string(getpid());
  const std::string input = base + "/in", output = base + "/out";
  fs::remove_all(base);
  fs::create_directories(output);
  FILE *file = std::fopen(input.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
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
