// The duplicate part merge against the in-process host model: which records
// are marked deleted, the report lines on the unit, and the model calls.
#include "catalog/catalog.h"
#include "host/inprocess/model.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::catalog;
namespace {

namespace model = pcs::host::model;

class DuplicateMerge : public MaintTest {
 protected:
  void SetUp() override {
    MaintTest::SetUp();
    model::clear();
    model::Model &m = model::data();
    m.families.push_back({5, {"ELBOW", "TEE"}});
    m.part_objects.push_back({5, "ELBOW", "T1"});
    m.part_objects.push_back({5, "ELBOW", "T2"});
    m.part_objects.push_back({5, "ELBOW", "T3"});
  }
  void TearDown() override {
    model::clear();
    MaintTest::TearDown();
  }

  // Writes the parts and remembers their offsets.
  void catalog(const std::vector<std::string> &parts) {
    std::string bytes;
    offsets_.clear();
    for (const std::string &p : parts) {
      offsets_.push_back(static_cast<int>(bytes.size()));
      bytes += p;
    }
    write_file(path_, bytes);
  }
  // Deleted flags of the records, in file order.
  std::vector<int> flags() const {
    const std::string bytes = read_file(path_);
    std::vector<int> result;
    for (int offset : offsets_) result.push_back(bytes[static_cast<size_t>(offset) + 7]);
    return result;
  }
  void merge(int mode, int key_length = 8) {
    csprtdup(mode, path_.c_str(), &unit_, "PARTNUM ", "PARTNO  ", key_length);
  }

  TempDir dir_;
  std::string path_ = dir_.path("cat");
  std::vector<int> offsets_;
  int unit_ = 6;
};

const std::string kDuplicate = field("   Duplicate part number was found in the catalog.", 81);
const std::string kKeepOld = field("   *** WARNING Catalog keeping old part ...", 81);
const std::string kKeepNew = field("   Catalog has been updated with new part ...", 81);
std::string part_line(const std::string &key) { return field("   Part Number = " + key, 80); }

// "service(args) -> rc" of each call of a model service.
std::vector<std::string> calls(const char *service) {
  std::vector<std::string> texts;
  for (const model::Call &call : model::calls_of(service)) {
    std::string text = call.service + "(";
    for (size_t i = 0; i < call.args.size(); ++i) text += (i ? ", " : "") + call.args[i];
    texts.push_back(text + ") -> " + std::to_string(call.rc));
  }
  return texts;
}

TEST_F(DuplicateMerge, ModeZeroKeepsTheOldest) {
  catalog({elbow("P1", "T1"), elbow("X", "T3"), elbow("P1", "T2")});
  merge(0);
  EXPECT_EQ(flags(), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(model::unit_lines(unit_),
            (std::vector<std::string>{kDuplicate, kKeepOld, part_line("P1      ")}));
  EXPECT_EQ(calls("glrfam"), std::vector<std::string>{"glrfam(ELBOW) -> 0"});
  EXPECT_EQ(calls("gldobj"), std::vector<std::string>{"gldobj(5, ELBOW, T2) -> 0"});
  ASSERT_EQ(model::data().part_objects.size(), 2u);
  EXPECT_EQ(model::data().part_objects[1].eltime, "T3");
  // A deleted record has no key: it makes no pair.
  model::clear_calls();
  catalog({elbow("P1", "T1", "PIPE"), elbow("P1", "T2")});
  std::string bytes = read_file(path_);
  bytes[7] = 1;
  write_file(path_, bytes);
  merge(0);
  EXPECT_EQ(flags(), (std::vector<int>{1, 0}));
  EXPECT_EQ(model::unit_lines(unit_).size(), 3u);
}

TEST_F(DuplicateMerge, ModeOneKeepsTheNewest) {
  catalog({elbow("P1", "T1"), elbow("P1", "T2"), elbow("P1", "T3")});
  merge(1);
  EXPECT_EQ(flags(), (std::vector<int>{1, 1, 0}));
  const std::string line = part_line("P1      ");
  EXPECT_EQ(model::unit_lines(unit_),
            (std::vector<std::string>{kDuplicate, kKeepNew, line, kDuplicate, kKeepNew, line}));
  EXPECT_EQ(calls("gldobj"), (std::vector<std::string>{"gldobj(5, ELBOW, T1) -> 0",
                                                        "gldobj(5, ELBOW, T2) -> 0"}));
}

TEST_F(DuplicateMerge, PipesMakeNoModelCalls) {
  catalog({elbow("P1", "T1", "PIPE"), elbow("P1", "T2", "PIPE")});
  merge(0);
  EXPECT_EQ(flags(), (std::vector<int>{0, 1}));
  EXPECT_EQ(model::unit_lines(unit_).size(), 3u);
  EXPECT_TRUE(calls("glrfam").empty());
  EXPECT_TRUE(calls("gldobj").empty());
  // "PIPE" must be followed by 12 blanks: PIPELINE is not a pipe.
  model::data().families.push_back({6, {"PIPELINE"}});
  catalog({elbow("P2", "T1", "PIPELINE"), elbow("P2", "T2", "PIPELINE")});
  merge(0);
  EXPECT_EQ(calls("gldobj"), std::vector<std::string>{"gldobj(6, PIPELINE, T2) -> 6089"});
  EXPECT_EQ(flags(), (std::vector<int>{0, 1}));  // 6089: no such object, taken as done
}

TEST_F(DuplicateMerge, ModelFailuresStopTheMerge) {
  catalog({elbow("P1", "T1"), elbow("P1", "T2"), elbow("P2", "T3"), elbow("P2", "T3")});
  model::fail_service("glrfam", PCS_HOST_NO_FAMILY, 2);
  merge(0);
  EXPECT_EQ(flags(), (std::vector<int>{0, 1, 0, 0}));  // the first pair stays handled
  EXPECT_EQ(model::unit_lines(unit_).size(), 5u);
  model::clear_failures();

  // A part without ELCATLOG/ELTIME cannot lose its model object.
  catalog({elbow("P1", "T1"), catalog_record({{"PARTDEF", {{"CATEGORY", 1, 5, "ELBOW"}}},
                                              {"PARTNUM", {{"PARTNO", 1, 8, field("P1", 8)}}}})});
  merge(0);
  EXPECT_EQ(flags(), (std::vector<int>{0, 0}));
}

// Different keys, bad modes, key lengths and a missing file change nothing.
TEST_F(DuplicateMerge, NothingForDifferentKeysOrBadArguments) {
  catalog({elbow("A", "T1"), elbow("B", "T2"), elbow("C", "T3")});
  const std::string before = read_file(path_);
  merge(0);
  EXPECT_EQ(read_file(path_), before);
  EXPECT_TRUE(calls("glrfam").empty());
  catalog({elbow("P1", "T1"), elbow("P1", "T2")});
  for (int mode : {2, -1}) merge(mode);
  for (int key_length : {0, 64}) merge(0, key_length);
  csprtdup(0, dir_.path("none").c_str(), &unit_, "PARTNUM ", "PARTNO  ", 8);
  EXPECT_EQ(flags(), (std::vector<int>{0, 0}));
  EXPECT_TRUE(model::unit_lines(unit_).empty());
}

}  // namespace
}  // namespace pcs::test_maint
