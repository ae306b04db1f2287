// Index files built by hand: header and record layout, the binary search
// against a linear scan, walking keys, deleting by key, and indexes whose
// header or records cannot be trusted.
#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "tests/catalog/catalog_files.h"

namespace pcs::test_catalog {
using namespace pcs::catalog;
namespace {

class CatalogIndex : public CatalogTest {};

TEST_F(CatalogIndex, LayoutOfThreeRecords) {
  const std::string path = dir_.path("i.idx");
  const std::string bytes = index_bytes(8, {{"AA", 0}, {"BB", 61}, {"BB", 122}});
  ASSERT_EQ(bytes.substr(0, 17), std::string(11, ' ') + "3   8\n");
  ASSERT_EQ(bytes.substr(54, 37), "   2          61          54BB      \n");
  write_file(path, bytes);
  Stream s(path, "rb");
  int r = 0, rc = -1, data = -5;
  csailn(&s.f, &r, &rc);
  EXPECT_EQ(r, 37);
  EXPECT_RC(0, rc);
  for (int at : {16, 18, 111, 128, -1}) {
    csaget(&s.f, &at, &data, &rc);
    EXPECT_RC(1, rc) << at;
  }
  EXPECT_EQ(data, -5);
  const int want[] = {0, 61, 122};
  for (int i = 0; i < 3; ++i) {
    int at = 17 + 37 * i;
    EXPECT_RC(0, (csaget(&s.f, &at, &data, &rc), rc));
    EXPECT_EQ(data, want[i]);
    char key[8];
    EXPECT_EQ(cspgread(s.f, at, &data, key, &rc), i == 0 ? 1 : 2);
    EXPECT_EQ(std::string(key, 8), field(i == 0 ? "AA" : "BB"));
  }
  EXPECT_EQ(cspgread(s.f, 128, &data, nullptr, &rc), 0);  // the end
  EXPECT_RC(0, rc);
}

// Keys with blanks inside and at the end, runs of one to three records.
std::vector<std::pair<std::string, int>> keys_of(int n) {
  std::vector<std::pair<std::string, int>> entries;
  for (int i = 0; static_cast<int>(entries.size()) < n; ++i) {
    std::string key = "K " + std::to_string(1000 + 2 * i) + " X";
    for (int j = 0; j <= i % 3 && static_cast<int>(entries.size()) < n; ++j)
      entries.push_back({key, 100 * i + j});
  }
  return entries;
}

TEST_F(CatalogIndex, SearchAgreesWithLinearScan) {
  for (int n : {0, 1, 2, 3, 7, 100, 301}) {
    SCOPED_TRACE(n);
    const auto entries = keys_of(n);
    write_file(dir_.path("i.idx"), index_bytes(12, entries));
    Catalog cat(dir_.path("i.idx"), dir_.path("i.idx"), "rb");
    ASSERT_RC(0, cat.rc);
    std::map<std::string, std::pair<int, int>> runs;  // key -> count, first
    for (size_t i = 0; i < entries.size(); ++i) {
      auto &run = runs[field(entries[i].first, 12)];
      if (run.first++ == 0) run.second = 17 + 41 * static_cast<int>(i);
    }
    for (const auto &[key, run] : runs) {
      int count = -1, first = -1, rc = -1;
      csalku(&cat.h->IndexFile, key.c_str(), &count, &first, &rc);
      EXPECT_RC(0, rc) << key;
      EXPECT_EQ(count, run.first);
      EXPECT_EQ(first, run.second);
    }
    std::vector<std::string> absent = {field("", 12), field("A", 12), field("Z", 12)};
    for (int i = 0; i <= n; ++i) absent.push_back(field("K " + std::to_string(1001 + 2 * i) + " X", 12));
    for (const std::string &key : absent) {  // before, between and after the keys
      int count = -1, first = -1, rc = -1;
      EXPECT_RC(1, (csalku(&cat.h->IndexFile, key.c_str(), &count, &first, &rc), rc));
      EXPECT_EQ(count, -1);
      EXPECT_EQ(first, -1);
    }
    // Walking from a blank key gives every key once, in order.
    std::string key = field("", 12), next(12, '\0'), walked, expected;
    for (const auto &run : runs) expected += run.first;
    int rc = 0;
    while (true) {
      cspgtnky(&cat.h, key.c_str(), next.data(), &rc);
      if (rc != 0) break;
      walked += next;
      key = next;
    }
    EXPECT_EQ(walked, expected);
  }
}

// The search orders keys as strncmp does: bytes above 127 last, the first
// differing byte of any eight-byte word or of the tail deciding, and a key
// shorter than K ending where its terminating zero meets the record's.
TEST_F(CatalogIndex, SearchComparesKeysAsStrncmp) {
  const int k = 20;
  std::vector<std::string> keys = {"A",      "AAAAAAAAAA", "AAAAAAAAAB", "AAAAAAAAAAAAAAAAAAA",
                                   "AAAAAAAAAAAAAAAAAAB",   "\xe9Z",      "Z\xe9",
                                   std::string("AB\0Q", 4)};
  for (std::string &key : keys) key = field(key, k);
  std::sort(keys.begin(), keys.end(), [](const std::string &a, const std::string &b) {
    return std::strncmp(a.c_str(), b.c_str(), 20) < 0;
  });
  std::vector<std::pair<std::string, int>> entries;
  for (const std::string &key : keys)
    entries.push_back({key, 100 * static_cast<int>(entries.size())});
  write_file(dir_.path("i.idx"), index_bytes(k, entries));
  Catalog cat(dir_.path("i.idx"), dir_.path("i.idx"), "rb");
  ASSERT_RC(0, cat.rc);
  auto lookup = [&](const char *key) {
    int count = -1, first = -1, rc = -1;
    csalku(&cat.h->IndexFile, key, &count, &first, &rc);
    return rc == 0 && count == 1 ? (first - 17) / (k + 29) : -rc;
  };
  for (size_t i = 0; i < keys.size(); ++i)
    EXPECT_EQ(lookup(keys[i].c_str()), static_cast<int>(i)) << i;
  const auto nul = std::find(keys.begin(), keys.end(), field(std::string("AB\0Q", 4), k));
  EXPECT_EQ(lookup("AB"), static_cast<int>(nul - keys.begin()));  // ends at the record's zero
  for (const std::string absent : {"AC", "AAAAAAAAAC", "AAAAAAAAAAAAAAAAAAC", "\xe9"})
    EXPECT_EQ(lookup(field(absent, k).c_str()), -1) << absent;
  EXPECT_EQ(lookup("A"), -1);  // its zero meets a blank
}

TEST_F(CatalogIndex, NextKeyOfAnAbsentKeyAsserts) {
  write_file(dir_.path("i.idx"), index_bytes(4, {{"B", 0}}));
  Catalog cat(dir_.path("i.idx"), dir_.path("i.idx"), "rb");
  char next[4] = {'?', '?', '?', '?'};
  int rc = -1;
  EXPECT_EQ(capture_stderr([&] { cspgtnky(&cat.h, "A   ", next, &rc); }),
            "\nAssert Failed: cspgtnky, line 180\n");
  EXPECT_RC(1, rc);
  EXPECT_EQ(std::string(next, 4), "????");
}

TEST_F(CatalogIndex, DeleteByKeyAndNumber) {
  const auto entries = write_catalog(
      dir_, {{"ANGLE", 1}, {"TEE", 1}, {"TEE", 1}, {"TEE", 1}, {"VALVE", 1}, {"VALVE", 1}}, 1.5);
  Catalog cat(dir_.path("c.cat"), dir_.path("i.idx"));
  ASSERT_RC(0, cat.rc);
  const std::string tee = field("TEE"), valve = field("VALVE");
  int number = -1, rc = -1;
  csggnrc(&cat.h, tee.c_str(), &number, &rc);
  EXPECT_EQ(number, 3);
  EXPECT_RC(1, (csggnrc(&cat.h, field("NONE").c_str(), &number, &rc), rc));
  EXPECT_EQ(number, 0);
  auto delete_nth = [&](int n) { return csgdnrc(&cat.h, tee.c_str(), &n, &rc), rc; };
  EXPECT_RC(2, delete_nth(0));
  EXPECT_RC(2, delete_nth(4));
  EXPECT_RC(0, delete_nth(3));
  EXPECT_RC(0, delete_nth(3));  // again: still 0
  EXPECT_RC(0, (csgdelrc(&cat.h, valve.c_str(), &rc), rc));
  EXPECT_RC(1, (csgdelrc(&cat.h, field("NONE").c_str(), &rc), rc));
  std::fflush(cat.h->CatalogFile);
  const std::string after = read_file(dir_.path("c.cat"));
  for (size_t i = 0; i < entries.size(); ++i)  // flags of TEE #3 and both VALVEs
    EXPECT_EQ(after.substr(static_cast<size_t>(entries[i].second) + 4, 4), be32(i == 3 || i >= 4))
        << i;
  EXPECT_EQ(read_file(dir_.path("i.idx")), index_bytes(8, entries));
}

// The number fields of headers and records: right-aligned decimals that
// fit 32 bits, nothing else.
TEST(IndexField, OnlyBlanksSignAndDigitsThatFit) {
  const std::vector<std::pair<std::string, std::optional<int32_t>>> cases = {
      {"  12", 12}, {"  -5", -5}, {"0000", 0}, {"  -0", 0}, {"  2147483647", INT32_MAX},
      {" -2147483647", -INT32_MAX}, {"  2147483648", {}}, {" -2147483648", {}},
      {"999999999999", {}}, {"    ", {}}, {"   -", {}}, {"  - ", {}}, {" 1 2", {}},
      {" +12", {}}, {"12  ", {}}, {"  1\xff", {}}, {"  1/", {}}, {"  1:", {}}, {"--12", {}}};
  for (const auto &[text, expected] : cases) {
    int32_t value = 77;
    const bool parsed = parse_field(text.data(), static_cast<int>(text.size()), &value);
    EXPECT_EQ(parsed, expected.has_value()) << "'" << text << "'";
    EXPECT_EQ(value, expected.value_or(77)) << "'" << text << "'";
  }
}

TEST_F(CatalogIndex, UntrustedIndexesAreNotFound) {
  const auto entries = keys_of(5);
  const std::string good = index_bytes(12, entries);
  const std::string path = dir_.path("i.idx");
  const std::string key = field(entries[4].first, 12);
  auto lookup = [&](const std::string &bytes) {
    write_file(path, bytes);
    Stream s(path, "rb");
    int count = 0, first = 0, rc = -1, data = 0;
    char buffer[12];
    const int got = cspgread(s.f, 17, &data, buffer, &rc);
    EXPECT_EQ(got, rc == 0 ? 1 : 0);
    return csalku(&s.f, key.c_str(), &count, &first, &rc), rc;
  };
  EXPECT_RC(0, lookup(good));
  for (size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_RC(1, lookup(good.substr(0, cut))) << cut;
    Stream s(path, "rb");
    int r = 0, rc = -1;
    EXPECT_RC(1, (csailn(&s.f, &r, &rc), rc));
  }
  EXPECT_RC(1, lookup(good + "\n"));
  const std::vector<std::pair<size_t, std::string>> lies = {
      {0, num(6, 12)},  {0, num(4, 12)},     {0, num(-1, 12)}, {0, "         x 5"},
      {12, num(13, 4)}, {12, num(0, 4)},     {12, "  -1"},     {16, " "},
      // count and first-record fields of record 3, where the search finds
      // the key (its run is records 3 and 4)
      {17 + 3 * 41, num(3, 4)}, {17 + 3 * 41 + 16, num(17 + 41 * 3 + 1, 12)},
      {17 + 3 * 41 + 16, num(17 + 41 * 5, 12)}, {17 + 3 * 41, "   0"}};
  for (const auto &[at, text] : lies) {
    std::string bad = good;
    bad.replace(at, text.size(), text);
    EXPECT_RC(1, lookup(bad)) << at << " '" << text << "'";
  }
}

}  // namespace
}  // namespace pcs::test_catalog
