// The query fill: query tables, the parts of specification entries, their
// groups, values and flags, and every failure path.
#include <functional>

#include "tests/query/piping_fixture.h"

namespace {

using namespace pcs::pipingtest;

class QueryFill : public SpecProject {
 protected:
  // cgqfill over the entries (a stack made here), the parts as text.
  std::vector<std::string> fill(const std::vector<int> &entries, int *rc,
                                const std::vector<std::string> &tables = {}) {
    std::vector<std::string> names;
    std::vector<const char *> pointers;
    for (const std::string &t : tables) names.push_back(field(t));
    for (const std::string &n : names) pointers.push_back(n.c_str());
    int count = static_cast<int>(pointers.size()), parts = -1, spare = 0;
    int stack = int_stack(entries);
    cgqfill(&owner_, pointers.data(), &count, &stack, &parts, rc);
    gusend(&stack, &spare);
    return take_parts(&parts);
  }
  // Ends the stacks of cgqgen, the attribute-name stacks first.
  static void end_lists(int names, int flags, int attributes) {
    int rc = 0;
    for (const std::string &entry : model::stack_entries(attributes)) {
      int stack = 0;
      std::memcpy(&stack, entry.data(), 4);
      gusend(&stack, &rc);
    }
    for (int *stack : {&names, &flags, &attributes}) gusend(stack, &rc);
  }
  void drop_table(model::Model &m, const char *table) {
    std::vector<std::string> &tables = m.object(owner_)->sets[model::name("QRY_DATA")];
    std::erase(tables, model::name(table));
  }
};

const std::string kPipeEnds =
    "PIPESPEC RATG    :C8 =150     |        |        |        /0,0,0,0"
    " SCH     :C8 =40      |        |        |        /1,0,0,0"
    " WALL    :C8 =        |        |        |        /0,0,0,0"
    " ENDS    :C8 =BW      |        |        |        /0,0,0,0;";

std::string pipe_part(const std::string &size, int row) {
  const std::string one = row == 1 ? "1" : "2";
  return "PIPESIZE SIZE    :C8 =" + field(size) + "/0;" +
         (row == 1 ? kPipeEnds
                   : "PIPESPEC RATG    :C8 =300     |        |        |        /0,0,0,0"
                     " SCH     :C8 =80      |        |        |        /0,0,0,0"
                     " WALL    :C8 =        |        |        |        /0,0,0,0"
                     " ENDS    :C8 =BW      |        |        |        /0,0,0,0;") +
         "PARTNAME NAME    :C12=PIPE        /0;"
         "RHMAXSIZ[m] MAXSIZE :C8 =        /0;"
         "RHMINSIZ MINSIZE :C8 =        /0;"
         "SPCFUNC [m] CATEGORY:C8 =PIPE    /0 FUNCTION:C8 =PIPE    /0 QRYNUMBR:C8 =" + field(one) + "/0;"
         "ELMMATL  VNDRCOD :C8 =        /2 MAINCODE:C8 =" + (row == 1 ? "CS      /1" : "SS      /0") + ";"
         "STANDATA STANDARD:C12=ASME    /0;"
         "ELCLASS [m] AELCLASS:C8 =PIPE    /0;"
         "VNDRCODE VNDRCOD :C8 =" + (row == 1 ? "V100    " : "V200    ") + "/2;"
         "PARTDEF  CATEGORY:C8 =PIPE    /0 PARTTYPE:C8 =PIPE    /0;";
}

TEST_F(QueryFill, BuildsOnePartPerRowAndProjectSize) {
  int rc = -1;
  std::vector<std::string> parts = fill({pipe_}, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(parts, (std::vector<std::string>{pipe_part("2", 1), pipe_part("3", 1),
                                             pipe_part("4", 1), pipe_part("6", 2)}));

  // Entries are popped: the valve first. Its ends stay ENDSPEC, its class
  // is cut to 8 characters, and a caller's table comes first.
  parts = fill({pipe_, valve_}, &rc, {"RHPSOPT"});
  ASSERT_RC(0, rc);
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0],
            "PIPESIZE SIZE    :C8 =3       /0;"
            "ENDSPEC  RATG    :C8 =150     |        |        |        /0,0,0,0"
            " SCH     :C8 =        |        |        |        /0,0,0,0"
            " WALL    :C8 =        |        |        |        /0,0,0,0"
            " ENDS    :C8 =FL      |        |        |        /0,0,0,0;"
            "RHPSOPT [m] OPTION  :C8 =        /0;"
            "PARTNAME NAME    :C12=GATE VALVE  /0;"
            "RHMAXSIZ[m] MAXSIZE :C8 =6       /0;"
            "RHMINSIZ MINSIZE :C8 =2       /0;"
            "SPCFUNC [m] CATEGORY:C8 =VALVE   /0 FUNCTION:C8 =GATE    /0 QRYNUMBR:C8 =1       /0;"
            "ELMMATL  VNDRCOD :C8 =        /0 MAINCODE:C8 =CS      /0;"
            "STANDATA STANDARD:C12=ASME    /0;"
            "ELCLASS [m] AELCLASS:C8 =GATEVALV/0;"
            "VNDRCODE VNDRCOD :C8 =V300    /0;"
            "PARTDEF  CATEGORY:C8 =VALVE   /0 PARTTYPE:C8 =GATE    /0;");
  EXPECT_NE(parts[1].find("RHPSOPT [m]"), std::string::npos);

