// Arbitrary bytes as a class map dump: statements are read token by token
// until the end, every token is a run of letters, digits and points of at
// most 79 characters, and cgclprs writes a CLASSMAP of whole lines.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "fuzz/fuzz_file.h"
#include "generators/generators.h"
#include "host/inprocess/testing.h"
#include "host/inprocess/model.h"

namespace gen = pcs::generators;

static void read_statements(FILE *file) {
  std::rewind(file);
  for (int statements = 0; !std::feof(file) && !std::ferror(file); ++statements) {
    int stack = 0, rc = 0;
    if (gen::ReadClassStatement(file, &stack) != 0 || statements > 100000) std::abort();
    for (const std::string &token : pcs::host::model::stack_entries(stack)) {
      const size_t n = strnlen(token.data(), token.size());
      if (n == 0 || n > 79) std::abort();
      for (size_t i = 0; i < n; ++i)
        if (!std::isalnum(static_cast<unsigned char>(token[i])) && token[i] != '.') std::abort();
    }
    gusend(&stack, &rc);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  read_statements(pcs::fuzz::load(data, size));
  static const std::string dir = pcs::fuzz::scratch("classmap");
  std::filesystem::create_directories(dir);
  pcs::fuzz::save(dir + "/dump", data, size);
  int rc = 0;
  cgclprs((dir + "/dump").c_str(), dir.c_str(), &rc);
  if (rc != 0 || pcs::host::live_stacks() != 0) std::abort();
  FILE *map = std::fopen((dir + "/CLASSMAP").c_str(), "rb");
  if (!map) std::abort();
  int last = '\n', c = 0;
  while ((c = std::fgetc(map)) != EOF) last = c;
  std::fclose(map);
  if (last != '\n') std::abort();
  std::filesystem::remove_all(dir);
  return 0;
}
