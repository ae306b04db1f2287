// The table creators against the in-process host model: the model calls
// each makes, the rows it stores, every host failure in turn and the
// allocation failures.
#include <filesystem>
#include <functional>
#include <map>

#include "include/pcs.h"
#include "tests/host/model_fixture.h"

namespace {

using Strings = std::vector<std::string>;
constexpr int kInjected = 6999;

class Creators : public ModelTest {
 protected:
  std::string table(const std::string &name, const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(dir_.path(name)).parent_path());
    write_file(dir_.path(name), text);
    return dir_.path(name);
  }
  // The services called since the last clear_calls, by name.
  static std::string services() {
    std::string names;
    for (const model::Call &c : model::calls()) names += (names.empty() ? "" : " ") + c.service;
    return names;
  }
  static int newest() { return model::data().objects.rbegin()->first; }
  static Strings column(int handle, const char *group, const char *attribute) {
    return model::data().column(handle, group, attribute);
  }
  // Back to the example project's model (saves still go to the project).
  void reload() {
    ASSERT_RC(0, model::load_text(read_file(example_project())));
    model::clear_calls();
  }
  // Runs call() once, then fails each of its model calls in turn: the call
  // gives that code, nothing is saved (unless saves_between) and pr0end
  // comes last. Then sweeps the allocations.
  void fail_each_call(const std::function<int()> &call, const std::string &sequence,
                      bool saves_between) {
    reload();
    ASSERT_RC(0, call());
    EXPECT_EQ(services(), sequence);
    const std::vector<model::Call> calls = model::calls();
    std::map<std::string, long> seen;
    for (const model::Call &c : calls) {
      const long nth = ++seen[c.service];
      if (c.service == "pr0ini" || c.service == "pr0vws" || c.service == "pr0end") continue;
      SCOPED_TRACE(c.text() + " #" + std::to_string(nth));
      reload();
      model::fail_service(c.service, kInjected, nth);
      const int saves = model::session().saves;
      if (c.service == "gj0aii") {  // quiet: the group may be attached already
        EXPECT_RC(0, call());
        continue;
      }
      EXPECT_RC(kInjected, call());
      if (!saves_between) { EXPECT_EQ(model::session().saves, saves); }
      EXPECT_EQ(model::calls().back().service, "pr0end");
      model::clear_failures();
    }
    reload();
    sweep_allocations([&](long) {
      const int rc = call();
      EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY || rc == PCS_GUS_NO_MEMORY) << rc;
    });
  }
};

TEST_F(Creators, RulesTables) {
  const std::string weld = table("t/WT1", "BW,BW,1.5,2.5,SHOP,FW,\nSW,SW,x,2,FIELD,X,\n");
  const double two = 2.0;
  int rc = 0;
  cgwtcr2(weld.c_str(), &two, &rc);
  ASSERT_RC(0, rc);
  int h = newest();
  EXPECT_EQ(model::data().text(h, "PRJBNAME", 1, "NAME"), "WT1");
  EXPECT_EQ(column(h, "PRJWRULS", "WALL2"), Strings({"5", "4"}));
  EXPECT_EQ(column(h, "PRJWRULS", "FABSITE"), Strings({"SHOP", "FIELD"}));

  const char *keys[] = {"ZERO", "0", "0.5", "OFF", "OFFLINE", "1", "", "XOFF"};
  std::string lines;
  for (const char *k : keys) lines += std::string("a,b,") + k + ",2.5,e,p,\n";
  cgbtcr2(table("t/BT1", lines).c_str(), &rc);
  h = newest();
  EXPECT_EQ(column(h, "PRJBRULS", "SIZEKEY"), Strings({"RB", "RB", "RB", "RB", "RB", "B", "B", "B"}));
  EXPECT_EQ(column(h, "PRJBRULS", "B_FUNC")[0], "2.5");
  cgbtcr2(dir_.path("none/").c_str(), &rc);  // cannot open: the object exists, without rows
  EXPECT_RC(PCS_CANNOT_OPEN, rc);
  EXPECT_EQ(model::data().text(newest(), "PRJBNAME", 1, "NAME"), "");
  EXPECT_TRUE(column(newest(), "PRJBRULS", "R_NOD").empty());

  rc = 0;
  const std::string dims = table("t/PD", "2,40,60.3,3.91,\n");
  for (int run = 0; run < 2; ++run) cgpdtcr2(dims.c_str(), "NEWSTD", &two, &rc);
  h = model::data().find_object("STANDARD", "NEWSTD")->handle;
  EXPECT_EQ(column(h, "PIPEDIM ", "SIZE"), Strings({"2", "2"}));
  EXPECT_EQ(model::data().text(h, "PIPEDIM ", 1, "OD"), "120.6");
  model::data().object(1)->groups.clear();  // rows are numbered from 1: start from none
  cgcmtcr2(table("t/CM", "End Style,ANSI,x,ANSI,y,\n").c_str(), &rc);
  EXPECT_EQ(column(1, "PRJCMPT ", "NAME").back(), "PRJENDS");
  EXPECT_EQ(column(1, "PRJCMPT ", "SPEC1").back(), "x");
  EXPECT_RC(0, rc);
}

