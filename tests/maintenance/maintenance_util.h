// Helpers of the maintenance and key reader tests: the host fixture with
// file failures cleared, catalog records and index files built by hand from
// their documented layouts, and standard output capture.
#ifndef PCS_TESTS_MAINTENANCE_UTIL_H
#define PCS_TESTS_MAINTENANCE_UTIL_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/fileio.h"
#include "host/host_test.h"
#include "include/pcs.h"
#include "tests/support/support.h"

namespace pcs::test_maint {

class MaintTest : public pcs::test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    io::test_reset();
  }
  void TearDown() override {
    io::test_reset();
    HostTest::TearDown();
  }
};

// One attribute: name, value length and the values side by side.
struct Attr {
  std::string name;
  int length;
  std::string values;  // count * length bytes
};
struct Group {
  std::string name;
  std::vector<Attr> attrs;
};

// A catalog record laid out by hand: L | flag | 12 | G | group offsets |
// groups (name | n | attribute offsets | attributes) | newline.
inline std::string record(const std::vector<Group> &groups, int flag = 0) {
  std::string body;
  int offset = 16 + 4 * static_cast<int>(groups.size());
  std::string table;
  for (const Group &g : groups) {
    table += be32(offset);
    std::string block = field(g.name);
    block += be32(static_cast<int>(g.attrs.size()));
    int at = offset + 12 + 4 * static_cast<int>(g.attrs.size());
    std::string attrs;
    for (const Attr &a : g.attrs) {
      block += be32(at);
      std::string one = field(a.name) + be32(static_cast<int>(a.values.size()) / a.length) +
                        be32(a.length) + a.values;
      attrs += one;
      at += static_cast<int>(one.size());
    }
    block += attrs;
    body += block;
    offset += static_cast<int>(block.size());
  }
  const int length = 16 + static_cast<int>(table.size() + body.size()) + 1;
  return be32(length) + be32(flag) + be32(12) + be32(static_cast<int>(groups.size())) + table +
         body + "\n";
}

// A part with PARTNUM/PARTNO = part number (one value of `width` bytes).
inline std::string part(const std::string &number, int flag = 0, int width = 8) {
  return record({{"PARTNUM", {{"PARTNO", width, field(number, width)}}}}, flag);
}

// "%*d"
inline std::string num(long long value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*lld", width, value);
  return text;
}

// One index record: count, catalog offset, first record, key, newline.
inline std::string index_record(int count, int offset, int first, const std::string &key) {
  return num(count, 4) + num(offset, 12) + num(first, 12) + key + "\n";
}
inline std::string index_header(int n, int key_length) {
  return num(n, 12) + num(key_length, 4) + "\n";
}

// Everything `body` prints to standard output.
inline std::string capture_stdout(const std::function<void()> &body) {
  std::fflush(stdout);
  FILE *sink = std::tmpfile();
  const int saved = dup(1);
  dup2(fileno(sink), 1);
  body();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  std::rewind(sink);
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, sink)) > 0;) text.append(chunk, n);
  std::fclose(sink);
  return text;
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
