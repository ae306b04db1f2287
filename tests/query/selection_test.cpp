// The selection engine through its C interface: its answers for a
// specification of two entries (size ranges, generic values, a minimum and
// a maximum size) over a generic part file with duplicate part numbers and
// a replaced record equal those of a brute-force comparison of every pair;
// every explanation agrees with its decision; each result code; allocation
// failures injected one by one; values as text.
#include <cstring>
#include <map>
#include <set>

#include "common/coding.h"
#include "host/host_model.h"
#include "include/pcs_select.h"
#include "tests/query/brute_force.h"
#include "tests/query/piping_fixture.h"

namespace {

using namespace pcs::pipingtest;
namespace brute = pcs::bruteforce;

class Selection : public SpecProject {
 protected:
  void SetUp() override {
    SpecProject::SetUp();
    model::data().setup.ibafr7 = 1;  // the minimum is tested by the size check
    path_ = dir_.path("GENPARTS");
    write_catalog();
    const double origin = 0, extent = 1;
    const float tolerance = 0, angle = 0;
    int rc = 0;
    gimcrw(&ws_, &origin, &extent, &tolerance, &angle, &rc);
    ASSERT_EQ(rc, 0);
  }
  void TearDown() override {
    pr0end();
    SpecProject::TearDown();
  }

  // 240 parts drawn from small value sets, so that every check both passes
  // and fails somewhere; part numbers repeat every 200 parts with other
  // content; the record of part 7 is then marked replaced.
  void write_catalog() {
    FILE *file = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const char *classes[] = {"PIPE", "GATEVALV", "ELBOW"};
    const char *sizes[] = {"1", "2", "3", "4", "6", "8", ""};
    for (int i = 0; i < 240; ++i) {
      const int r = i * 7919 % 997;
      const bool pipe = r % 4 != 3;
      std::vector<PartValue> v = {
          {"PARTNUM", "PARTNO", "C16", {"P" + std::to_string(i % 200)}, {}},
          {"ELCLASS", "AELCLASS", "C8", {pipe ? classes[r % 2] : classes[2]}, {}},
          {"SPCFUNC", "QRYNUMBR", "C8", {r % 5 == 0 ? "2" : "1"}, {}},
          {"PIPESIZE", "SIZE", "C8", {sizes[r % 6], sizes[(r / 6) % 7]}, {}},
          {"STANDATA", "STANDARD", "C8", {"ASME"}, {}},
          {"PARTDEF", "CATEGORY", "C8", {r % 2 ? "VALVE" : "PIPE"}, {}},
          {"PARTDEF", "PARTTYPE", "C8", {r % 2 ? "GATE" : "PIPE"}, {}},
          {"PARTNAME", "NAME", "C12", {r % 9 == 0 ? "OTHER" : r % 2 ? "GATE VALVE" : "PIPE"}, {}},
          {r % 2 ? "ENDSPEC" : "PIPESPEC", "RATG", "C8", {r % 3 ? "150" : "300"}, {}},
          {r % 2 ? "ENDSPEC" : "PIPESPEC", "SCH", "C8", {r % 4 ? "40" : r % 8 ? "80" : ""}, {}},
          {r % 2 ? "ENDSPEC" : "PIPESPEC", "ENDS", "C8", {r % 2 ? "FL" : "BW"}, {}},
          {"ELMMATL", "MAINCODE", "C8", {r % 7 ? "CS" : "SS"}, {}},
          {"VNDRCODE", "VNDRCOD", "C8", {r % 11 == 0 ? "V999" : r % 3 ? "" : "V100"}, {}},
      };
      CgPart part = make_part(v);
      int rc = 0;
      cggput(file, &part, &rc);
      ASSERT_EQ(rc, 0);
      cggfre(part);
    }
    std::fclose(file);
    // The status word of the 8th record: -1, a record replaced.
    std::string bytes = read_file(path_);
    const size_t at = record_start(bytes, 7);
    bytes.replace(at + 4, 4, std::string(4, '\xff'));
    write_file(path_, bytes);
  }