  model::data().setup.ibafr7 = 1;
  parts = fill({valve_}, &rc);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_NE(parts[0].find("RHMINSIZ[m]"), std::string::npos);
}

TEST_F(QueryFill, CollectsTheQueryTables) {
  const char *mine[] = {"RHPSOPT ", "PRJMATL "};
  int count = 2, names = 0, flags = 0, attributes = 0, rc = -1;
  ASSERT_RC(0, (cgqgen(&owner_, mine, &count, &names, &flags, &attributes, &rc), rc));
  EXPECT_EQ(model::stack_entries(names),
            (std::vector<std::string>{"PRJMATL ", "RHPSOPT ", "PRTNAME ", "RHMAXSIZ", "RHMINSIZ",
                                      "SPCFUNC ", "PRJMATL ", "PRJSTAND"}));
  EXPECT_EQ(model::stack_entries(flags),
            (std::vector<std::string>{"GPRJMATL", "        ", "        ", "        ", "        ",
                                      "        ", "GPRJMATL", "        "}));
  std::vector<std::string> lists = model::stack_entries(attributes);
  ASSERT_EQ(lists.size(), 8u);
  int first = 0;
  std::memcpy(&first, lists[0].data(), 4);
  EXPECT_EQ(model::stack_entries(first), (std::vector<std::string>{"VNDRCOD ", "MAINCODE"}));
  end_lists(names, flags, attributes);

  model::fail_service("gj0asa", PCS_HOST_NO_GROUP, 3);
  EXPECT_RC(PCS_HOST_NO_GROUP, (cgqgen(&owner_, mine, &count, &names, &flags, &attributes, &rc), rc));
  EXPECT_EQ(names | flags | attributes, 0);
  sweep_allocations([&](long) {
    cgqgen(&owner_, mine, &count, &names, &flags, &attributes, &rc);
    EXPECT_EQ(rc == 0, names != 0);
    if (rc == 0) end_lists(names, flags, attributes);
  });
}

TEST_F(QueryFill, CodesOfTheEntryStack) {
  int rc = -1, parts = -1, none = 0;
  EXPECT_RC(PCS_NO_SPEC_ENTRIES, (cgqfill(&owner_, nullptr, &none, &none, &parts, &rc), rc));
  EXPECT_EQ(parts, 0);
  EXPECT_TRUE(fill({}, &rc).empty());
  EXPECT_RC(0, rc);
  // Entries longer than a reference are not copied into one.
  int wide = 0, size = 8, count = 0;
  gusini(&size, &wide, &rc);
  guspus(&wide, "ENTRY 01", &count, &rc);
  EXPECT_RC(PCS_GEN_NO_MEMORY, (cgqfill(&owner_, nullptr, &none, &wide, &parts, &rc), rc));
  EXPECT_TRUE(take_parts(&parts).empty());
  gusend(&wide, &rc);
}