TEST_F(Creators, StandardAndFunctionTables) {
  table("std/PNAMNTRY", "P1,Pipe one\n,lead\nnocomma\nP2,\nP3,O'RING\n");
  table("std/ENDNTRY", "BW,Butt weld\n");
  table("std/ENDNTRY.old", "ignored\n");
  table("std/WALLNTRY", "W1,3.5\n");
  const double two = 2.0;
  int rc = 0;
  cgstdcr(dir_.path("std").c_str(), "NEWSTD", &two, &rc);
  ASSERT_RC(0, rc);
  const model::Object *standard = model::data().find_object("STANDARD", "NEWSTD");
  ASSERT_NE(standard, nullptr);
  EXPECT_EQ(column(standard->handle, "PRJPNVLV", "ENCPNAME"), Strings({"P1", "P3"}));
  EXPECT_EQ(column(standard->handle, "PRJPNPIP", "PARTNAME"), Strings({"Pipe one", "ORING"}));
  EXPECT_EQ(column(standard->handle, "PRJENDS ", "ENC_ENDS"), Strings({"BW", "BW"}));
  EXPECT_EQ(column(standard->handle, "PRJWALL ", "WALL"), Strings({"7"}));

  table("fn/ABC_FLG", "P,1,2,M\nQ,3,4,N\n");
  table("fn/ABC_V", "");
  table("fn/ABC", "x\n");
  table("fn/ABC_X", "x\n");
  cgfnctcr(dir_.path("fn").c_str(), &rc);
  ASSERT_RC(0, rc);
  std::map<std::string, Strings> tables;  // name -> catalog name, PROCFUNC values
  for (const auto &[handle, object] : model::data().objects) {
    if (object.type != model::name("FNCTABLE") && object.type != "FNCTABLE") continue;
    Strings row = {model::data().text(handle, "PRJTNAME", 1, "CATNAME")};
    for (const std::string &v : column(handle, "PRJFRULS", "PROCFUNC")) row.push_back(v);
    tables[model::data().text(handle, "PRJTNAME", 1, "NAME")] = row;
  }
  EXPECT_EQ(tables, (std::map<std::string, Strings>{{"ABC_FLG", {"FLANGECAT", "P", "Q"}},
                                                   {"ABC_V", {"VALVEOPCAT"}}}));
  cgstdcr(dir_.path(std::string(250, 'd')).c_str(), "S", &two, &rc);
  EXPECT_RC(PCS_CANNOT_OPEN, rc);
}

TEST_F(Creators, PipingClasses) {
  table("cls/CLASSMAP", "CS1,W2,weld_table,W1,weld_table,B1,branch_table,\nCS2,W9,weld_table,\n");
  for (const char *f : {"cls/CS1_PIPE", "cls/CS1_FLG", "cls/_X", "cls/CS2_XYZ"}) table(f, "");
  int stack = 0, rc = 0;
  cgpscr(dir_.path("cls").c_str(), "ASME", &stack, &rc);
  ASSERT_RC(0, rc);
  EXPECT_TRUE(take(stack).empty());
  const model::Object *cs1 = model::data().find_object("PSPEC", "CS1");
  const model::Object *cs2 = model::data().find_object("PSPEC", "CS2");
  ASSERT_TRUE(cs1 && cs2);
  EXPECT_EQ(model::data().text(cs1->handle, "SPCDATA ", 1, "STANDARD"), "ASME");
  EXPECT_EQ(column(cs1->handle, "PRJWNAMS", "NAME"), Strings({"W2", "W1"}));
  EXPECT_EQ(column(cs1->handle, "PRJBNAMS", "NAME"), Strings({"B1"}));
  EXPECT_EQ(column(cs1->handle, "PRJFNAMS", "NAME"), Strings({"CS1_FLG", "CS1_PIPE"}));
  EXPECT_EQ(column(cs1->handle, "PRJFNAMS", "CATNAME"), Strings({"FLANGECAT", "PIPECAT"}));
  EXPECT_EQ(column(cs2->handle, "PRJWNAMS", "NAME"), Strings({"W9"}));
  EXPECT_TRUE(column(cs2->handle, "PRJFNAMS", "NAME").empty());
  EXPECT_EQ(model::session().saves, 6);  // after each of the 5 entries, then once more
}

