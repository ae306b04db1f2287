// The record codec: big-endian words and both record layouts as literal
// bytes written out here, and the checked walker of both layouts against
// damaged words and overlapping tables (group headers at any offset are
// left to the fuzz target).
#include <climits>
#include <cstring>
#include <iterator>
#include <string>

#include "common/damage.h"
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
    int64_t refused;  // where the walker notes the damage
  };
  const Case cases[] = {
      {&catalog, kCatalogLayout, 8, -4, -1, 8},          // directory before the record
      {&catalog, kCatalogLayout, 8, 1000, -1, 8},        // directory past it
      {&catalog, kCatalogLayout, 12, 1000, -1, 12},      // group table past the end
      {&catalog, kCatalogLayout, 12, -1, -1, 12},        // negative group count
      {&catalog, kCatalogLayout, 12, 0, 0, 0},           // no groups
      {&catalog, kCatalogLayout, 16, 20, -1, 20},        // group header inside the table
      {&catalog, kCatalogLayout, 32, 0, 0, 0},           // a group without attributes
      {&catalog, kCatalogLayout, 52, 0, -1, 44},         // value count 0
      {&catalog, kCatalogLayout, 56, INT_MAX, -1, 60},   // value length past the record
      {&keyed, kKeyedLayout, 8, 4, -1, 8},               // directory inside the header
      {&keyed, kKeyedLayout, kd, 3, -1, kd},             // table reaches the newline
      {&keyed, kKeyedLayout, kd + 4, 0, -1, 0},          // group header at 0
      {&keyed, kKeyedLayout, 20, 0, 0, 0},               // empty attribute accepted
      {&keyed, kKeyedLayout, 20, -1, -1, 12},            // negative value count
      {&keyed, kKeyedLayout, static_cast<int>(keyed.size()) - 4, 0x0a0a0a00, -1,
       static_cast<int>(keyed.size()) - 1},              // no newline
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.at);
    std::string bytes = *c.record;
    bytes.replace(static_cast<size_t>(c.at), 4, be32(c.value));
    walked(bytes, c.layout, &rc);
    EXPECT_EQ(rc, c.rc);
    DamageSite site{};
    ASSERT_EQ(last_damage(&site), c.rc != 0);
    if (c.rc != 0) {
      EXPECT_STREQ(site.source, "common/record_codec.h");
      EXPECT_EQ(site.offset, c.refused);
    }
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

// A learnt shape accepts a record changed anywhere but in its values and
// status word (bytes the walk never reads), and only where it walks alike.
TEST_F(RecordCodec, ShapeAcceptsOnlyChangesTheWalkDoesNotRead) {
  const std::string keyed = record_bytes(kGroups);
  codec::Shape shape;
  ASSERT_TRUE(shape.learn(view(keyed), kKeyedLayout));
  // By hand: the length word (the size stands for it), the status word and
  // the three values.
  std::string unread(keyed.size(), '.');
  unread.replace(0, 8, "llllssss");
  for (const char *value : {"A105", "050080", "BW"}) {
    const size_t at = keyed.find(value);
    unread.replace(at, std::strlen(value), std::string(std::strlen(value), 'v'));
  }
  int rc = 0;
  const std::string path = walked(keyed, kKeyedLayout, &rc);
  for (size_t i = 0; i < keyed.size(); ++i) {
    SCOPED_TRACE(i);
    std::string changed = keyed;
    changed[i] = static_cast<char>(changed[i] ^ 0x41);
    const bool alike = shape.matches(view(changed));
    EXPECT_EQ(alike, unread[i] != '.');
    if (alike) EXPECT_EQ(walked(changed, kKeyedLayout, &rc).size(), path.size());
  }
  EXPECT_FALSE(shape.matches(view(keyed + "x")));
  EXPECT_FALSE(shape.learn(view(std::string(codec::Shape::kMostBytes + 1, 'x')), kKeyedLayout));
  EXPECT_FALSE(shape.matches(view(keyed)));  // a failed learn forgets the shape
}

// Keys read record after record (the learnt shape reused where it fits)
// equal record_key's for each record, damage noted at the same place.
TEST_F(RecordCodec, KeyReaderAnswersAsRecordKey) {
  int lengths[] = {4, 6, 2};
  char groups[] = "BODY    BODY    END     ", attrs[] = "MAT     SIZE    STYLE   ";
  KeyedFile file{};
  file.KeyCount = 3;
  file.KeyLengths = lengths;
  file.KeyGroups = groups;
  file.KeyAttrs = attrs;
  const std::string base = record_bytes(kGroups);
  std::string other = base, broken = base, wide = base;
  other.replace(other.find("A105"), 4, "F316");
  broken.replace(base.size() - 13, 4, be32(3));  // the directory's group count
  wide.replace(wide.find("BW") - 4, 4, be32(1)); // STYLE values of length 1: 2 bytes asked
  const std::string records[] = {base,  other, record_bytes({{"END", {{"STYLE", 1, 2, "SW"}}}}),
                                 other, broken, wide, base, base};
  KeyReader reader(&file);
  DamageSite earlier{};
  last_damage(&earlier);
  for (size_t i = 0; i < std::size(records); ++i) {
    SCOPED_TRACE(i);
    unsigned char want[12], got[12];
    DamageSite walked_site{}, read_site{};
    int want_rc = 0;
    {
      DamageBase at(1000);
      want_rc = record_key(&file, view(records[i]), want);
    }
    const bool walked_damage = last_damage(&walked_site);
    EXPECT_EQ(reader.read(view(records[i]), 1000, got), want_rc);
    ASSERT_EQ(last_damage(&read_site), walked_damage);
    EXPECT_EQ(read_site.offset, walked_site.offset);
    if (want_rc == 0) EXPECT_EQ(std::string(got, got + 12), std::string(want, want + 12));
  }
}

