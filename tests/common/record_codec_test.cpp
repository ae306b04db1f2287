// The record codec: big-endian words and both record layouts as literal
// bytes written out here, and the checked walker of both layouts against
// damaged words and overlapping tables (group headers at any offset are
// left to the fuzz target).
#include <climits>
#include <cstring>
#include <string>

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

// Words and records spelled out byte by byte from the documented layouts.
TEST_F(RecordCodec, EncodersWriteTheLiteralLayouts) {
  struct Word {
    int32_t value;
    const char *bytes;
  } words[] = {{0x01020304, "\x01\x02\x03\x04"}, {-2, "\xff\xff\xff\xfe"},
               {INT32_MIN, std::string_view("\x80\0\0\0", 4).data()}, {0, std::string_view("\0\0\0\0", 4).data()}};
  for (const Word &w : words) {
    unsigned char out[4];
    put_be32(out, w.value);
    EXPECT_EQ(std::memcmp(out, w.bytes, 4), 0) << w.value;
    EXPECT_EQ(get_be32(reinterpret_cast<const unsigned char *>(w.bytes)), w.value);
    std::string appended = "x";
    append_be32(appended, w.value);
    EXPECT_EQ(appended, "x" + std::string(w.bytes, 4));
  }
  using namespace std::string_literals;
  // One group G holding attribute A: one value of two bytes, "xy".
  const std::string catalog =
      "\0\0\0\x37" "\0\0\0\0" "\0\0\0\x0c" "\0\0\0\x01" "\0\0\0\x14"      // header, directory
      "G       " "\0\0\0\x01" "\0\0\0\x24"                                 // group at 20
      "A       " "\0\0\0\x01" "\0\0\0\x02" "xy" "\n"s;                     // attribute at 36
  const std::string keyed =
      "\0\0\0\x37" "\0\0\0\0" "\0\0\0\x2e"                                 // header
      "A       " "\0\0\0\x01" "\0\0\0\x02" "xy"                            // attribute at 12
      "G       " "\0\0\0\x01" "\0\0\0\x0c"                                 // group at 30
      "\0\0\0\x01" "\0\0\0\x1e" "\n"s;                                     // directory at 46
  PartRecord *part = nullptr;
  int rc = -1;
  cspgcre(&part, &rc);
  cspgadd(part, "G       ", "A       ", 1, 2, "xy", &rc);
  ASSERT_EQ(catalog::record_size(part), 55);
  std::string out(55, '?');
  catalog::encode_record(part, reinterpret_cast<unsigned char *>(out.data()));
  EXPECT_EQ(out, catalog);
  cspgfre(part);

  KeyedAttribute a{{'A', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, 1, 2,
                   reinterpret_cast<unsigned char *>(const_cast<char *>("xy")), nullptr};
  KeyedGroup g{{'G', ' ', ' ', ' ', ' ', ' ', ' ', ' '}, 1, &a, nullptr};
  ASSERT_EQ(keyed::record_size(&g), 55);
  out.assign(55, '?');
  keyed::encode_record(&g, reinterpret_cast<unsigned char *>(out.data()));
  EXPECT_EQ(out, keyed);

  // A generic part group writes the same block; a chain longer than its
  // attribute count stops at the count.
  CgAttribute ca{}, extra{};
  std::memcpy(ca.name, "A       ", 8);
  ca.valueCount = 1;
  ca.valueLength = 2;
  ca.values = a.AttrValue;
  ca.next = &extra;
  CgGroup cg{};
  std::memcpy(cg.name, "G       ", 8);
  cg.attributeCount = 1;
  cg.attributes = &ca;
  int32_t count = 0;
  ASSERT_EQ(codec::keyed_block_size(&cg, &count), 34);
  EXPECT_EQ(count, 1);
  out.assign(34, '?');
  EXPECT_EQ(codec::encode_keyed_block(&cg, count, 12, reinterpret_cast<unsigned char *>(out.data())), 30);
  EXPECT_EQ(out, keyed.substr(12, 34));
  ca.values = nullptr;  // values missing: the group cannot be stored
  EXPECT_EQ(codec::keyed_block_size(&cg, &count), -1);
}

}  // namespace
}  // namespace pcs::test
