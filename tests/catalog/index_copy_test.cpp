// Index files held in memory between lookups: a held copy answers exactly
// as the file read probe by probe does, and a file changed behind an open
// stream (rewritten, truncated, grown, replaced by a rename) is never
// answered from the copy of its old bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <random>

#include "tests/catalog/catalog_files.h"

namespace pcs::test_catalog {
using namespace pcs::catalog;
namespace {

class IndexCopyTest : public CatalogTest {
 protected:
  void SetUp() override {
    CatalogTest::SetUp();
    catalog::release_index_copies();
  }
  void TearDown() override {
    io::test_reset();
    catalog::release_index_copies();
    CatalogTest::TearDown();
  }
};

// Sets the file's modification time `seconds` back: a file left alone that
// long may be held in memory.
void age(const std::string &path, int seconds) {
  struct timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct Found {
  int rc, count, first;
  bool operator==(const Found &) const = default;
};

Found lookup(FILE *index, const std::string &key) {
  Found found{-1, -1, -1};
  csalku(&index, field(key).c_str(), &found.count, &found.first, &found.rc);
  return found;
}

// Catalog offset held by the index record at `at`, or -rc.
int data_at(FILE *index, int at) {
  int data = -1, rc = -1;
  csaget(&index, &at, &data, &rc);
  return rc == 0 ? data : -rc;
}

constexpr Found kAbsent{1, -1, -1};

// Before: AA at 0, BB twice at 61 and 122. After (same size): AA at 5, BX
// twice at 66 and 127.
const std::vector<std::pair<std::string, int>> kBefore = {{"AA", 0}, {"BB", 61}, {"BB", 122}};
const std::vector<std::pair<std::string, int>> kAfter = {{"AA", 5}, {"BX", 66}, {"BX", 127}};

TEST_F(IndexCopyTest, ChangedFileIsNeverAnsweredFromTheOldCopy) {
  const std::string path = dir_.path("i.idx"), other = dir_.path("new.idx");
  struct Case {
    const char *name;
    std::function<void()> change;
    bool reopen;           // open the path again after the change
    Found bb, bx;          // lookups after the change
    int second_record;     // csaget of the record at 54
  };
  const Found bb_before{0, 2, 54}, bx_after{0, 2, 54};
  const Case cases[] = {
      {"rewritten in place", [&] { write_file(path, index_bytes(8, kAfter)); }, false, kAbsent, bx_after, 66},
      {"truncated", [&] { ASSERT_EQ(truncate(path.c_str(), 60), 0); }, false, kAbsent, kAbsent, -1},
      {"grown by a record",
       [&] {
         auto more = kAfter;
         more.push_back({"CC", 200});
         write_file(path, index_bytes(8, more));
       },
       false, kAbsent, bx_after, 66},
      {"replaced by a rename, stream kept",
       [&] {
         write_file(other, index_bytes(8, kAfter));
         ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
       },
       false, bb_before, kAbsent, 61},
      {"replaced by a rename, path opened again",
       [&] {
         write_file(other, index_bytes(8, kAfter));
         ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
       },
       true, kAbsent, bx_after, 66},
  };
  for (const Case &c : cases) {
    for (bool aged_after : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (aged_after ? ", then left alone" : ", just now"));
      catalog::release_index_copies();
      write_file(path, index_bytes(8, kBefore));
      age(path, 3600);
      Stream s(path, "rb");
      ASSERT_EQ(lookup(s.f, "BB"), bb_before);
      io::test_fail_read(1, true);  // a held copy needs no read
      ASSERT_EQ(lookup(s.f, "BB"), bb_before);
      io::test_reset();
      c.change();
      if (aged_after && access(path.c_str(), F_OK) == 0) age(path, 1800);
      if (c.reopen) s.f = std::freopen(path.c_str(), "rb", s.f);
      ASSERT_NE(s.f, nullptr);
      EXPECT_EQ(lookup(s.f, "BB"), c.bb);
      EXPECT_EQ(lookup(s.f, "BX"), c.bx);
      EXPECT_EQ(data_at(s.f, 54), c.second_record);
    }
  }
}

TEST_F(IndexCopyTest, RecentlyChangedFileIsReadFromDisk) {
  const std::string path = dir_.path("i.idx");
  write_file(path, index_bytes(8, kBefore));
  Stream s(path, "rb");
  io::test_fail_read(1, true);  // no copy: the lookup's reads fail
  EXPECT_EQ(lookup(s.f, "BB"), kAbsent);
  io::test_reset();
  EXPECT_EQ(lookup(s.f, "BB"), (Found{0, 2, 54}));
}

// Keys with blanks inside, runs of one to three records.
std::vector<std::pair<std::string, int>> keys_of(int n) {
  std::vector<std::pair<std::string, int>> entries;
  for (int i = 0; static_cast<int>(entries.size()) < n; ++i)
    for (int j = 0; j <= i % 3 && static_cast<int>(entries.size()) < n; ++j)
      entries.push_back({"K " + std::to_string(1000 + 2 * i), 100 * i + j});
  return entries;
}

TEST_F(IndexCopyTest, HeldCopyAnswersAsTheFile) {
  for (int n : {0, 1, 2, 7, 301}) {
    SCOPED_TRACE(n);
    const std::string held = dir_.path("held.idx"), fresh = dir_.path("fresh.idx");
    const std::string bytes = index_bytes(12, keys_of(n));
    write_file(held, bytes);
    write_file(fresh, bytes);
    age(held, 3600);
    Catalog a(held, held, "rb"), b(fresh, fresh, "rb");
    ASSERT_RC(0, a.rc);
    ASSERT_RC(0, b.rc);
    for (int i = 0; i <= n + 1; ++i) {  // present keys and the gaps between them
      for (int odd : {0, 1}) {
        const std::string key = field("K " + std::to_string(1000 + 2 * i + odd), 12);
        Found x{-1, -1, -1}, y{-1, -1, -1};
        csalku(&a.h->IndexFile, key.c_str(), &x.count, &x.first, &x.rc);
        csalku(&b.h->IndexFile, key.c_str(), &y.count, &y.first, &y.rc);
        EXPECT_EQ(x, y) << key;
        char next_a[12], next_b[12];
        int rc_a = -1, rc_b = -1;
        capture_stderr([&] {
          cspgtnky(&a.h, key.c_str(), next_a, &rc_a);
          cspgtnky(&b.h, key.c_str(), next_b, &rc_b);
        });
        EXPECT_EQ(rc_a, rc_b) << key;
        if (rc_a == 0) {
          EXPECT_EQ(std::string(next_a, 12), std::string(next_b, 12));
        }
      }
    }
    const int r = 41;
    for (int at = 17; at <= 17 + n * r; at += r) {
      char key_a[12], key_b[12];
      int data_a = -1, data_b = -1, rc_a = -1, rc_b = -1;
      EXPECT_EQ(cspgread(a.h->IndexFile, at, &data_a, key_a, &rc_a),
                cspgread(b.h->IndexFile, at, &data_b, key_b, &rc_b));
      EXPECT_EQ(rc_a, rc_b);
      EXPECT_EQ(data_a, data_b);
      EXPECT_EQ(data_at(a.h->IndexFile, at), data_at(b.h->IndexFile, at));
    }
  }
}

// A held copy is searched by key prefixes: it must answer as the file does
// for any keys, sorted or not, with long common beginnings, zero bytes
// inside (and anything after them), bytes above 0x7F and blanks, and for
// search keys shorter than the common part or differing in it.
TEST_F(IndexCopyTest, PrefixSearchAnswersAsTheFileForAnyKeys) {
  std::mt19937 random(7);
  const char alphabet[] = {'\0', 'A', 'B', '\xff', ' '};
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::string held = dir_.path("held.idx"), fresh = dir_.path("fresh.idx");
  for (int trial = 0; trial < 80; ++trial) {
    const int k = std::vector<int>{3, 8, 12, 20}[static_cast<size_t>(trial % 4)];
    std::string common(static_cast<size_t>(pick(k + 1)), 'A');
    for (char &c : common) c = alphabet[1 + pick(4)];
    auto make_key = [&](size_t keep) {
      std::string key = common.substr(0, keep);
      while (key.size() < static_cast<size_t>(k)) key += alphabet[pick(5)];
      return key;
    };
    std::vector<std::pair<std::string, int>> entries;
    const int n = pick(120);
    for (int i = 0; i < n; ++i) entries.push_back({make_key(common.size()), 100 * i});
    if (trial % 5 != 0) std::sort(entries.begin(), entries.end());
    SCOPED_TRACE("trial " + std::to_string(trial));
    catalog::release_index_copies();
    write_file(held, index_bytes(k, entries));
    write_file(fresh, index_bytes(k, entries));
    age(held, 3600);
    Stream a(held, "rb"), b(fresh, "rb");
    std::vector<std::string> keys;
    for (const auto &e : entries) keys.push_back(e.first);
    for (int i = 0; i < 40; ++i)
      keys.push_back(make_key(static_cast<size_t>(pick(static_cast<int>(common.size()) + 1))));
    for (const std::string &key : keys) {
      const std::string text = key + std::string(1, '\0');
      Found x{-1, -1, -1}, y{-1, -1, -1};
      io::test_fail_read(1, true);  // the held copy needs no read
      csalku(&a.f, text.c_str(), &x.count, &x.first, &x.rc);
      io::test_reset();
      csalku(&b.f, text.c_str(), &y.count, &y.first, &y.rc);
      ASSERT_EQ(x, y) << testing::PrintToString(key);
    }
  }
}

}  // namespace
}  // namespace pcs::test_catalog
