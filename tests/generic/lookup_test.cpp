// Query part lookup: catalog names from the project setup, the key index of
// a generic part file, binary search and match collection against a linear
// scan, index file matches, the stack print, and pclrdcg end to end over the
// in-process host, with its failures.
#include <algorithm>
#include <random>
#include <set>

#include "host/inprocess/model.h"
#include "tests/keyed/keyed_fixture.h"
#include "tests/generic/generic_fixture.h"

namespace pcs::test {
namespace {

namespace model = pcs::host::model;

// A catalog part: element class, query number (12), part number (12) and,
// unless empty, options (6).
std::string catalog_part(const std::string &cls, const std::string &query, const std::string &number,
                         const std::string &options, int status = 0) {
  std::vector<Group> groups = {{"ELCLASS", {{"AELCLASS", 1, 8, field(cls)}}},
                               {"SPCFUNC", {{"QRYNUMBR", 1, 12, field(query, 12)}}},
                               {"PARTNUM", {{"PARTNO", 1, 12, field(number, 12)}}}};
  if (!options.empty()) groups.push_back({"TYPEOPTS", {{"OPTIONS", 1, 6, field(options, 6)}}});
  return record_bytes(groups, status);
}

class Lookup : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    model::clear();
    model::Model &m = model::data();
    m.setup.catalog_directory = dir_.root();
    m.setup.current_catalog = 4;
    m.catalogs = {{4, {"CATALOG1", "SECOND  ", "GENPARTS"}}};
    m.define_group("ELCLASS", {{"AELCLASS", 'C', 8}});
    m.define_group("SPCFUNC", {{"QRYNUMBR", 'C', 12}});
    write_file(dir_.path("CATALOG1"), "");
  }
  void TearDown() override {
    model::clear();
    HostTest::TearDown();
  }
  // pclrdcg's part numbers and options as "number|options" texts.
  std::multiset<std::string> lookup(const std::string &cls, const std::string &query, int *rc) {
    int parts = -1, options = -1;
    pclrdcg(field(cls).c_str(), field(query, 12).c_str(), &parts, &options, rc);
    const std::vector<std::string> numbers = model::stack_entries(parts),
                                   texts = model::stack_entries(options);
    EXPECT_EQ(numbers.size(), texts.size());
    std::multiset<std::string> out;
    for (size_t i = 0; i < numbers.size() && i < texts.size(); ++i) out.insert(numbers[i] + "|" + texts[i]);
    int ignored = 0;
    for (int *stack : {&parts, &options})
      if (*stack) gusend(stack, &ignored);
    return out;
  }

  TempDir dir_;
  std::string generic_ = dir_.path("GENPARTS");
};

TEST_F(Lookup, CatalogNames) {
  char first[256], second[256];
  int rc = -1;
  model::data().setup.catalog_directory = "/data cat  ";
  ASSERT_RC(0, (cgnames(first, second, &rc), rc));
  EXPECT_STREQ(first, "/data/cat/CATALOG1");
  EXPECT_STREQ(second, "/data/cat/GENPARTS");
  model::data().catalogs[0].names = {"A", "B", "C"};
  cgnames(first, second, &rc);
  EXPECT_STREQ(second, "/data/cat/C       ");  // the name's 8 characters
  struct Case {
    std::string directory, service;
    int expected;
  } cases[] = {{"", "", PCS_CANNOT_OPEN},
               {std::string(247, 'd'), "", PCS_PATH_TOO_LONG},
               {"/d", "pladata", PCS_HOST_NO_CATALOG},
               {"/d", "pu3cnam", PCS_HOST_NO_CATALOG},
               {"/d", "gj0frd", PCS_HOST_BAD_ARGUMENT}};
  for (const Case &c : cases) {
    model::data().setup.catalog_directory = c.directory;
    if (!c.service.empty()) model::fail_service(c.service, c.expected);
    rc = -1;
    cgnames(first, second, &rc);
    EXPECT_RC(c.expected, rc) << c.directory.size() << c.service;
    model::clear_failures();
  }
}

