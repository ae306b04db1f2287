// Helpers of the catalog file tests: part records built from the same plain
// description as the hand-built records of tests/support/layouts.h, streams
// and handles over temporary files, sample parts.
#ifndef PCS_TESTS_CATALOG_FILES_H
#define PCS_TESTS_CATALOG_FILES_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/report.h"
#include "include/pcs.h"
#include "tests/support/layouts.h"

namespace pcs::test_catalog {
using namespace pcs::catalog;

// The host fixture with a temporary directory.
class CatalogTest : public pcs::test::HostTest {
 protected:
  pcs::test::TempDir dir_;
};

using pcs::test::Attr;
using pcs::test::catalog_record;
using pcs::test::Group;
using pcs::test::index_bytes;
using pcs::test::num;
using Part = std::vector<Group>;  // groups and attributes in name order

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

using pcs::test::capture_stderr;

// Sample parts: a group PART with the 8-byte key attribute NAME, and a few
// more attributes so that records differ in size.
inline Part sample_part(const std::string &name, double od, int sizes = 1) {
  std::string real(reinterpret_cast<const char *>(&od), 8);
  std::string ints;
  for (int i = 0; i < sizes; ++i) ints += be32(i + 1);
  return {{"DIMS", {{"OD", 1, 8, real}, {"SIZES", sizes, 4, ints}}},
          {"PART", {{"NAME", 1, 8, field(name)}}}};
}

// Writes dir/c.cat of sample parts (name, value count) and dir/i.idx over
// them; returns the (name, offset) pairs in index order.
inline std::vector<std::pair<std::string, int>> write_catalog(
    const pcs::test::TempDir &dir, const std::vector<std::pair<std::string, int>> &parts, double od) {
  std::string bytes;
  std::vector<std::pair<std::string, int>> entries;
  for (const auto &[name, sizes] : parts) {
    entries.push_back({name, static_cast<int>(bytes.size())});
    bytes += catalog_record(sample_part(name, od, sizes));
  }
  write_file(dir.path("c.cat"), bytes);
  write_file(dir.path("i.idx"), index_bytes(8, entries));
  return entries;
}

}  // namespace pcs::test_catalog

#endif