// Words and records spelled out byte by byte from the documented layouts.
TEST_F(RecordCodec, EncodersWriteTheLiteralLayouts) {
  struct Word {
    int32_t value;
    const char *bytes;
  } words[] = {{0x01020304, "\x01\x02\x03\x04"},
               {-2, "\xff\xff\xff\xfe"},
               {INT32_MIN, "\x80\0\0\0"},
               {0, "\0\0\0\0"}};
  for (const Word &w : words) {
    unsigned char out[4];
    put_be32(out, w.value);
    EXPECT_EQ(std::memcmp(out, w.bytes, 4), 0) << w.value;
    EXPECT_EQ(get_be32(reinterpret_cast<const unsigned char *>(w.bytes)), w.value);
    std::string appended = "x";
    append_be32(appended, w.value);
    std::string expected = "x";  // appended, not "x" + ...: gcc 12 warns falsely on that
    expected.append(w.bytes, 4);
    EXPECT_EQ(appended, expected);
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
  auto *bytes = reinterpret_cast<unsigned char *>(out.data());
  EXPECT_EQ(codec::encode_keyed_block(&cg, count, 12, bytes), 30);
  EXPECT_EQ(out, keyed.substr(12, 34));
  ca.values = nullptr;  // values missing: the group cannot be stored
  EXPECT_EQ(codec::keyed_block_size(&cg, &count), -1);
}

// Readers of files note where they refused: the source of the check and
// the offset in the file, with records placed at their position.
TEST_F(RecordCodec, RefusalsSayWhereInTheFile) {
  TempDir dir;
  const std::string one = catalog_record(kGroups);
  const int n = static_cast<int>(one.size());
  const std::string twice = catalog_record({{"G", {{"A", 1, 1, "x"}, {"A", 1, 1, "y"}}}});
  const std::string pipe = record_bytes({{"PIPE", {{"SIZE", 1, 4, "0100"}}}});
  const int k = static_cast<int>(pipe.size());
  std::string dead = record_bytes({{"PIPE", {{"SIZE", 1, 4, "0050"}}}}, -1);
  dead.back() = 'x';
  struct Case {
    const char *what;
    std::string bytes;
    bool keyed;
    int position;
    const char *source;
    int64_t offset;
  } cases[] = {
      {"directory past the record", one + one.substr(0, 8) + be32(1000) + one.substr(12), false,
       n, "common/record_codec.h", n + 8},
      {"length past the file", one + be32(999) + one.substr(4), false, n, "catalog/cspgetrc.cpp",
       n},
      {"an attribute twice", one + twice, false, n, "catalog/cspgetrc.cpp", n + 57},
      {"keyed length past the file", pipe + be32(999) + pipe.substr(4), true, k,
       "common/record_codec.cpp", k},
      {"keyed newline missing", pipe + pipe.substr(0, k - 1) + "x", true, k,
       "common/record_codec.cpp", 2 * k - 1},
      {"dead record without newline", pipe + dead, true, -1, "keyed/cspopn.cpp", 2 * k - 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    write_file(dir.path("f"), c.bytes);
    csdamage(nullptr);
    FILE *stream = std::fopen(dir.path("f").c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    int length = 0, rc = 0, position = c.position;
    if (!c.keyed) {
      EXPECT_EQ(cspgetrc(stream, c.position, &length, &rc), nullptr);
    } else if (c.position >= 0) {
      KeyedGroup *list = nullptr;
      cspgtr(&stream, &position, &length, &list, &rc);
      EXPECT_EQ(list, nullptr);
    } else {
      KeyedFile *file = nullptr;
      EXPECT_NE(open_keyed(dir.path("f"), {{"PIPE", "SIZE", 4}}, &file), 0);
    }
    std::fclose(stream);
    long long offset = -1;
    const char *where = csdamage(&offset);
    ASSERT_NE(where, nullptr);
    EXPECT_EQ(std::string(where).substr(0, std::strlen(c.source) + 1), std::string(c.source) + ":");
    EXPECT_EQ(offset, c.offset);
    EXPECT_EQ(csdamage(&offset), nullptr);  // read once
  }
  DamageBase outer(100);
  {
    DamageBase inner(20);
    refuse(0, 3);
  }
  refuse(0, 4);
  DamageSite site{};
  ASSERT_TRUE(last_damage(&site));
  EXPECT_EQ(site.offset, 104);
}

}  // namespace
}  // namespace pcs::test
