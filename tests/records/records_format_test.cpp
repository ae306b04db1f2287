// Attributes and groups: creation limits, name order, cursors, serialized
// bytes built by hand, short writes and the dumps.
#include <climits>
#include <cstring>

#include "tests/records/records_util.h"

namespace pcs::test_records {
using namespace pcs::records;
namespace {

using FormatTest = RecordsTest;

TEST_F(FormatTest, AttributeCreationLimits) {
  const char v[8] = {};
  int rc = -1;
  for (auto [count, length] : {std::pair{0, 8}, {1, 0}, {-3, 8}})
    EXPECT_TRUE(csatrnew("SIZE    ", count, length, v, &rc) == nullptr && rc == 0);
  EXPECT_EQ(csatrnew("SIZE    ", INT_MAX, 2, v, &rc), nullptr);  // size beyond 32 bits
  EXPECT_EQ(rc, kRecNoMemory);
}

TEST_F(FormatTest, NameOrderDuplicatesAndCursor) {
  EXPECT_LT(csatrcmp("SIZE    ", "SIZE2   "), 0);  // a blank sorts before a digit
  EXPECT_EQ(csgrpcnm("SIZE    ", "SIZE    "), 0);
  EXPECT_GT(csgrpcmp("\xe9       ", "z       "), 0);  // unsigned bytes
  EXPECT_EQ(csatrcnm("AB\0XXXXX", "AB\0YYYYY"), 0);  // a 0 byte ends the comparison
  Group g("DIMS    ");
  const int v = 7;
  for (const char *name : {"WALL    ", "SIZE2   ", "SIZE    "}) EXPECT_EQ(g.add(name, 1, 4, &v), 0);
  EXPECT_EQ(g.add("WALL    ", 1, 4, &v), kAttrDuplicate);
  EXPECT_EQ(csgrpcnt(g.p), 3);
  std::string names;
  csgrpset(g.p);
  for (Attribute *a; (a = csgrpnxt(g.p));) names += raw(a->AttrName, 8) + "|";
  EXPECT_EQ(names, "SIZE    |SIZE2   |WALL    |");
  EXPECT_EQ(raw(csgrpnxt(g.p)->AttrName, 8), "SIZE    ");  // starts over after the end
  EXPECT_EQ(csgrpfnd(g.p, "SIZE2   ", csatrcnm), pplstgtd(pplstnxt(g.p->AttrList)));

  int rc = -1;
  csgrpins(nullptr, nullptr, &rc, csatrcmp);
  EXPECT_EQ(rc, kNoContainer);
  host::fail_allocation(3);  // the list node, after the attribute and its values
  EXPECT_EQ(g.add("A       ", 1, 4, &v), kRecNoMemory);
  EXPECT_EQ(csgrpcnt(g.p), 3);
}

TEST_F(FormatTest, AttributeAndGroupBytes) {
  const double size = 4.5, points[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  Group g("DIMS    ");
  EXPECT_EQ(capture_stream([&](FILE *s) {
              int rc = -1;
              EXPECT_EQ(csgrpwrt(g.p, 100, s, &rc), 12);
              EXPECT_EQ(rc, 0);
            }),
            "DIMS    " + be32(0));
  g.add("SIZE    ", 1, 8, &size);    // 24 bytes
  g.add("A       ", 3, 24, points);  // 88 bytes, sorts first
  std::string size_bytes = "SIZE    " + be32(1) + be32(8) + raw(&size, 8);
  std::string group_bytes = "DIMS    " + be32(2) + be32(40) + be32(128) + "A       " + be32(3) +
                            be32(24) + raw(points, 72) + size_bytes;
  Attribute *size_attr = csgrpfnd(g.p, "SIZE    ", csatrcnm);
  EXPECT_EQ(csatrsiz(size_attr), 24);
  EXPECT_EQ(csatrsiz(nullptr), 0);
  int rc = -1;
  EXPECT_EQ(capture_stream([&](FILE *s) { EXPECT_EQ(csatrwrt(s, size_attr, &rc), 24); }),
            size_bytes);
  EXPECT_EQ(capture_stream([&](FILE *s) { EXPECT_EQ(csgrpwrt(g.p, 20, s, &rc), 132); }),
            group_bytes);
  EXPECT_EQ(rc, 0);
}

TEST_F(FormatTest, ShortWritesStopAtOnce) {
  const double size = 4.5;
  Group g("DIMS    ");
  g.add("A       ", 1, 8, &size);
  g.add("B       ", 1, 8, &size);
  Attribute *a = csgrpfnd(g.p, "A       ", csatrcnm);
  // (group?, nth write, bytes it keeps, bytes written in all): the attribute
  // writes name, count, length, values; the group its name, count, offsets
  // and then the attributes.
  struct Case {
    bool group;
    int nth;
    size_t keep;
    int written;
  } cases[] = {{false, 2, 2, 10}, {false, 4, 5, 21}, {true, 1, 5, 5}, {true, 4, 1, 17},
               {true, 12, 7, 67}};
  for (const Case &c : cases) {
    io::test_reset();
    io::test_fail_write(c.nth, c.keep);
    int rc = -1, written = -1;
    std::string bytes = capture_stream([&](FILE *s) {
      written = c.group ? csgrpwrt(g.p, 0, s, &rc) : csatrwrt(s, a, &rc);
    });
    EXPECT_EQ(rc, c.group ? kGroupShortWrite : kAttrShortWrite) << c.nth;
    EXPECT_EQ(written, c.written) << c.nth;
    EXPECT_EQ(bytes.size(), static_cast<size_t>(c.written));
  }
  FILE *full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  int rc = -1;
  EXPECT_EQ(csatrwrt(full, a, &rc), 0);
  EXPECT_EQ(rc, kAttrShortWrite);
  EXPECT_EQ(csgrpwrt(g.p, 0, full, &rc), 0);
  EXPECT_EQ(rc, kGroupShortWrite);
  std::fclose(full);
}

TEST_F(FormatTest, DumpsByValueLength) {
  const int ints[2] = {65, 66};
  const double reals[2] = {1.5, -20.25}, point[3] = {1, 2.5, -3};
  char text[40];
  std::memset(text, ' ', sizeof text);
  std::memcpy(text, "ASME", 4);
  Group g("DIMS    ");
  g.add("A       ", 2, 4, ints);
  g.add("B\0      ", 2, 8, reals);
  g.add("C       ", 1, 24, point);
  g.add("D       ", 1, 40, text);
  const char *head = "      nAttrs          =%d\n      nAttrLength     =%d\n";
  auto header = [&](const char *name, int n, int len) {
    char buf[128];
    std::snprintf(buf, sizeof buf, head, n, len);
    return std::string(" AttrName  =") + name + "\n" + buf;
  };
  EXPECT_EQ(capture_stderr([&] { csgrpdmp(g.p); }),
            "*********AttrGroup=DIMS    ***********\n" + header("A       ", 2, 4) +
                "      char AttrValue  =A\n"
                "      int  i=0 AttrValue  =65\n"
                "      int  i=1 AttrValue  =66\n" +
                header("B", 2, 8) +
                "      char AttrValue  =\n"
                "      real i=0 AttrValue  =      1.5000000\n"
                "      real i=1 AttrValue  =    -20.2500000\n" +
                header("C       ", 1, 24) +
                "      char AttrValue  =\n"
                "      real j=0 AttrValue  =      1.0000000       2.5000000      -3.0000000\n" +
                header("D       ", 1, 40) + "      char AttrValue  =" + raw(text, 40) + "\n");
  // The character line stops after 7999 bytes.
  std::string big(8000, 'x');
  Group b("BIG     ");
  b.add("X       ", 8000, 1, big.data());
  std::string out = capture_stderr([&] { csatrdmp(csgrpfnd(b.p, "X       ", csatrcnm)); });
  EXPECT_NE(out.find("=" + std::string(7999, 'x') + "\n"), std::string::npos);
}

}  // namespace
}  // namespace pcs::test_records