TEST_F(Lookup, FindsPartsOfAClassAndQuery) {
  // P-1, found first by the search, fixes the entry sizes; P-2 has no
  // options.
  write_file(generic_, catalog_part("FLANGE", "Q1", "P-2", "") + catalog_part("FLANGE", "Q1", "P-1", "OPT1") +
                           catalog_part("FLANGE", "Q2", "P-3", "OPT3") +
                           catalog_part("FLANGE", "Q1", "P-OLD", "OLD", -1) +
                           catalog_part("ELBOW", "Q1", "E-1", "OPTE"));
  int rc = -1;
  const std::string blanks(6, ' ');
  EXPECT_EQ(lookup("FLANGE", "Q1", &rc),
            (std::multiset<std::string>{field("P-1", 12) + "|OPT1  ", field("P-2", 12) + "|" + blanks}));
  EXPECT_RC(0, rc);
  EXPECT_EQ(lookup("FLANGE", "", &rc).size(), 3u);  // the element class alone
  EXPECT_EQ(lookup("ELBOW", "Q1", &rc), (std::multiset<std::string>{field("E-1", 12) + "|OPTE  "}));
  EXPECT_EQ(lookup("ELBOW", "Q9", &rc), std::multiset<std::string>{});
  EXPECT_RC(0, rc);
  // The first match's record fixes the entry sizes; without options there
  // is a part stack but no option stack.
  write_file(generic_, catalog_part("TEE", "Q1", "T-1", ""));
  int parts = 0, options = 0;
  EXPECT_RC(0, (pclrdcg("TEE     ", field("Q1", 12).c_str(), &parts, &options, &rc), rc));
  EXPECT_EQ(options, 0);
  EXPECT_EQ(model::stack_entries(parts).size(), 0u);
  gusend(&parts, &rc);
}

TEST_F(Lookup, Failures) {
  int rc = -1;
  EXPECT_RC(PCS_QUERY_CATALOG, (lookup("FLANGE", "Q1", &rc), rc));  // no generic part file
  write_file(generic_, catalog_part("FLANGE", "Q1", "P-1", "OPT1") + "junk");
  EXPECT_RC(PCS_INPUT_ENDED, (lookup("FLANGE", "Q1", &rc), rc));
  write_file(generic_, catalog_part("FLANGE", "Q1", "P-1", "OPT1"));
  std::remove(dir_.path("CATALOG1").c_str());
  EXPECT_RC(PCS_QUERY_CATALOG, (lookup("FLANGE", "Q1", &rc), rc));
  write_file(dir_.path("CATALOG1"), "");
  model::fail_service("gj0art", PCS_HOST_NO_GROUP, 3);  // the query number's length
  EXPECT_RC(PCS_HOST_NO_GROUP, (lookup("FLANGE", "Q1", &rc), rc));
  sweep_allocations([&](long) {
    int code = -1;
    const auto found = lookup("FLANGE", "Q1", &code);
    EXPECT_TRUE(code == 0 ? found.size() == 1 : code == PCS_GEN_NO_MEMORY || code == PCS_GUS_NO_MEMORY) << code;
  });
  for (long nth = 1; nth < 60; ++nth) {
    host::fail_stack_call(nth, PCS_GUS_BAD_INDEX);
    int code = -1, parts = -1, options = -1;
    pclrdcg("FLANGE  ", field("Q1", 12).c_str(), &parts, &options, &code);
    host::fail_stack_call(0, 0);
    EXPECT_EQ(parts != 0 && options != 0, code == 0) << nth;
    EXPECT_TRUE(code == 0 || code == PCS_GUS_BAD_INDEX) << nth;
    const bool done = host::stack_calls_injected() == 0;
    host::reset();  // a failed gusend leaves its stack open
    if (done) break;
  }
}

TEST_F(Lookup, KeyIndexOfAFile) {
  const std::string live = catalog_part("FLANGE", "Q1", "P-1", "OPT1");
  write_file(generic_, catalog_part("ELBOW", "Q7", "E-1", "", -1) + live);
  FILE *stream = std::fopen(generic_.c_str(), "rb");
  const char *groups[] = {"ELCLASS ", "NOGROUP ", "SPCFUNC "};
  const char *attributes[] = {"AELCLASS", "NOATTR  ", "QRYNUMBR"};
  int count = 3, stack = 0, rc = -1;
  ASSERT_RC(0, (cgprincr(groups, attributes, &count, stream, &stack, &rc), rc));
  EXPECT_EQ(host::rejected_lookups(), 1);
  const int position = static_cast<int>(catalog_part("ELBOW", "Q7", "E-1", "", -1).size());
  EXPECT_EQ(model::stack_entries(stack),
            std::vector<std::string>{field("FLANGE") + field("") + field("Q1", 12) + int_bytes(position)});
  gusend(&stack, &rc);
  std::fclose(stream);
  write_file(generic_, live + std::string("\0\0\0\x05", 4) + live);  // a length no record has
  stream = std::fopen(generic_.c_str(), "rb");
  EXPECT_RC(PCS_INPUT_ENDED, (cgprincr(groups, attributes, &count, stream, &stack, &rc), rc));
  EXPECT_EQ(stack, 0);
  std::fclose(stream);
}

