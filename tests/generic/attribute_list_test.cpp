// Query attribute lists: chain building, the decision table over every cell
// for each type letter, positional and unordered comparison, group and part
// comparison, part keys, and allocation failures.
#include <array>

#include "tests/generic/generic_fixture.h"

namespace pcs::test {
namespace {

using pcs::generic::ValueClass;

// The table as printed: T[g][cb][ca].
constexpr int kTable[2][3][3] = {{{1, 1, 0}, {1, 1, 0}, {1, 1, 2}},
                                 {{1, 1, 1}, {1, 1, 1}, {0, 0, 2}}};

struct Letter {
  char type;
  int length;
  std::string present, other, empty;
};

// One value of the class (absent: no value at all); `other` picks a present
// value unequal to the query's.
CgAttribute *attribute_of(const Letter &l, int cls, bool other, const char *type, int flag) {
  if (cls == 0) {  // no value; a query side still carries its flag
    CgAttribute *a = make_attribute("A", type, l.length, {}, {});
    int count = 1, size = 4;
    a->genericFlags = static_cast<int32_t *>(cgaradd(nullptr, &count, &flag, &size));
    return a;
  }
  const std::string &v = cls == 1 ? l.empty : other ? l.other : l.present;
  return make_attribute("A", type, l.length, {v}, {flag});
}

class AttributeLists : public HostTest {};

TEST_F(AttributeLists, DecisionTableEveryCell) {
  const std::array<Letter, 3> letters = {
      Letter{'C', 8, field("ABC"), field("XYZ"), field("")},
      Letter{'I', 4, int_bytes(7), int_bytes(9), int_bytes(0)},
      Letter{'R', 8, real_bytes(2.0), real_bytes(3.5), real_bytes(0.0)}};
  for (const Letter &l : letters)
    for (int g = 0; g < 2; ++g)
      for (int ca = 0; ca < 3; ++ca)
        for (int cb = 0; cb < 3; ++cb)
          for (bool differ : {false, true}) {
            std::string trace(1, l.type);  // appended: gcc 12 warns falsely on a + chain
            trace += " g" + std::to_string(g) + " ca" + std::to_string(ca) + " cb" +
                     std::to_string(cb) + (differ ? " differ" : "");
            SCOPED_TRACE(trace);
            CgAttribute *a = attribute_of(l, ca, false, std::string(1, l.type).c_str(), g);
            CgAttribute *b = attribute_of(l, cb, differ, "", 0);
            const int d = kTable[g][cb][ca];
            EXPECT_EQ(generic::decide(g, ValueClass(cb), ValueClass(ca)), d);
            const bool expected = d == 2 ? !differ : d == 1;
            EXPECT_EQ(generic::compare_value(a, 0, b, 0, 1.0), expected);
            if (cb == 2) {
              EXPECT_EQ(b->type[0], l.type);  // the query's letter is taken
            }
            if (ca != 0) {
              int rc = 0, ordered = 1, unordered = 0;
              const double tolerance = 1.0;
              EXPECT_EQ(cgaeql(a, b, &ordered, &tolerance, &rc), expected ? 1 : 0);
              EXPECT_EQ(cgaeql(a, b, &unordered, &tolerance, &rc), expected && cb != 0 ? 1 : 0);
              EXPECT_RC(0, rc);
            }
            generic::free_attributes(a);
            generic::free_attributes(b);
          }
}

struct EqlCase {
  const char *name;
  CgAttribute *a, *b;
  int ordered;
  double tolerance;
  int expected;
};

TEST_F(AttributeLists, AttributeComparisonEdges) {
  const std::string x = field("X"), y = field("Y");
  const EqlCase cases[] = {
      {"present rejects missing", make_attribute("A", "C8", 8, {x}, {0}), nullptr, 1, 0, 0},
      {"shorter length", make_attribute("A", "C8", 8, {"ABCdefgh"}, {0}),
       make_attribute("A", "", 3, {"ABC"}), 1, 0, 1},
      {"shorter length differs", make_attribute("A", "C8", 8, {"ABDdefgh"}, {0}),
       make_attribute("A", "", 3, {"ABC"}), 1, 0, 0},
      {"real within", make_attribute("A", "R8", 8, {real_bytes(2.0)}, {0}),
       make_attribute("A", "", 8, {real_bytes(2.9)}), 1, 1.0, 1},
      {"three against one", make_attribute("A", "C8", 8, {x, x, field("")}, {0, 0, 0}),
       make_attribute("A", "", 8, {x}), 1, 0, 0},
      {"blank tail against absent", make_attribute("A", "C8", 8, {x, field(""), field("")}, {0, 0, 0}),
       make_attribute("A", "", 8, {x}), 1, 0, 1},
      {"unordered takes once", make_attribute("A", "C8", 8, {x, x}, {0, 0}),
       make_attribute("A", "", 8, {x, y}), 0, 0, 0},
      {"unordered any order", make_attribute("A", "C8", 8, {x, y}, {0, 0}),
       make_attribute("A", "", 8, {y, x}), 0, 0, 1},
      {"positional order matters", make_attribute("A", "C8", 8, {x, y}, {0, 0}),
       make_attribute("A", "", 8, {y, x}), 1, 0, 0},
      {"no query values", make_attribute("A", "C8", 8, {}), make_attribute("A", "", 8, {x}), 1, 0, 1},
      {"other letter equal", make_attribute("A", "Z8", 8, {x}, {0}), make_attribute("A", "", 8, {y}), 1, 0, 1},
  };
  for (const EqlCase &c : cases) {
    int rc = 0;
    EXPECT_EQ(cgaeql(c.a, c.b, &c.ordered, &c.tolerance, &rc), c.expected) << c.name;
    EXPECT_RC(0, rc);
    generic::free_attributes(c.a);
    generic::free_attributes(c.b);
  }
}

TEST_F(AttributeLists, GroupsAndParts) {
  CgGroup *query = make_part({{"PIPE", {{"SIZE", 1, 8, field("4")}, {"RATING", 1, 8, field("150")}}},
                              {"END", {{"STYLE", 1, 8, field("BW")}}}});
  for (CgGroup *g = query; g; g = g->next)
    for (CgAttribute *a = g->attributes; a; a = a->next) a->genericFlags = static_cast<int32_t *>(gicaloc(1, 4));
  CgGroup *same = make_part({{"END", {{"STYLE", 1, 8, field("BW")}}},
                             {"PIPE", {{"RATING", 1, 8, field("150")}, {"SIZE", 1, 8, field("4")}}}});
  CgGroup *other_end = make_part({{"PIPE", {{"SIZE", 1, 8, field("4")}, {"RATING", 1, 8, field("150")}}},
                                  {"END", {{"STYLE", 1, 8, field("SW")}}}});
  int rc = 0;
  EXPECT_EQ(cgpreql(query, same, &rc), 1);
  EXPECT_EQ(cgpreql(query, other_end, &rc), 0);
  EXPECT_EQ(cgpreql(query, nullptr, &rc), 0);
  EXPECT_EQ(cgpreql(nullptr, other_end, &rc), 1);
  EXPECT_EQ(cgageql(query, same->next, &rc), 1);
  EXPECT_EQ(cgageql(query, nullptr, &rc), 0);
  query->next->matchFlag = 0;  // END no longer counts
  EXPECT_EQ(cgpreql(query, other_end, &rc), 1);
  EXPECT_EQ(cgpreql(query, make_part({}), &rc), 0);
  EXPECT_RC(0, rc);
  EXPECT_EQ(cgagfng(query, nullptr), 1);
  query->attributes->genericFlags[0] = 1;
  query->attributes->next->genericFlags[0] = -1;
  EXPECT_EQ(cgagfng(query, nullptr), 0);
  cggfre(query);
  cggfre(same);
  cggfre(other_end);
}

TEST_F(AttributeLists, NonGenericContent) {
  struct Case {
    CgAttribute *a;
    int expected;
  } cases[] = {
      {make_attribute("A", "C8", 8, {field(""), field("X")}, {0, 0}), 1},
      {make_attribute("A", "C8", 8, {field(" X")}, {0}), 0},  // first byte only
      {make_attribute("A", "C8", 8, {field("X")}, {1}), 0},
      {make_attribute("A", "I4", 4, {int_bytes(0), int_bytes(3)}, {0, 0}), 1},
      {make_attribute("A", "I4", 4, {int_bytes(0)}, {0}), 0},
      {make_attribute("A", "R8", 8, {real_bytes(0.5)}, {0}), 1},
      {make_attribute("A", "R8", 8, {real_bytes(0.5)}, {2}), 0},
      {make_attribute("A", "Z8", 8, {field("X")}, {0}), 0},
      {make_attribute("A", "C8", 8, {}), 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cgafng(cases[i].a), cases[i].expected) << i;
    generic::free_attributes(cases[i].a);
  }
  EXPECT_EQ(cgagfng(nullptr, nullptr), 0);
}

TEST_F(AttributeLists, ChainsAppendAndFind) {
  int rc = 0, length = 8;
  CgGroup *part = nullptr;
  const std::string x = field("X"), y = field("Y");
  part = cgpradd(x.data(), "C8      ", &length, "SIZE    ", "PIPE    ", part, &rc);
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->matchFlag, 1);
  EXPECT_EQ(cgpradd(y.data(), "I4      ", &length, "SIZE    ", "PIPE    ", part, &rc), part);
  int four = 4;
  cgpradd(x.data(), "C4      ", &four, "STYLE   ", "END     ", part, &rc);
  cgpradd(y.data(), "C8      ", &length, "RATING  ", "PIPE    ", part, &rc);
  EXPECT_RC(0, (cgpradd(y.data(), "C8      ", &length, "ZZZ     ", "END     ", part, &rc), rc));
  EXPECT_EQ(part_text(part), "PIPE    :SIZE    =" + x + y + ";RATING  =" + y + ";|END     :STYLE   =X   ;ZZZ     =" + y + ";|");
  EXPECT_EQ(part->attributeCount, 2);
  EXPECT_EQ(std::string(part->attributes->type, 8), "C8      ");  // kept its own type
  EXPECT_EQ(cgagfnd("END     ", part), part->next);
  EXPECT_EQ(cgagfnd("NONE    ", part), nullptr);
  EXPECT_EQ(cgagfnd("END     ", nullptr), nullptr);
  EXPECT_EQ(cgafnd("RATING  ", part->attributes), part->attributes->next);
  rc = 5;  // a non-zero rc leaves the part alone
  EXPECT_EQ(cgpradd(x.data(), "C8      ", &length, "NEW     ", "NEW     ", part, &rc), part);
  EXPECT_EQ(cgagfnd("NEW     ", part), nullptr);

