// Catalog parts from query data, end specifications over four ends and the
// size limits of a query.
#include "tests/query/piping_fixture.h"

namespace {

using namespace pcs::pipingtest;

class PartCreation : public SpecProject {
 protected:
  // cgctprcr over the pair lists, each given as "GROUP/ATTR" texts.
  std::vector<std::string> create(const std::vector<std::string> &first,
                                  const std::vector<std::string> &options,
                                  const std::vector<std::string> &third, CgPart source1,
                                  CgPart source2, int *rc) {
    Lists a(first), b(options), c(third);
    int parts = -1;
    cgctprcr(a.groups.data(), a.attributes.data(), &a.count, b.groups.data(),
             b.attributes.data(), &b.count, c.groups.data(), c.attributes.data(), &c.count,
             source1, source2, &parts, rc);
    return take_parts(&parts);
  }
  struct Lists {
    explicit Lists(const std::vector<std::string> &pairs) {
      for (const std::string &p : pairs) {
        names.push_back(field(p.substr(0, p.find('/'))));
        names.push_back(field(p.substr(p.find('/') + 1)));
      }
      for (size_t i = 0; i < names.size(); i += 2) {
        groups.push_back(names[i].c_str());
        attributes.push_back(names[i + 1].c_str());
      }
      count = static_cast<int>(groups.size());
    }
    std::vector<std::string> names;
    std::vector<const char *> groups, attributes;
    int count;
  };
};

const std::vector<PartValue> kQuery = {
    {"PIPESIZE", "SIZE", "C8", {"4", "2"}, {}},
    {"STANDATA", "STANDARD", "C8", {"ASME"}, {}},
    {"ENDSPEC", "RATG", "C8", {"A"}, {}},
    {"ENDSPEC", "ENDS", "C8", {"BB"}, {}},
    {"ELMMATL", "MAINCODE", "I4", {"12"}, {}},
    {"PARTDEF", "CATEGORY", "C8", {"VALVE"}, {}},
};

TEST_F(PartCreation, BuildsOnePartWithoutRunSizes) {
  CgPart source1 = make_part(kQuery);
  CgPart source2 = make_part({{"SPCFUNC", "FUNCTION", "C8", {"GATE"}, {0}},
                              {"ELMMATL", "MAINCODE", "C8", {"CS", "SS"}, {0, 3}}});
  int rc = -1;
  std::vector<std::string> parts =
      create({"PARTDEF/CATEGORY"}, {"ENDSPEC/RATG", "ENDSPEC/ENDS", "ENDSPEC/SCH"},
             {"SPCFUNC/FUNCTION"}, source1, source2, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(parts, std::vector<std::string>{
                       "SPCFUNC  FUNCTION:C8 =GATE    ;"
                       "PARTDEF  CATEGORY:C8 =VALVE   ;"
                       "OPTIONS  RATG    :C8 =A        ENDS    :C8 =BB      ;"
                       "TYPEOPTS OPTIONS :C40=" + field("A BB", 40) + ";"
                       "ELMMATL  MAINCODE:C8 =SS      ;"
                       "GENERICS ATTRGRP :C8 =ELMMATL  ATTRNAME:C8 =MAINCODE VALUESTA:I4 =3;"
                       "PIPESIZE SIZE    :C8 =4       |2       ;"});

  // An integer option is written in decimal; no generic flag, no GENERICS.
  cggfre(source2);
  source2 = make_part({{"ELMMATL", "MAINCODE", "C8", {"CS"}, {0}}});
  parts = create({}, {"ELMMATL/MAINCODE", "ENDSPEC/ENDS"}, {}, source1, source2, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(parts, std::vector<std::string>{
                       "OPTIONS  MAINCODE:I4 =12 ENDS    :C8 =BB      ;"
                       "TYPEOPTS OPTIONS :C40=" + field("12 BB", 40) + ";"
                       "PIPESIZE SIZE    :C8 =4       |2       ;"});
  cggfre(source1);
  cggfre(source2);
}

TEST_F(PartCreation, BuildsOnePartPerRunSize) {
  std::vector<PartValue> query = kQuery;
  query.push_back({"RUNSIZE1", "SIZE", "C8", {"2"}, {}});
  query.push_back({"RUNSIZE2", "SIZE", "C8", {"4"}, {}});
  CgPart source1 = make_part(query);
  int rc = -1;
  std::vector<std::string> parts = create({"PARTDEF/CATEGORY"}, {}, {}, source1, nullptr, &rc);
  ASSERT_RC(0, rc);
  const std::string common = "PARTDEF  CATEGORY:C8 =VALVE   ;TYPEOPTS OPTIONS :C40=" + field("", 40) + ";";
  EXPECT_EQ(parts, (std::vector<std::string>{common + "PIPESIZE SIZE    :C8 =4       |4       ;",
                                             common + "PIPESIZE SIZE    :C8 =3       |4       ;",
                                             common + "PIPESIZE SIZE    :C8 =2       |4       ;"}));

  struct Case {
    const char *service;
    int code;
    size_t parts;
  };
  const Case cases[] = {{"pclrng", PCS_HOST_NO_SIZE, 0}, {"sulbrm", PCS_HOST_BAD_ARGUMENT, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.service);
    model::fail_service(c.service, c.code, c.parts + 1);
    parts = create({"PARTDEF/CATEGORY"}, {}, {}, source1, nullptr, &rc);
    EXPECT_RC(c.code, rc);
    EXPECT_EQ(parts.size(), c.parts + (c.parts ? 1 : 0));
  }
  // A run size or standard longer than its 80-character buffer is an error.
  for (const char *group : {"RUNSIZE1", "STANDATA"}) {
    std::vector<PartValue> values = query;
    for (PartValue &v : values)
      if (v.group == group) v = {group, v.attribute, "C81", {"2"}, {}};
    CgPart long_one = make_part(values);
    EXPECT_TRUE(create({}, {}, {}, long_one, nullptr, &rc).empty());
    EXPECT_RC(PCS_GEN_NO_MEMORY, rc);
    cggfre(long_one);
  }
  sweep_allocations([&](long) {
    create({"PARTDEF/CATEGORY"}, {"ENDSPEC/RATG"}, {}, source1, source1, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY || rc == PCS_GUS_NO_MEMORY ||
                rc == PCS_HOST_NO_MEMORY) << rc;
  });
  cggfre(source1);
}

TEST_F(PartCreation, SpreadsEndsOverFourEnds) {
  struct Case {
    std::vector<PartValue> part;
    std::string expected;
  };
  const Case cases[] = {
      {{{"ENDSPEC", "RATG", "C8", {"150"}, {}}, {"ENDSPEC", "SCH", "I4", {"40"}, {}},
        {"ENDSPEC", "WALL", "C8", {""}, {}}, {"ENDSPEC", "ENDS", "C8", {"BW"}, {}}},
       "ENDSPEC  RATG    :C8 =150     |150     |150     |150      SCH     :I4 =40|40|40|40"
       " WALL    :C8 =        |        |        |         ENDS    :C8 =BW      |BW      |BW      |BW      ;"},
      {{{"ENDSPEC", "RATG", "C8", {"150"}, {}}, {"ENDSPEC", "WALL", "C8", {"9"}, {}}},
       "ENDSPEC  RATG    :C8 =150     |150     |150     |150      WALL    :C8 =9       ;"},
      {{{"PIPESPEC", "RATG", "C8", {"150"}, {}}}, "PIPESPEC RATG    :C8 =150     ;"},
  };
  int rc = -1;
  for (const Case &c : cases) {
    CgPart part = make_part(c.part);
    EXPECT_RC(0, (cgmangle(part, &rc), rc));
    EXPECT_EQ(part_text(part), c.expected);
    cggfre(part);
  }
  // Generic flags are not extended.
  CgPart part = make_part({{"ENDSPEC", "RATG", "C8", {"150"}, {1}}});
  const int32_t *flags = part->attributes->genericFlags;
  cgmangle(part, &rc);
  EXPECT_EQ(part->attributes->valueCount, 4);
  EXPECT_EQ(part->attributes->genericFlags, flags);
  sweep_allocations([&](long) {
    cgmangle(part, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY) << rc;
  });
  cggfre(part);
}

TEST_F(PartCreation, ChecksSizesAgainstTheQueryLimits) {
  struct Case {
    std::string minimum, maximum;
    std::vector<std::string> sizes;
    int result;
  };
  const Case cases[] = {
      {"", "", {"1", "8"}, 0},  {"3", "", {"2"}, 1},    {"3", "", {"3", "2"}, 1},
      {"3", "", {"3", ""}, 0},  {"", "4", {"6"}, 0},    {"", "4", {"6", "4"}, 0},
      {"", "4", {"4", "6"}, 1}, {"2", "4", {"3", "3"}, 0}, {"2", "4", {"1", "9"}, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.minimum + ".." + c.maximum);
    CgPart query = make_part({{"STANDATA", "STANDARD", "C8", {"ASME"}, {}},
                              {"RHMINSIZ", "MINSIZE", "C8", {c.minimum}, {}},
                              {"RHMAXSIZ", "MAXSIZE", "C8", {c.maximum}, {}}});
    CgPart catalog = make_part({{"PIPESIZE", "SIZE", "C8", c.sizes, {}}});
    int result = -1, rc = -1;
    EXPECT_RC(0, (cgminsz(catalog, query, &result, &rc), rc));
    EXPECT_EQ(result, c.result);
    EXPECT_TRUE(pcs::host::live_stacks() == 0);
    cggfre(query);
    cggfre(catalog);
  }
  CgPart query = make_part({{"STANDATA", "STANDARD", "C8", {"DIN"}, {}},
                            {"RHMINSIZ", "MINSIZE", "C8", {"3"}, {}}});
  int result = -1, rc = -1;
  EXPECT_RC(PCS_HOST_NO_STANDARD, (cgminsz(query, query, &result, &rc), rc));
  CgPart long_limit = make_part({{"RHMINSIZ", "MINSIZE", "C81", {"3"}, {}}});
  EXPECT_RC(PCS_GEN_NO_MEMORY, (cgminsz(long_limit, long_limit, &result, &rc), rc));
  cggfre(long_limit);
  std::memcpy(query->attributes->values, "ASME    ", 8);
  sweep_allocations([&](long) {
    cgminsz(query, query, &result, &rc);
    EXPECT_TRUE(rc == 0 || rc == PCS_GUS_NO_MEMORY || rc == PCS_HOST_NO_MEMORY) << rc;
  });
  cggfre(query);
}

}  // namespace
