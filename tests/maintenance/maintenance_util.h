// Helpers of the maintenance and key reader tests: the host fixture, the
// hand-built layouts of tests/support/layouts.h, a one-attribute part
// record, and key descriptions.
#ifndef PCS_TESTS_MAINTENANCE_UTIL_H
#define PCS_TESTS_MAINTENANCE_UTIL_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "maintenance/maintenance.h"
#include "common/fileio.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "tests/support/layouts.h"

namespace pcs::test_maint {
using namespace pcs::maintenance;

using namespace pcs::test;  // the shared layouts and helpers
using MaintTest = HostTest;

// A part with PARTNUM/PARTNO = part number (one value of `width` bytes).
inline std::string part(const std::string &number, int flag = 0, int width = 8) {
  return catalog_record({{"PARTNUM", {{"PARTNO", 1, width, field(number, width)}}}}, flag);
}

// An elbow part as the duplicate merge reads it: time stamp, category and
// part number.
inline std::string elbow(const std::string &number, const std::string &stamp,
                         const std::string &category = "ELBOW") {
  return catalog_record({{"ELCATLOG", {{"ELTIME", 1, 16, field(stamp, 16)}}},
                         {"PARTDEF", {{"CATEGORY", 1, 24, field(category, 24)}}},
                         {"PARTNUM", {{"PARTNO", 1, 8, field(number, 8)}}}});
}

// A host array of 16-byte group + attribute entries; free it with
// pcs::free_key_description.
inline void *description(const std::vector<std::pair<std::string, std::string>> &fields) {
  void *array = pparynew(static_cast<int>(fields.size()));
  for (size_t i = 0; i < fields.size(); ++i) {
    auto *entry = static_cast<char *>(gimaloc(PCS_KEY_FIELD));
    const std::string names = field(fields[i].first) + field(fields[i].second);
    std::memcpy(entry, names.data(), PCS_KEY_FIELD);
    pparystr(array, static_cast<int>(i), entry);
  }
  return array;
}

}  // namespace pcs::test_maint

#endif