  const char *groups[] = {"PIPE    ", "NONE    ", "END     ", "PIPE    "};
  const char *attrs[] = {"SIZE    ", "SIZE    ", "STYLE   ", "RATING  "};
  char key[64];
  int count = 4;
  EXPECT_EQ(cgkeycre(groups, attrs, &count, part, key, &rc), 0);
  EXPECT_EQ(std::string(key, 37), x + y + field("") + "X   " + y + std::string(1, '\0'));
  EXPECT_EQ(generic::key_size(groups, attrs, 4, part), 36);
  count = 0;
  cgkeycre(groups, attrs, &count, part, key, &rc);
  EXPECT_EQ(key[0], '\0');
  EXPECT_RC(5, rc);
  cggfre(part);
}

TEST_F(AttributeLists, AllocationFailures) {
  sweep_allocations([](long) {
    int rc = 0, length = 8, ordered = 0;
    const double tolerance = 0;
    const std::string x = field("X");
    CgGroup *part = nullptr;
    for (const char *g : {"PIPE    ", "END     "})
      for (const char *a : {"SIZE    ", "STYLE   "})
        part = cgpradd(x.data(), "C8      ", &length, a, g, part, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY) << rc;
    if (rc == 0) {
      EXPECT_EQ(part_text(part), "PIPE    :SIZE    =" + x + ";STYLE   =" + x + ";|END     :SIZE    =" + x +
                                      ";STYLE   =" + x + ";|");
      const int equal = cgaeql(part->attributes, part->attributes, &ordered, &tolerance, &rc);
      EXPECT_EQ(equal, rc == 0 ? 1 : 0);
    }
    cggfre(part);
  });
  int count = 2, size = 4, element = 9;
  auto *flags = static_cast<int32_t *>(gicaloc(1, 4));
  pcs::host::fail_allocation(1);
  EXPECT_EQ(cgaradd(flags, &count, &element, &size), nullptr);  // the old array stays
  gifree(flags);
}

}  // namespace
}  // namespace pcs::test
