// The record codec's checked walker of both layouts against damaged words
// and overlapping tables (the encoders and the keyed decoder are checked
// through the catalog and keyed writers and readers against hand-built
// bytes; group headers at any offset are left to the fuzz target).
#include <climits>

#include "common/record_codec.h"
#include "keyed/keyed.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
namespace {

using codec::kCatalogLayout;
using codec::kKeyedLayout;

const std::vector<Group> kGroups{{"BODY", {{"MAT", 1, 4, "A105"}, {"SIZE", 2, 3, "050080"}}},
                                 {"END", {{"STYLE", 1, 2, "BW"}}}};

ByteView view(const std::string &bytes) {
  return ByteView(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}

// "GROUP/ATTR=values" for every attribute the walker visits, in order.
std::string walked(const std::string &bytes, const codec::Layout &layout, int *rc) {
  std::string out;
  *rc = codec::walk_record(
      view(bytes), layout, [&](const codec::GroupBytes &) { return out += "|", 0; },
      [&](const codec::AttributeBytes &a) {
        out += std::string(reinterpret_cast<const char *>(a.group), 4) + "/" +
               std::string(reinterpret_cast<const char *>(a.values), a.value_bytes()) + ";";
        return 0;
      });
  return out;
}

using RecordCodec = HostTest;

// Each case overwrites the word at `at` of a valid record of one layout.
TEST_F(RecordCodec, WalkerRefusesDamageOfEachLayout) {
  const std::string catalog = catalog_record(kGroups);
  const std::string keyed = record_bytes(kGroups);
  int rc = 0;
  EXPECT_EQ(walked(catalog, kCatalogLayout, &rc), "|BODY/A105;BODY/050080;|END /BW;");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(walked(keyed, kKeyedLayout, &rc), "|BODY/A105;BODY/050080;|END /BW;");
  EXPECT_EQ(rc, 0);
  const int kd = static_cast<int>(keyed.size()) - 13;  // directory of the keyed record
  struct Case {
    const std::string *record;
    codec::Layout layout;
    int at, value, rc;
  };
  const Case cases[] = {
      {&catalog, kCatalogLayout, 8, -4, -1},           // directory before the record
      {&catalog, kCatalogLayout, 8, 1000, -1},         // directory past it
      {&catalog, kCatalogLayout, 12, 1000, -1},        // group table past the end
      {&catalog, kCatalogLayout, 12, -1, -1},          // negative group count
      {&catalog, kCatalogLayout, 12, 0, 0},            // no groups
      {&catalog, kCatalogLayout, 16, 20, -1},          // group header inside the table
      {&catalog, kCatalogLayout, 32, 0, 0},            // a group without attributes
      {&catalog, kCatalogLayout, 52, 0, -1},           // value count 0
      {&catalog, kCatalogLayout, 56, INT_MAX, -1},     // value length past the record
      {&keyed, kKeyedLayout, 8, 4, -1},                // directory inside the header
      {&keyed, kKeyedLayout, kd, 3, -1},               // table reaches the newline
      {&keyed, kKeyedLayout, kd + 4, 0, -1},           // group header at 0
      {&keyed, kKeyedLayout, 20, 0, 0},                // empty attribute accepted
      {&keyed, kKeyedLayout, 20, -1, -1},              // negative value count
      {&keyed, kKeyedLayout, static_cast<int>(keyed.size()) - 4, 0x0a0a0a00, -1},  // no newline
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.at);
    std::string bytes = *c.record;
    bytes.replace(static_cast<size_t>(c.at), 4, be32(c.value));
    walked(bytes, c.layout, &rc);
    EXPECT_EQ(rc, c.rc);
  }
  EXPECT_EQ(codec::walk_record(view(catalog.substr(0, 15)), kCatalogLayout, codec::kSkip,
                               codec::kSkip),
            -1);
}

// Tables that point at the same group again and again cannot make the
// walk read more attributes than the record holds bytes for.
TEST_F(RecordCodec, OverlappingTablesExhaustTheBudget) {
  const std::string one = record_bytes({{"G", {{"A", 1, 1, "x"}}}});
  const int header = 12 + 17;
  std::string body = one.substr(0, 12 + 17 + 16);  // attribute block and group header
  std::string directory = be32(200);
  for (int i = 0; i < 200; ++i) directory += be32(header);
  const std::string bytes = be32(static_cast<int>(body.size() + directory.size()) + 1) +
                            one.substr(4, 4) + be32(static_cast<int>(body.size())) +
                            body.substr(12) + directory + "\n";
  int visits = 0;
  const int rc = codec::walk_record(view(bytes), kKeyedLayout, codec::kSkip,
                                    [&](const codec::AttributeBytes &) { return ++visits, 0; });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(visits, 1);
}

}  // namespace
}  // namespace pcs::test
