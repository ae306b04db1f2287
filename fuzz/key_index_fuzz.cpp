// The key index of an arbitrary generic part file: cgprincr must answer a
// sorted stack or one of its codes with no stack, in time linear in the
// file, and leave no memory or stack behind.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  pcs::fuzz::silence_stdout();
  // The element class is known (8 bytes); the query number is not and
  // counts 8 bytes: a key of 16 bytes.
  if (pcs::host::model::load_text(R"({"groups": {"ELCLASS": {"attributes": [
      {"name": "AELCLASS", "type": "C", "length": 8}]}}})") != 0)
    std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  pcs::host::model::clear_calls();  // the call record would grow from run to run
  const long blocks = pcs::host::memory().live_blocks;
  FILE *file = pcs::fuzz::load(data, size);
  const char *const groups[] = {"ELCLASS ", "SPCFUNC "};
  const char *const attributes[] = {"AELCLASS", "QRYNUMBR"};
  const int count = 2;
  int stack = 0, rc = -1;
  cgprincr(groups, attributes, &count, file, &stack, &rc);
  if (rc != 0 && stack != 0) std::abort();
  int entry = 0, entries = 0, info = 0;
  if (rc == 0) {
    gusinf(&stack, &entry, &entries, &info);
    if (entry != 20) std::abort();
    gusend(&stack, &info);
  }
  if (pcs::host::live_stacks() != 0 || pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