  // Byte position of record k (from 0) of the file bytes.
  static size_t record_start(const std::string &bytes, int k) {
    size_t at = 0;
    for (int i = 0; i < k; ++i) at += pcs::get_be32(reinterpret_cast<const unsigned char *>(&bytes[at]));
    return at;
  }

  // Every live record of the file, with its position.
  std::vector<std::pair<int, CgPart>> records() {
    std::vector<std::pair<int, CgPart>> out;
    FILE *file = std::fopen(path_.c_str(), "rb");
    for (int position = 0, length = 0, rc = 0;; position += length) {
      CgPart part = nullptr;
      cggget(&file, &position, &length, &part, &rc);
      if (rc == 0) out.emplace_back(position, part);
      if (rc != 0 && rc != PCS_RECORD_DELETED) break;
    }
    std::fclose(file);
    return out;
  }

  // Entry "<entry> <size>" -> the record positions the brute force selects.
  std::map<std::string, std::set<int>> brute_force() {
    std::map<std::string, std::set<int>> expected;
    auto catalog = records();
    for (auto [label, handle] : {std::pair{"PIPE", pipe_}, std::pair{"VALVE", valve_}}) {
      int entries = int_stack({handle}), parts = 0, rc = 0;
      const int none = 0;
      cgqfill(&owner_, nullptr, &none, &entries, &parts, &rc);
      EXPECT_EQ(rc, 0);
      for (const std::string &e : model::stack_entries(parts)) {
        CgPart query;
        std::memcpy(&query, e.data(), sizeof query);
        auto &found = expected[std::string(label) + " " +
                               brute::value(brute::attribute(query, "PIPESIZE", "SIZE    "))];
        for (auto [position, part] : catalog)
          if (brute::same_key(query, part) && brute::selects(query, part)) found.insert(position);
        cggfre(query);
      }
      gusend(&entries, &rc);
      gusend(&parts, &rc);
    }
    for (auto &record : catalog) cggfre(record.second);
    return expected;
  }