TEST_F(Lookup, SearchAgreesWithLinearScan) {
  std::mt19937 random(5);
  const int key_length = 3, entry = key_length + 4;
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> keys, entries;
    const int n = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < n; ++i) {
      std::string key(key_length, 'A');
      for (char &c : key) c = static_cast<char>('A' + random() % 3);
      keys.push_back(key);
      entries.push_back(key + int_bytes(i));
    }
    int stack = make_stack(entries, entry), rc = 0;
    cgsort(&stack, cgcmpsrt, &rc);
    for (const char *query : {"AAA", "ABC", "CCB", "BBB", "CCC"}) {
      std::multiset<int> expected, got;
      for (int i = 0; i < n; ++i)
        if (keys[i] == query) expected.insert(i);
      int matches = 0, found = -1;
      cgfind(&stack, query, &key_length, cgcmpsrt, &found, &rc);
      EXPECT_EQ(found != 0, !expected.empty());
      ASSERT_RC(0, (cgqprmt2(query, &key_length, &stack, &matches, &rc), rc));
      for (const std::string &m : model::stack_entries(matches)) got.insert(*reinterpret_cast<const int *>(m.data()));
      EXPECT_EQ(got, expected) << query;
      if (matches) gusend(&matches, &rc);
    }
    gusend(&stack, &rc);
  }
  int stack = make_stack({"AB  "}, 4), rc = 0, found = -1, four = 4, wide = 9;
  cgfind(&stack, "ABCD", &four, cgcmpsrt, &found, &rc);
  EXPECT_EQ(found, 1);  // stored blanks match any byte
  cgfind(&stack, "ABCDEFGHI", &wide, cgcmpsrt, &found, &rc);
  EXPECT_EQ(found, 0);  // entries shorter than the key
  gusend(&stack, &rc);
}

TEST_F(Lookup, IndexFileMatches) {
  write_file(generic_, index_bytes(3, {{"AAA", 10}, {"BBB", 20}, {"BBB", 30}, {"CCC", 40}}));
  FILE *index = std::fopen(generic_.c_str(), "rb");
  int matches = -1, rc = -1;
  ASSERT_RC(0, (cgqprmt("BBB", index, &matches, &rc), rc));
  EXPECT_EQ(model::stack_entries(matches), (std::vector<std::string>{int_bytes(20), int_bytes(30)}));
  gusend(&matches, &rc);
  EXPECT_RC(0, (cgqprmt("ZZZ", index, &matches, &rc), rc));
  EXPECT_EQ(matches, 0);
  sweep_allocations([&](long) {
    cgqprmt("BBB", index, &matches, &rc);
    EXPECT_TRUE(rc == 0 || (rc == PCS_GUS_NO_MEMORY && matches == 0)) << rc;
    if (matches) gusend(&matches, &rc);
  });
  std::fclose(index);
}

TEST_F(Lookup, PrintsStacks) {
  int stack = make_stack({int_bytes(-3), "AB\x01Z"}, 4), rc = 0;
  EXPECT_EQ(capture_stderr([&] { cgstackp(&stack, 0, 0); }),
            "1 >-3< \n2 >" + std::to_string(*reinterpret_cast<const int *>("AB\x01Z")) + "< \n");
  EXPECT_EQ(capture_stderr([&] { cgstackp(&stack, 1, 2); }), "1 >\xfd\xff< \n2 >AB< \n");
  EXPECT_EQ(capture_stderr([&] { cgstackp(&stack, 1, 0); }), "1 >" + int_bytes(-3) + "< \n2 >AB\x01Z< \n");
  EXPECT_EQ(capture_stderr([&] { cgstackp(&stack, 2, 0); }), "");
  gusend(&stack, &rc);
}

}  // namespace
}  // namespace pcs::test