// A missing group the adjustments need ends the fill without a code; a
// value or size too long for its buffer is 20101, never a cut.
TEST_F(QueryFill, StopsAtMissingGroupsAndLongValues) {
  struct Case {
    const char *what;
    std::function<void(model::Model &)> change;
    int rc;
    size_t parts;
  };
  const Case cases[] = {
      {"no SPCFUNC", [&](model::Model &m) { drop_table(m, "SPCFUNC"); }, 0, 1},
      {"no PRJSTAND", [&](model::Model &m) { drop_table(m, "PRJSTAND"); }, 0, 1},
      {"no PRJMATL", [&](model::Model &m) { drop_table(m, "PRJMATL"); }, 0, 1},
      {"size of 41", [](model::Model &m) { m.groups[model::name("SPCSZRNG")].attributes[0].length = 41; }, PCS_GEN_NO_MEMORY, 0},
      {"value of 257", [](model::Model &m) { m.groups[model::name("PRTNAME")].attributes[0].length = 257; }, PCS_GEN_NO_MEMORY, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    model::clear();
    build(model::data());
    c.change(model::data());
    int rc = -1;
    EXPECT_EQ(fill({pipe_}, &rc).size(), c.parts);
    EXPECT_RC(c.rc, rc);
  }
}

// Each host service failing in turn gives its code; every stack but the
// part stack is ended and the parts on it are released with it.
TEST_F(QueryFill, HostFailuresPassThrough) {
  int rc = -1;
  fill({pipe_}, &rc);
  const std::vector<model::Call> gtbrae = model::calls_of("gtbrae");
  int first_flag_table = 0;
  while (gtbrae[size_t(first_flag_table)].args[2] != "GPRJMATL") ++first_flag_table;
  struct Case {
    const char *service;
    long nth;
    int code, rc;
  };
  const Case cases[] = {
      {"gtbsas", 1, PCS_HOST_BAD_ARGUMENT, PCS_HOST_BAD_ARGUMENT},
      {"gtbsas", 3, PCS_HOST_NO_OBJECT, PCS_HOST_NO_OBJECT},
      {"gj0pig", 2, PCS_HOST_NO_TYPE, PCS_HOST_NO_TYPE},
      {"gj0asa", 1, PCS_HOST_NO_GROUP, PCS_HOST_NO_GROUP},
      {"gtbrae", 2, PCS_HOST_NO_ENTRY, PCS_HOST_NO_ENTRY},
      {"gtbrae", 40, PCS_HOST_BAD_ARGUMENT, PCS_HOST_BAD_ARGUMENT},
      {"gtbrae", first_flag_table + 1, PCS_HOST_NO_ENTRY, PCS_GENERIC_FLAG},
      {"gtbrui", 2, PCS_HOST_NO_ENTRY, PCS_HOST_NO_ENTRY},
      {"gj0art", 5, PCS_HOST_NO_ATTRIBUTE, PCS_HOST_NO_ATTRIBUTE},
      {"pclrng", 2, PCS_HOST_NO_SIZE, PCS_HOST_NO_SIZE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.service) + " call " + std::to_string(c.nth));
    const long injected = model::injected_failures();
    model::fail_service(c.service, c.code, c.nth);
    EXPECT_RC(c.rc, (fill({pipe_}, &rc), rc));
    EXPECT_EQ(model::injected_failures(), injected + 1);
    EXPECT_EQ(pcs::host::live_stacks(), 0);
  }
}

TEST_F(QueryFill, ReleasesEverythingWhenMemoryFails) {
  sweep_allocations([&](long) {
    int rc = -1;
    fill({pipe_}, &rc);
    // 20110: the test's own entry stack could not be made.
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY || rc == PCS_GUS_NO_MEMORY ||
                rc == PCS_HOST_NO_MEMORY || rc == PCS_NO_SPEC_ENTRIES) << rc;
  });
}

}  // namespace