  TempDir dir_;
  std::string path_;
  int ws_ = 1;
};

TEST_F(Selection, EqualsTheBruteForceAndExplainsEveryDecision) {
  PcsSelection *s = nullptr;
  int rc = -1;
  pcs_sel_open(&ws_, "A1", path_.c_str(), &s, &rc);
  ASSERT_EQ(rc, 0);
  std::map<std::string, std::set<int>> selected;
  std::set<std::string> numbers;
  int explained = 0, several = 0;
  for (const char *entry : {"PIPE", "VALVE"}) {
    int sizes = 0;
    pcs_sel_sizes(s, entry, &sizes, &rc);
    ASSERT_EQ(rc, 0);
    for (int z = 1; z <= sizes; ++z) {
      char size[PCS_SEL_TEXT];
      int candidates = 0, found = 0;
      pcs_sel_size(s, &z, size, &rc);
      pcs_sel_find(s, entry, size, &candidates, &found, &rc);
      ASSERT_EQ(rc, 0) << entry << " " << size;
      auto &cell = selected[std::string(entry) + " " + size];
      for (int k = 1; k <= candidates; ++k) {
        char number[PCS_SEL_TEXT];
        int position = 0, chosen = 0;
        pcs_sel_part(s, &k, number, &position, &chosen, &rc);
        if (chosen) cell.insert(position);
        if (chosen) several += numbers.insert(number).second ? 0 : 1;
        PcsSelExplanation *e = nullptr;
        pcs_sel_explain(s, &k, &e, &rc);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(e->selected, chosen) << number;
        EXPECT_EQ(e->position, position);
        EXPECT_STREQ(e->partNumber, number);
        EXPECT_EQ(e->groupsSatisfied, e->unequal == 0 ? 1 : 0);
        int outside = 0;
        for (int i = 0; i < e->sizeCount; ++i) outside += e->sizes[i].outside;
        EXPECT_EQ(e->withinLimits, outside == 0 ? 1 : 0);
        for (int i = 0; i < e->valueCount; ++i) {
          const PcsSelValue &v = e->values[i];
          const bool by_table = v.decision == PCS_SEL_EQUAL ||
                                (v.decision == PCS_SEL_COMPARE &&
                                 std::strncmp(v.query, v.catalog, PCS_SEL_TEXT) == 0);
          EXPECT_EQ(v.equal, by_table ? 1 : 0) << v.group << "." << v.attribute;
        }
        pcs_sel_free(e);
        ++explained;
      }
    }
  }
  pcs_sel_close(s);
  EXPECT_EQ(selected, brute_force());
  EXPECT_EQ(selected.size(), 5u);  // PIPE 2, 3, 4, 6 and VALVE 3
  EXPECT_GT(explained, 100);
  EXPECT_GT(several, 0) << "a part number selected by more than one record";
}

TEST_F(Selection, ReturnsEachCodeInWords) {
  PcsSelection *s = nullptr;
  int rc = 0, count = 0, found = 0, k = 1, position = 0, chosen = 0;
  const int other_ws = 2;
  char text[PCS_SEL_TEXT];
  struct Open {
    const int *ws;
    const char *spec, *path;
    int rc;
  };
  const std::string missing = dir_.path("none"), damaged = dir_.path("damaged");
  std::string bytes = read_file(path_);
  write_file(damaged, bytes.substr(0, bytes.size() - 1));
  const Open opens[] = {
      {&ws_, "NOSPEC", path_.c_str(), PCS_SEL_NO_SPEC},
      {&ws_, "A1", missing.c_str(), PCS_SEL_NO_FILE},
      {&ws_, "A1", damaged.c_str(), PCS_SEL_DAMAGED},
      {&ws_, nullptr, path_.c_str(), PCS_SEL_BAD_ARGUMENT},
      {nullptr, "A1", path_.c_str(), PCS_SEL_BAD_ARGUMENT},
      {&other_ws, "A1", path_.c_str(), PCS_HOST_NO_WORKSPACE},
  };
  for (const Open &o : opens) {
    pcs_sel_open(o.ws, o.spec, o.path, &s, &rc);
    EXPECT_EQ(rc, o.rc) << (o.spec ? o.spec : "null") << " " << (o.path ? o.path : "");
    EXPECT_EQ(s, nullptr);
  }
  pcs_sel_open(&ws_, "A1", path_.c_str(), &s, &rc);
  ASSERT_EQ(rc, 0);
  pcs_sel_find(s, "NOENTRY", "3", &count, &found, &rc);
  EXPECT_EQ(rc, PCS_SEL_NO_ENTRY);
  pcs_sel_sizes(s, "NOENTRY", &count, &rc);
  EXPECT_EQ(rc, PCS_SEL_NO_ENTRY);
  pcs_sel_find(s, "VALVE", "4", &count, &found, &rc);
  EXPECT_EQ(rc, PCS_SEL_NO_SIZE);
  pcs_sel_size(s, &k, text, &rc);  // VALVE covers size 3 alone
  EXPECT_EQ(rc, 0);
  EXPECT_STREQ(text, "3");
  k = 2;
  pcs_sel_size(s, &k, text, &rc);
  EXPECT_EQ(rc, PCS_SEL_NO_SIZE);
  pcs_sel_find(s, "VALVE", "3", &count, &found, &rc);
  ASSERT_EQ(rc, 0);
  PcsSelExplanation *e = nullptr;
  for (int bad : {0, count + 1}) {
    pcs_sel_part(s, &bad, text, &position, &chosen, &rc);
    EXPECT_EQ(rc, PCS_SEL_NO_CANDIDATE);
    pcs_sel_explain(s, &bad, &e, &rc);
    EXPECT_EQ(rc, PCS_SEL_NO_CANDIDATE);
    EXPECT_EQ(e, nullptr);
  }
  pcs_sel_find(s, nullptr, "3", &count, &found, &rc);
  EXPECT_EQ(rc, PCS_SEL_BAD_ARGUMENT);
  pcs_sel_find(nullptr, "VALVE", "3", &count, &found, &rc);
  EXPECT_EQ(rc, PCS_SEL_BAD_ARGUMENT);
  pcs_sel_close(s);
  pcs_sel_close(nullptr);
  pcs_sel_free(nullptr);

  std::set<std::string> texts;
#define PCS_TEXT_ROW_(name, value, text) texts.insert(pcs_sel_text(value));
  PCS_SELECT_CODES(PCS_TEXT_ROW_)
#undef PCS_TEXT_ROW_
  EXPECT_EQ(texts.size(), 8u);
  EXPECT_EQ(texts.count("unknown result code"), 0u);
  EXPECT_STREQ(pcs_sel_text(PCS_GEN_NO_MEMORY), "memory could not be obtained, or a declared length above 256");
  EXPECT_STREQ(pcs_sel_text(12345), "unknown result code");
}

TEST_F(Selection, SurvivesEachAllocationFailure) {
  const std::string bytes = read_file(path_), small = dir_.path("small");
  write_file(small, bytes.substr(0, record_start(bytes, 4)));  // three of class PIPE
  sweep_allocations([&](long) {
    PcsSelection *s = nullptr;
    int rc = 0, count = 0, found = 0, k = 1;
    pcs_sel_open(&ws_, "A1", small.c_str(), &s, &rc);
    if (rc == 0) pcs_sel_find(s, "PIPE", "2", &count, &found, &rc);
    PcsSelExplanation *e = nullptr;
    if (rc == 0 && count > 0) pcs_sel_explain(s, &k, &e, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_SEL_NO_MEMORY || rc == PCS_GEN_NO_MEMORY ||
                rc == PCS_GUS_NO_MEMORY || rc == PCS_HOST_NO_MEMORY)
        << rc;
    pcs_sel_free(e);
    pcs_sel_close(s);
  });
}

}  // namespace

