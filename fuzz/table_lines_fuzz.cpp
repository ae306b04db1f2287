// Arbitrary bytes read as table text lines and split by all three
// splitters: every field stays a terminated string inside its buffer, dump
// values stay within the card columns and descriptions within 40.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_file.h"
#include "generators/generators.h"

namespace gen = pcs::generators;

static void check_fields(const gen::Fields fields, size_t value_limit) {
  for (int k = 0; k < gen::kFields; ++k) {
    const size_t n = strnlen(fields[k], gen::kFieldSize);
    if (n >= size_t(gen::kFieldSize) || (k > 0 && n > value_limit)) std::abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FILE *file = pcs::fuzz::load(data, size);
  std::rewind(file);
  char line[gen::kLineSize];
  static gen::Fields fields;
  char name[gen::kFieldSize], code[gen::kFieldSize], description[gen::kFieldSize];
  while (gen::read_line(file, line)) {
    gen::SplitDumpLine(line, fields);
    check_fields(fields, gen::kCardEnd);
    gen::SplitCsvLine(line, fields);
    check_fields(fields, gen::kFieldSize - 1);
    gen::SplitEncodedEntry(line, name, code, description);
    if (strnlen(name, gen::kFieldSize) == size_t(gen::kFieldSize) ||
        strnlen(code, gen::kFieldSize) == size_t(gen::kFieldSize) || std::strlen(description) > 40)
      std::abort();
  }
  return 0;
}
