// Each model service's answers on the example project.
#include <cstring>

#include "tests/host/model_fixture.h"

namespace {

int as_int(const std::string &entry) {
  int value = 0;
  std::memcpy(&value, entry.data(), sizeof value);
  return value;
}

// An 8-character name at the start of an 80-character buffer.
std::string wide(const char *text) { return field(text, 80); }

TEST_F(ModelTest, SessionsOpenSelectSaveAndEnd) {
  int ws2 = 2, rc = -1, site = 0, count = 0, model_id = 0, mode = 1, handle = 0;
  double zero = 0;
  float fzero = 0;
  const std::string name(256, ' ');
  expect_codes({
      {PCS_HOST_NO_WORKSPACE, [&](int *c) { gimcrw(&ws2, &zero, &zero, &fzero, &fzero, c); }},
      {PCS_HOST_NO_WORKSPACE, [&](int *c) { psussm(&ws_, "PROCESS ", &site, &count, &model_id, c); }},
      {0, [&](int *c) { gimcrw(&ws_, &zero, &zero, &fzero, &fzero, c); }},
      {PCS_HOST_SESSION_OPEN, [&](int *c) { gimcrw(&ws_, &zero, &zero, &fzero, &fzero, c); }},
  });
  pr0ini();
  pr0vws();
  EXPECT_TRUE(model::session().initialized && model::session().views);
  psussm(&ws_, "PROCESS ", &site, &count, &model_id, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ((std::vector<int>{site, count, model_id}), (std::vector<int>{1, 1, 1}));
  int other = 2, bad_mode = 2;
  expect_codes({
      {PCS_HOST_NO_TYPE, [&](int *c) { psussm(&ws_, "NOTYPE  ", &site, &count, &model_id, c); }},
      {PCS_HOST_READ_ONLY, [&](int *c) { pu2cpo(&ws_, "PROCESS ", name.c_str(), &handle, c); }},
      {PCS_HOST_NO_MODEL, [&](int *c) { g7mswm(&ws_, &other, &mode, c); }},
      {PCS_HOST_BAD_ARGUMENT, [&](int *c) { g7mswm(&ws_, &one_, &bad_mode, c); }},
      {0, [&](int *c) { g7mswm(&ws_, &one_, &mode, c); }},
  });
  EXPECT_TRUE(model::session().writing);
  pu2cpo(&ws_, "PROCESS ", field("SECOND", 256).c_str(), &handle, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(handle, 6);
  gj0swm(&ws_, &rc);
  EXPECT_RC(0, rc);
  pr0end();
  EXPECT_EQ(stored(project_), model::to_json());
  EXPECT_FALSE(model::session().open || model::session().writing);
  gj0swm(&ws_, &rc);
  EXPECT_RC(PCS_HOST_NO_WORKSPACE, rc);
  EXPECT_EQ(model::session().opened, 1);
  EXPECT_EQ(model::session().saves, 1);
}

TEST_F(ModelTest, SchemaDescribesGroupsAttributesAndTypes) {
  char type[8];
  int length = 0, rc = -1, stack = 0;
  gj0art("PRJWRULS", "WALL1   ", type, &length, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(std::string(type, 8), "R8      ");
  EXPECT_EQ(length, 8);
  gj0art("PRJTNAME", "NAME    ", type, &length, &rc);
  EXPECT_EQ(std::string(type, 8), "C256    ");
  EXPECT_EQ(length, 256);
  gj0art("GEN001  ", "RATG    ", type, &length, &rc);
  EXPECT_EQ(std::string(type, 8), "I4      ");
  gj0art("PRJWRULS", "NOATTR  ", type, &length, &rc);
  EXPECT_RC(PCS_HOST_NO_ATTRIBUTE, rc);
  EXPECT_EQ(length, 0);

  gj0asa("SPCSZRNG", &stack, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(take(stack), (std::vector<std::string>{"SIZE1   ", "SIZE2   "}));

  std::string name(256, 'x');
  gj0puo("PIPE    ", name.data(), &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(name, field("PIPECAT", 256));

  gj0pig("PSPEC   ", "PRTNAME ", "SETUP   ", &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(model::data().types.at("PSPEC   ").groups.back().group, "PRTNAME ");
  EXPECT_EQ(model::data().object(4)->groups.count("PRTNAME "), 1u);
  gj0pig("PSPEC   ", "PRTNAME ", "SETUP   ", &rc);
  EXPECT_EQ(model::data().types.at("PSPEC   ").groups.size(), 5u);
  expect_codes({
      {PCS_HOST_NO_GROUP, [&](int *c) { gj0art("NOGROUP ", "WALL1   ", type, &length, c); }},
      {PCS_HOST_NO_GROUP, [&](int *c) { gj0asa("NOGROUP ", &stack, c); }},
      {PCS_HOST_NO_TYPE, [&](int *c) { gj0puo("NOTYPE  ", name.data(), c); }},
      {PCS_HOST_NO_TYPE, [&](int *c) { gj0pig("NOTYPE  ", "PRTNAME ", "SETUP   ", c); }},
      {PCS_HOST_NO_GROUP, [&](int *c) { gj0pig("PSPEC   ", "NOGROUP ", "SETUP   ", c); }},
  });
  EXPECT_EQ(stack, 0);
}

TEST_F(ModelTest, ObjectsAreCreatedFoundAndGetTheirGroups) {
  open_session();
  int handle = 0, found = -1, rc = -1, name_length = 2, groups = 0, element = 0, level = 4;
  pu2cpo(&ws_, "WLDTABLE", field("W2", 256).c_str(), &handle, &rc);
  ASSERT_RC(0, rc);
  const model::Object *object = model::data().object(handle);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->name, "W2");
  EXPECT_EQ(object->groups.size(), 2u);
  pu2cpo(&ws_, "NOTYPE  ", field("W2", 256).c_str(), &handle, &rc);
  EXPECT_RC(PCS_HOST_NO_TYPE, rc);
  EXPECT_EQ(handle, 0);

  const struct {
    const char *type, *name;
    int length, found;
  } searches[] = {{"WLDTABLE", "W2xxxx", 2, 6}, {"WLDTABLE", "W2  ", 4, 6},
                  {"WLDTABLE", "W3  ", 4, 0}, {"BRTABLE ", "W2  ", 4, 0}};
  for (const auto &c : searches) {
    name_length = c.length;
    gtbsui(&ws_, c.type, &name_length, c.name, &found, &rc);
    EXPECT_RC(0, rc);
    EXPECT_EQ(found, c.found) << c.name;
  }

  EXPECT_EQ(1, gtbcpo(&ws_, "STANDARD", field("DIN", 72).c_str(), &handle, &rc, 8, 72));
  EXPECT_RC(0, rc);
  EXPECT_EQ(handle, 7);
  EXPECT_EQ(0, gtbcpo(&ws_, "NOTYPE  ", field("DIN", 72).c_str(), &handle, &rc, 8, 72));
  EXPECT_RC(PCS_HOST_NO_TYPE, rc);

  gj0erx(&ws_, &found, &groups, &element, &rc);
  EXPECT_RC(PCS_HOST_NO_OBJECT, rc);
  EXPECT_EQ(groups, 0);
  found = 7;
  gj0erx(&ws_, &found, &groups, &element, &rc);
  EXPECT_EQ(groups, 21);
  EXPECT_EQ(element, 7);

  int group_stack = 0, type_stack = 0;
  gtbwvg(&ws_, "WLDTABLE", &element, &level, &group_stack, &type_stack, &rc);
  EXPECT_RC(PCS_HOST_NO_OBJECT, rc);
  EXPECT_EQ(group_stack, 0);
  element = 6;
  gtbwvg(&ws_, "WLDTABLE", &element, &level, &group_stack, &type_stack, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(take(group_stack), (std::vector<std::string>{"PRJBNAME", "PRJWRULS"}));
  EXPECT_EQ(take(type_stack), (std::vector<std::string>{"SETUP   ", "SETUP   "}));

  handle = 6;
  expect_codes({
      {PCS_HOST_ATTACHED, [&](int *c) { gj0aii(&ws_, &handle, "WLDTABLE", "PRJBNAME", c); }},
      {0, [&](int *c) { gj0aii(&ws_, &handle, "WLDTABLE", "PRJCMPT ", c); }},
      {PCS_HOST_NO_OBJECT, [&](int *c) { gj0aii(&ws_, &handle, "BRTABLE ", "PRJBRULS", c); }},
      {PCS_HOST_NO_GROUP, [&](int *c) { gj0aii(&ws_, &handle, "WLDTABLE", "NOGROUP ", c); }},
  });
  EXPECT_EQ(model::data().object(6)->groups.size(), 3u);
  pr0end();
}

TEST_F(ModelTest, RowsAreAddedInsertedAndSet) {
  open_session();
  int handle = 3, zero = 0, one = 1, two = 2, three = 3, five = 5, rc = -1;
  const double wall = 2.5;
  // Multi-row group: position 0 appends, position p inserts after row p.
  gtbaae(&ws_, &handle, &zero, "PRJWRULS", "ENDS1   ", &one, "SW      ", &rc);
  ASSERT_RC(0, rc);
  gtbaae(&ws_, &handle, &one, "PRJWRULS", "ENDS1   ", &one, "FL      ", &rc);
  gtbaae(&ws_, &handle, &five, "PRJWRULS", "ENDS1   ", &two, "T1      T2      ", &rc);
  ASSERT_RC(0, rc);
  const model::Model &m = model::data();
  EXPECT_EQ(m.column(3, "PRJWRULS", "ENDS1"), (std::vector<std::string>{"BW", "FL", "SW", "T1", "T2"}));
  EXPECT_EQ(m.text(3, "PRJWRULS", 2, "WALL1"), "0");
  gtbmae(&one, &handle, &two, "PRJWRULS", "WALL1   ", &one, &wall, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(m.text(3, "PRJWRULS", 2, "WALL1"), "2.5");
  gtbmae(&one, &handle, &zero, "PRJWRULS", "ENDS2   ", &one, "LAST    ", &rc);
  EXPECT_EQ(m.text(3, "PRJWRULS", 5, "ENDS2"), "LAST");
  int missing = 99;
  expect_codes({
      {PCS_HOST_NO_ROW, [&](int *c) { gtbmae(&one, &handle, &five, "PRJWRULS", "ENDS2   ", &two, "A       B       ", c); }},
      {PCS_HOST_NO_ATTRIBUTE, [&](int *c) { gtbmae(&one, &handle, &three, "PRJWRULS", "NOATTR  ", &one, "X       ", c); }},
      {PCS_HOST_NOT_ATTACHED, [&](int *c) { gtbaae(&ws_, &handle, &zero, "PRJCMPT ", "NAME    ", &one, "X       ", c); }},
      {PCS_HOST_BAD_ARGUMENT, [&](int *c) { gtbaae(&ws_, &handle, &zero, "PRJWRULS", "ENDS1   ", &zero, "X       ", c); }},
      {PCS_HOST_NO_OBJECT, [&](int *c) { gtbaae(&ws_, &missing, &zero, "PRJWRULS", "ENDS1   ", &one, "X       ", c); }},
  });

  // One-row group: every add or set lands in row 1.
  gtbaae(&ws_, &handle, &zero, "PRJBNAME", "NAME    ", &one, field("W9", 40).c_str(), &rc);
  gtbmae(&one, &handle, &three, "PRJBNAME", "NAME    ", &one, field("W8", 40).c_str(), &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(m.column(3, "PRJBNAME", "NAME"), std::vector<std::string>{"W8"});

  // The encoded-table pattern on an empty group: add with position 0, then
  // set rows 0, 2, 3.
  int standard = 2, row = 0;
  gj0aii(&ws_, &standard, "STANDARD", "PRJENDS ", &rc);
  ASSERT_RC(0, rc);
  const std::pair<const char *, const char *> lines[] = {{"C", "4 INCH"}, {"D", "6 INCH"}, {"E", "8 INCH"}};
  for (const auto &[code, value] : lines) {
    gtbaae(&one, &standard, &zero, "PRJENDS ", "ENC_ENDS", &one, field(code).c_str(), &rc);
    gtbmae(&one, &standard, &row, "PRJENDS ", "ENDS    ", &one, field(value, 40).c_str(), &rc);
    ASSERT_RC(0, rc);
    row = row == 0 ? 2 : row + 1;
  }
  EXPECT_EQ(m.column(2, "PRJENDS", "ENC_ENDS"), (std::vector<std::string>{"C", "D", "E"}));
  EXPECT_EQ(m.column(2, "PRJENDS", "ENDS"), (std::vector<std::string>{"4 INCH", "6 INCH", "8 INCH"}));
  pr0end();
}

TEST_F(ModelTest, SpecificationEntriesGiveSetsColumnsAndClass) {
  int owner = 4, entry = 5, rc = -1, stack = -1;
  gtbsas(&one_, &owner, "QRY_DATA", &stack, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(take(stack), (std::vector<std::string>{"PRJSTAND", "PRJMATL ", "SPCFUNC ", "RHMINSIZ",
                                                   "RHMAXSIZ", "PRTNAME "}));
  gtbsas(&one_, &owner, "PRJMATL ", &stack, &rc);
  EXPECT_EQ(take(stack), std::vector<std::string>{"GPRJMATL"});
  gtbsas(&one_, &owner, "PRJSTAND", &stack, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(stack, 0);
  int nobody = 42;
  gtbsas(&one_, &nobody, "QRY_DATA", &stack, &rc);
  EXPECT_RC(PCS_HOST_NO_OBJECT, rc);

  gtbrae(&one_, &entry, wide("SPCSZRNG").c_str(), wide("SIZE2").c_str(), &stack, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(take(stack), (std::vector<std::string>{"4       ", "        "}));
  gtbrae(&one_, &entry, wide("GEN001").c_str(), wide("SCH").c_str(), &stack, &rc);
  std::vector<std::string> flags = take(stack);
  ASSERT_EQ(flags.size(), 2u);
  EXPECT_EQ(as_int(flags[0]), 1);
  EXPECT_EQ(as_int(flags[1]), 0);
  const std::pair<const char *, const char *> absent[] = {
      {"SPEC002", "RATG"}, {"SPEC001", "NOATTR"}, {"NOTABLE", "RATG"}};
  for (auto [table, attribute] : absent) {
    gtbrae(&one_, &entry, wide(table).c_str(), wide(attribute).c_str(), &stack, &rc);
    EXPECT_RC(0, rc);
    EXPECT_EQ(stack, 0);
  }
  int missing = 77;
  gtbrae(&one_, &missing, wide("SPCSZRNG").c_str(), wide("SIZE2").c_str(), &stack, &rc);
  EXPECT_RC(PCS_HOST_NO_ENTRY, rc);

  char value[80];
  std::memset(value, ' ', sizeof value);
  int length = -1;
  gtbrui(&one_, &entry, &length, value, &stack, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::string(value, 8), "PIPE    ");
  EXPECT_EQ(take(stack), std::vector<std::string>{"PIPE"});
  gtbrui(&one_, &owner, &length, value, &stack, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(stack, 0);
  gtbrui(&one_, &missing, &length, value, &stack, &rc);
  EXPECT_RC(PCS_HOST_NO_ENTRY, rc);
}

TEST_F(ModelTest, SetupGivesDirectoryAndCatalogNames) {
  int s1 = -1, s2 = -1, s3 = -1, rc = -1;
  gj0frd("PRO     ", "SETUP   ", "CATALOG ", "        ", &s1, &s2, &s3, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(take(s1), std::vector<std::string>{field("/srv/pcs/catalogs", 80)});
  std::vector<std::string> ids = take(s2);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(as_int(ids[0]), 1);
  EXPECT_EQ(as_int(ids[1]), 2);
  std::vector<std::string> current = take(s3);
  ASSERT_EQ(current.size(), 1u);
  EXPECT_EQ(as_int(current[0]), 1);
  gj0frd("PRO     ", "SETUP   ", "OTHER   ", "        ", &s1, &s2, &s3, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(s1 | s2 | s3, 0);

  int kind = 2, item = 30, id = 0;
  pladata(&kind, &item, &id, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(id, 1);
  item = 31;
  pladata(&kind, &item, &id, &rc);
  EXPECT_RC(PCS_HOST_BAD_ARGUMENT, rc);
  EXPECT_EQ(id, 0);
  id = 1;

  char names[32 * 8];
  int first = 0, count = -1;
  pu3catn(&first, &id, names, &count, &rc);
  ASSERT_RC(0, rc);
  ASSERT_EQ(count, 9);
  EXPECT_EQ(std::string(names, 16), "PARTCAT PARTIDX1");
  EXPECT_EQ(std::string(names + 64, 8), "GENPARTS");
  first = 7;
  pu3catn(&first, &id, names, &count, &rc);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(std::string(names, 16), "SYMBIDX GENPARTS");
  model::data().catalogs[1].names.assign(40, "MANY    ");
  id = 2;
  first = 0;
  pu3catn(&first, &id, names, &count, &rc);
  EXPECT_EQ(count, 32);

  char seven[7][8];
  pu3cnam(&id, seven[0], seven[1], seven[2], seven[3], seven[4], seven[5], seven[6], &rc);
  EXPECT_EQ(std::string(seven[6], 8), "MANY    ");
  model::data().catalogs[1].names = {"OLDCAT  "};
  pu3cnam(&id, seven[0], seven[1], seven[2], seven[3], seven[4], seven[5], seven[6], &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(std::string(seven[0], 8), "OLDCAT  ");
  EXPECT_EQ(std::string(seven[6], 8), "        ");
  id = 9;
  expect_codes({
      {PCS_HOST_NO_CATALOG, [&](int *c) { pu3cnam(&id, seven[0], seven[1], seven[2], seven[3], seven[4], seven[5], seven[6], c); }},
      {PCS_HOST_NO_CATALOG, [&](int *c) { pu3catn(&first, &id, names, &count, c); }},
  });

  model::data().setup = model::Setup{};
  gj0frd("PRO     ", "SETUP   ", "CATALOG ", "        ", &s1, &s2, &s3, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(s1 | s2 | s3, 0);
  item = 30;
  pladata(&kind, &item, &id, &rc);
  EXPECT_RC(PCS_HOST_NO_CATALOG, rc);
}

TEST_F(ModelTest, StandardsRankAndRangeTheirSizes) {
  int stack = 0, rc = -1;
  pclrng("ASME    ", "PRJSIZE ", "2       ", "4       ", &stack, &rc);
  ASSERT_RC(0, rc);
  const std::vector<std::string> two_to_four{"2       ", "3       ", "4       "};
  EXPECT_EQ(take(stack), two_to_four);
  pclrng("ASME    ", "PRJSIZE ", "4       ", "2       ", &stack, &rc);
  EXPECT_EQ(take(stack), two_to_four);
  pclrng("ASME    ", "PRJSIZE ", "6       ", "        ", &stack, &rc);
  EXPECT_EQ(take(stack), std::vector<std::string>{"6       "});
  expect_codes({
      {PCS_HOST_NO_SIZE, [&](int *c) { pclrng("ASME    ", "PRJSIZE ", "2       ", "5       ", &stack, c); }},
      {PCS_HOST_NO_SIZE, [&](int *c) { pclrng("ASME    ", "PRJSIZE ", "        ", "        ", &stack, c); }},
      {PCS_HOST_NO_STANDARD, [&](int *c) { pclrng("DIN     ", "PRJSIZE ", "2       ", "4       ", &stack, c); }},
      {PCS_HOST_NO_STANDARD, [&](int *c) { pclenv("ASME    ", "PRJSCH  ", &stack, c); }},
  });
  EXPECT_EQ(stack, 0);

  int environment = 0, rank = -1;
  pclenv("ASME    ", "PRJSIZE ", &environment, &rc);
  ASSERT_RC(0, rc);
  pu4fcsk(&environment, "3       ", &rank, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(rank, 6);
  pu4fcsk(&environment, "7       ", &rank, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(rank, 0);
  EXPECT_EQ(take(environment).size(), 9u);
  pu4fcsk(&environment, "3       ", &rank, &rc);
  EXPECT_RC(PCS_GUS_BAD_HANDLE, rc);

  char text[] = "  A  BB   C ";
  int length = 12;
  sulbrm(text, &length, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(std::string(text), "A BB C      ");
  EXPECT_EQ(length, 12);
  length = -1;
  sulbrm(text, &length, &rc);
  EXPECT_RC(PCS_HOST_BAD_ARGUMENT, rc);
}

TEST_F(ModelTest, MergeFindsFamiliesDeletesPartObjectsAndReports) {
  int family = 0, rc = -1;
  glrfam(field("ELBOW", 24).c_str(), &family, &rc);
  EXPECT_RC(0, rc);
  EXPECT_EQ(family, 10);
  glrfam(field("PIPE", 24).c_str(), &family, &rc);
  EXPECT_RC(PCS_HOST_NO_FAMILY, rc);
  EXPECT_EQ(family, 0);

  family = 10;
  gldobj(&family, field("ELBOW", 24).c_str(), "20240105093000A1", &rc);
  EXPECT_RC(0, rc);
  ASSERT_EQ(model::data().part_objects.size(), 2u);
  EXPECT_EQ(model::data().part_objects[0].eltime, "20240105093000A2");
  int other = 99;
  expect_codes({
      {PCS_HOST_NO_FAMILY, [&](int *c) { glrfam(field("", 24).c_str(), &other, c); }},
      {PCS_HOST_NO_PART_OBJECT, [&](int *c) { gldobj(&family, field("ELBOW", 24).c_str(), "20240105093000A1", c); }},
      {PCS_HOST_NO_FAMILY, [&](int *c) { gldobj(&other, field("ELBOW", 24).c_str(), "20240105093000A2", c); }},
  });

  FILE *copy = std::tmpfile();
  ASSERT_NE(copy, nullptr);
  model::set_unit_file(6, copy);
  const std::string line = field("   Duplicate part number was found in the catalog.", 81);
  int unit = 6, length = 81;
  gufswr(&unit, line.c_str(), &length, &rc);
  EXPECT_RC(0, rc);
  length = 3;
  gufswr(&unit, "abc", &length, &rc);
  EXPECT_EQ(model::unit_lines(6), (std::vector<std::string>{line, "abc"}));
  EXPECT_TRUE(model::unit_lines(7).empty());
  std::rewind(copy);
  char back[128] = {};
  EXPECT_EQ(std::fread(back, 1, sizeof back, copy), 86u);
  EXPECT_EQ(std::string(back), line + "\nabc\n");
  std::fclose(copy);
  unit = -1;
  gufswr(&unit, "abc", &length, &rc);
  EXPECT_RC(PCS_HOST_BAD_ARGUMENT, rc);
}

}  // namespace
