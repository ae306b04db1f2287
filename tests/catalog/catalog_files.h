// Helpers of the catalog file tests: catalog records and index files built
// by hand from their documented layouts, part records built from the same
// description, streams and handles over temporary files, stderr capture.
#ifndef PCS_TESTS_CATALOG_FILES_H
#define PCS_TESTS_CATALOG_FILES_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/report.h"
#include "include/pcs.h"
#include "tests/support/support.h"

namespace pcs::test_catalog {

class CatalogTest : public pcs::test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    io::test_reset();
  }
  void TearDown() override {
    io::test_reset();
    HostTest::TearDown();
  }
  pcs::test::TempDir dir_;
};

struct Attr {
  std::string name;
  int count;
  int length;
  std::string values;  // count * length bytes
};
struct Group {
  std::string name;
  std::vector<Attr> attrs;
};
using Part = std::vector<Group>;  // groups and attributes in name order

// One catalog record, dense, as the documented layout gives it.
inline std::string record_bytes(const Part &part, int deleted = 0) {
  const int groups = static_cast<int>(part.size());
  int offset = 16 + 4 * groups;
  std::string table, body;
  for (const Group &g : part) {
    table += be32(offset);
    const int n = static_cast<int>(g.attrs.size());
    std::string head = field(g.name) + be32(n), attrs;
    int at = offset + 12 + 4 * n;
    for (const Attr &a : g.attrs) {
      head += be32(at);
      attrs += field(a.name) + be32(a.count) + be32(a.length) + a.values;
      at += 16 + a.count * a.length;
    }
    body += head + attrs;
    offset = at;
  }
  return be32(offset + 1) + be32(deleted) + be32(12) + be32(groups) + table + body + "\n";
}

// "%*d"
inline std::string num(long value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*ld", width, value);
  return text;
}

// An index file over (key, catalog offset) pairs, given in index order.
inline std::string index_bytes(int key_length, const std::vector<std::pair<std::string, int>> &entries) {
  const int r = key_length + 29;
  std::string out = num(static_cast<long>(entries.size()), 12) + num(key_length, 4) + "\n";
  for (size_t i = 0; i < entries.size();) {
    size_t j = i;
    while (j < entries.size() && entries[j].first == entries[i].first) ++j;
    for (size_t k = i; k < j; ++k)
      out += num(static_cast<long>(j - i), 4) + num(entries[k].second, 12) +
             num(17 + static_cast<long>(i) * r, 12) + field(entries[k].first, key_length) + "\n";
    i = j;
  }
  return out;
}

// A part record with the attributes of `part`.
inline PartRecord *make_part(const Part &part) {
  PartRecord *record = nullptr;
  int rc = -1;
  cspgcre(&record, &rc);
  for (const Group &g : part)
    for (const Attr &a : g.attrs)
      cspgadd(record, field(g.name).c_str(), field(a.name).c_str(), a.count, a.length,
              a.values.data(), &rc);
  return record;
}

// The values of an attribute as bytes ("" when it is not there).
inline std::string values_of(PartRecord *part, const std::string &group, const std::string &attr) {
  int count = 0, length = 0, rc = 0;
  QuietErrors quiet;
  cspgretn(part, field(group).c_str(), field(attr).c_str(), &count, &length, &rc);
  if (rc != 0) return "";
  std::string out(static_cast<size_t>(count * length), '\0');
  cspgretv(part, field(group).c_str(), field(attr).c_str(), out.data(), &rc);
  return out;
}

// An open stream that closes itself.
struct Stream {
  FILE *f;
  Stream(const std::string &path, const char *mode) : f(std::fopen(path.c_str(), mode)) {}
  ~Stream() {
    if (f) std::fclose(f);
  }
  Stream(const Stream &) = delete;
  Stream &operator=(const Stream &) = delete;
};

// A catalog handle opened with csgopen and closed at the end.
struct Catalog {
  CatalogHandle *h = nullptr;
  int rc = -1;
  Catalog(const std::string &catalog, const std::string &index, const char *mode = "r+b") {
    csgopen(field(mode).c_str(), (catalog + " ").c_str(), (index + " ").c_str(), &h, &rc);
  }
  ~Catalog() {
    if (!h) return;
    std::fclose(h->CatalogFile);
    std::fclose(h->IndexFile);
    gifree(h);
  }
  Catalog(const Catalog &) = delete;
  Catalog &operator=(const Catalog &) = delete;
};

// Everything `body` writes to standard error.
inline std::string capture_stderr(const std::function<void()> &body) {
  std::fflush(stderr);
  FILE *sink = std::tmpfile();
  int saved = dup(2);
  dup2(fileno(sink), 2);
  body();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  std::rewind(sink);
  char chunk[512];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, sink)) > 0) text.append(chunk, n);
  std::fclose(sink);
  return text;
}

// Sample parts: a group PART with the 8-byte key attribute NAME, and a few
// more attributes so that records differ in size.
inline Part sample_part(const std::string &name, double od, int sizes = 1) {
  std::string real(reinterpret_cast<const char *>(&od), 8);
  std::string ints;
  for (int i = 0; i < sizes; ++i) ints += be32(i + 1);
  return {{"DIMS", {{"OD", 1, 8, real}, {"SIZES", sizes, 4, ints}}},
          {"PART", {{"NAME", 1, 8, field(name)}}}};
}

}  // namespace pcs::test_catalog

#endif