namespace {

// Values as text: numbers by the type letter asked for, characters without
// trailing blanks and with unprintable bytes as '?', cut to the buffer.
TEST(SelectionValue, TextOfEachKindCutToTheBuffer) {
  unsigned char bytes[24] = {};
  const int32_t whole = -42;
  const double real = 2.5;
  std::memcpy(bytes, &whole, sizeof whole);
  std::memcpy(bytes + 8, &real, sizeof real);
  std::memcpy(bytes + 16, "AB\x01" "C    ", 8);
  CgAttribute a{};
  a.valueCount = 3;
  a.valueLength = 8;
  a.values = bytes;
  struct Case {
    int k;
    char type;
    int size;
    const char *text;
    int length, rc;
  };
  const Case cases[] = {
      {1, 'I', PCS_SEL_TEXT, "-42", 3, 0},    {2, 'R', PCS_SEL_TEXT, "2.5", 3, 0},
      {3, 'C', PCS_SEL_TEXT, "AB?C", 4, 0},   {3, 'C', 3, "AB", 4, 0},
      {3, 'C', 1, "", 4, 0},                  {4, 'C', PCS_SEL_TEXT, "", 0, 0},
      {0, 'I', PCS_SEL_TEXT, "", 0, 0},       {1, 'C', 0, "x", -1, PCS_SEL_BAD_ARGUMENT},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("value " + std::to_string(c.k) + " size " + std::to_string(c.size));
    char text[PCS_SEL_TEXT] = "x";
    int length = -1, rc = -1;
    pcs_sel_value(&a, &c.k, &c.type, text, &c.size, &length, &rc);
    EXPECT_EQ(rc, c.rc);
    EXPECT_STREQ(text, c.text);
    EXPECT_EQ(length, c.length);
  }
  const int k = 1, size = PCS_SEL_TEXT;
  char text[PCS_SEL_TEXT];
  int length = 0, rc = 0;
  pcs_sel_value(nullptr, &k, "I", text, &size, &length, &rc);
  EXPECT_EQ(rc, PCS_SEL_BAD_ARGUMENT);
  pcs_sel_value(&a, &k, "I", text, &size, &length, nullptr);  // no code to give: nothing done
}

}  // namespace
