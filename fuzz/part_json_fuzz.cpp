// Arbitrary bytes through the JSON readers of the command line's part and
// keyed record descriptions (`pcs parts put`, `pcs keyed put`): parsed as
// JSON, read as a generic part (with a small schema) and as a keyed group
// list, and a part read is written back as JSON and text. Nothing may crash,
// and nothing may stay allocated.
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "tools/part_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  pcs::host::suppress_reports(true);
  const long blocks = pcs::host::memory().live_blocks;
  const nlohmann::json doc = nlohmann::json::parse(data, data + size, nullptr, false);
  if (doc.is_discarded()) return 0;
  const pcs::tools::DeclaredLength declared = [](const std::string &group, const std::string &attribute) {
    return group == "PIPE    " && attribute == "SIZE    " ? 4 : 0;
  };
  std::string error;
  if (CgGroup *part = pcs::tools::part_from_json(doc, &error, declared)) {
    pcs::tools::part_to_json(part).dump();
    pcs::tools::part_text(part);
    cggfre(part);
  }
  if (KeyedGroup *list = pcs::tools::keyed_list_from_json(doc, &error)) cspfre(&list);
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