TEST_F(Creators, LongPathsAndColumnsAreRefused) {
  const std::string deep = std::string(200, 'a') + "/" + std::string(60, 'b');
  table(deep + "/ENDNTRY", "BW,Butt weld\n");
  table(deep + "/A_PIPE", "P,1,2,M\n");
  table(deep + "/CS1_PIPE", "");
  const double one = 1.0;
  int rc = 0, stack = 0;
  const std::string dir = dir_.path(deep);
  cgstdcr(dir.c_str(), "S", &one, &rc);
  EXPECT_RC(PCS_PATH_TOO_LONG, rc);
  rc = 0;
  cgfnctcr(dir.c_str(), &rc);
  EXPECT_RC(PCS_PATH_TOO_LONG, rc);
  rc = 0;
  cgpscr(dir.c_str(), "S", &stack, &rc);
  EXPECT_RC(PCS_PATH_TOO_LONG, rc);
  take(stack);
  EXPECT_EQ(model::session().saves, 0);
  model::data().define_group("PRJBNAME", {{"NAME", 'C', 300}}, true);
  rc = 0;
  cgwtcr2(table("t/WT1", "").c_str(), &one, &rc);
  EXPECT_RC(PCS_GEN_NO_MEMORY, rc);
}

TEST_F(Creators, EveryHostFailureEndsTheCallUnsaved) {
  const std::string weld = table("t/WT1", "BW,BW,1.5,2.5,SHOP,FW,\n");
  const std::string branch = table("t/BT1", "a,b,0,f,e,p,\n");
  const std::string dims = table("t/PD", "2,40,60.3,3.91,\n");
  table("std/ENDNTRY", "BW,Butt weld\n");
  table("fn/A_PIPE", "P,1,2,M\n");
  table("cls/CLASSMAP", "CS1,W1,weld_table,B1,branch_table,\n");
  table("cls/CS1_PIPE", "");
  const double one = 1.0;
  // The calls of a weld or branch table and of one of its rows; readying n groups.
  const std::string named = "gj0pig gj0art gj0puo pu2cpo gtbaae gj0art gj0art gj0art gj0art gj0art gj0art",
                    row = " gtbaae gtbmae gtbmae gtbmae gtbmae gtbmae";
  auto groups = [](int n) {
    std::string calls;
    while (n-- > 0) calls += "gj0aii gj0pig ";
    return calls;
  };
  const struct {
    const char *name;
    std::function<int()> call;
    std::string sequence;  // between the session's opening and its end
    bool saves_between;
  } cases[] = {
      {"cgwtcr2", [&] { int rc = 0; cgwtcr2(weld.c_str(), &one, &rc); return rc; }, named + row, false},
      {"cgbtcr2", [&] { int rc = 0; cgbtcr2(branch.c_str(), &rc); return rc; }, named + row, false},
      {"cgpdtcr2", [&] { int rc = 0; cgpdtcr2(dims.c_str(), "NEW", &one, &rc); return rc; }, "gtbsui gtbcpo gj0erx gtbwvg " + groups(21) + "gj0art gj0art gj0art gj0art gtbaae gtbmae gtbmae gtbmae", false},
      {"cgcmtcr2", [&] { int rc = 0; cgcmtcr2(dims.c_str(), &rc); return rc; }, "gj0puo gtbsui gj0erx gtbwvg " + groups(1) + "gj0art gj0art gj0art gj0art gj0art gtbaae gtbmae gtbmae gtbmae gtbmae", false},
      {"cgstdcr", [&] { int rc = 0; cgstdcr(dir_.path("std").c_str(), "NEW", &one, &rc); return rc; }, "gtbsui gtbcpo gj0erx gtbwvg " + groups(21) + "gj0art gj0art gtbaae gtbmae", false},
      {"cgfnctcr", [&] { int rc = 0; cgfnctcr(dir_.path("fn").c_str(), &rc); return rc; }, "gj0pig gj0art gj0art gj0puo pu2cpo gtbaae gj0puo gtbmae gj0art gj0art gj0art gj0art gtbaae gtbmae gtbmae gtbmae", false},
      {"cgpscr", [&] {
         int rc = 0, stack = 0;
         cgpscr(dir_.path("cls").c_str(), "ASME", &stack, &rc);
         if (stack) take(stack);
         return rc;
       }, "gj0swm gtbsui pu2cpo gj0pig gj0art gtbaae gtbaae gtbaae gtbaae gj0puo gtbmae gj0swm", true},
  };
  const std::string open = "gimcrw pr0ini pr0vws psussm g7mswm ", end = " gj0swm pr0end";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    fail_each_call(c.call, open + c.sequence + end, c.saves_between);
  }
}

}  // namespace
