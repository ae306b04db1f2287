// The project file reader over arbitrary bytes: it accepts or rejects
// without crashing, and whatever it accepts is written back in a form that
// reads again to the same model.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/inprocess/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  namespace model = pcs::host::model;
  model::clear();
  if (model::load_text(std::string(reinterpret_cast<const char *>(data), size)) != 0) return 0;
  const std::string written = model::to_json();
  if (model::load_text(written) != 0 || model::to_json() != written) std::abort();
  return 0;
}
