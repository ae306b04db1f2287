// Helpers of the part record tests: the host fixture with file failures
// cleared, capture of standard error and of a written stream, and small
// builders.
#ifndef PCS_TESTS_RECORDS_UTIL_H
#define PCS_TESTS_RECORDS_UTIL_H

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "common/fileio.h"
#include "common/report.h"
#include "records/records.h"
#include "tests/support/support.h"

namespace pcs::test_records {

class RecordsTest : public HostTest {
 protected:
  void SetUp() override { HostTest::SetUp(), io::test_reset(); }
  void TearDown() override { io::test_reset(), HostTest::TearDown(); }
};

inline std::string slurp(FILE *f) {
  std::string bytes;
  std::fflush(f);
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) bytes += static_cast<char>(c);
  std::fclose(f);
  return bytes;
}

// What `body` writes to file descriptor 2, or to a fresh binary stream.
inline std::string capture_stderr(const std::function<void()> &body) {
  std::fflush(stderr);
  FILE *sink = std::tmpfile();
  int saved = dup(2);
  dup2(fileno(sink), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  return slurp(sink);
}
inline std::string capture_stream(const std::function<void(FILE *)> &body) {
  FILE *stream = std::tmpfile();
  body(stream);
  return slurp(stream);
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
