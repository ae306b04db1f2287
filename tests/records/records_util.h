// Helpers of the part record tests: capture of a written stream, and a
// group built attribute by attribute.
#ifndef PCS_TESTS_RECORDS_UTIL_H
#define PCS_TESTS_RECORDS_UTIL_H

#include <cstdio>
#include <functional>
#include <string>

#include "common/fileio.h"
#include "common/report.h"
#include "records/records.h"
#include "tests/support/layouts.h"

namespace pcs::test_records {
using namespace pcs::records;

using RecordsTest = HostTest;
using pcs::test::capture_stderr;

// What `body` writes to a fresh binary stream.
inline std::string capture_stream(const std::function<void(FILE *)> &body) {
  FILE *stream = std::tmpfile();
  body(stream);
  std::string bytes;
  std::fflush(stream);
  std::rewind(stream);
  for (int c; (c = std::fgetc(stream)) != EOF;) bytes += static_cast<char>(c);
  std::fclose(stream);
  return bytes;
}

inline std::string raw(const void *data, size_t size) {
  return std::string(static_cast<const char *>(data), size);
}

// A group with attributes added by name; released with them.
struct Group {
  AttrGroup *p;
  explicit Group(const char *name) : p(csgrpnew(name)) {}
  ~Group() { DeleteAttribute(p), csgrpfre(p); }
  int add(const char *name, int count, int length, const void *values) {
    int rc = -1;
    Attribute *a = csatrnew(name, count, length, values, &rc);
    csgrpins(p, a, &rc, csatrcmp);
    if (rc != 0) csatrfre(a);
    return rc;
  }
};

}  // namespace pcs::test_records

#endif
