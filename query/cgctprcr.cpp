// Catalog parts from query data: the standard option pairs (cgopts).
#include "common/report.h"
#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs {
namespace {

constexpr const char *kOptionPairs[][2] = {{"PIPESIZE", "SIZE    "},
                                           {"ENDSPEC ", "RATG    "},
                                           {"ENDSPEC ", "ENDS    "},
                                           {"ENDSPEC ", "SCH     "},
                                           {"ELMMATL ", "MAINCODE"}};

int option_pairs(int *groups, int *attributes) {
  *groups = *attributes = 0;
  int rc = 0, count = 0, spare = 0;
  const int width = PCS_NAME_LEN;
  gusini(&width, groups, &rc);
  if (rc == 0) gusini(&width, attributes, &rc);
  for (const auto &pair : kOptionPairs) {
    if (rc == 0) guspus(groups, pair[0], &count, &rc);
    if (rc == 0) guspus(attributes, pair[1], &count, &rc);
  }
  if (rc != 0) {
    if (*groups) gusend(groups, &spare);
    if (*attributes) gusend(attributes, &spare);
    *groups = *attributes = 0;
  }
  return rc;
}

}  // namespace
}  // namespace pcs

extern "C" void cgopts(int *groups, int *attributes, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { *rc = pcs::option_pairs(groups, attributes); });
}
