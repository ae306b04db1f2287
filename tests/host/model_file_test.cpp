// The project's JSON exchange form: exact layout, rejected documents,
// failed saves and where the services find the project.
#include <climits>
#include <cstdlib>

#include "tests/host/model_fixture.h"

namespace {

// Numbers given as text are read as strtoll and strtod read the whole
// text, whether plain decimals or forms only those functions take.
TEST_F(ModelTest, NumbersFromTextAreReadAsTheCLibraryReadsThem) {
  model::clear();
  model::Model &m = model::data();
  m.define_group("G", {{"N", 'I', 4}, {"R", 'R', 8}}, false);
  m.define_type("T", {"G"}, "Tee");
  const int handle = m.add_object("T", "x").handle;
  const std::vector<model::Row> &rows = m.objects.at(handle).groups[model::name("G")];
  for (const char *text : {"42", "-7", "007", "1.5", "-0.25", "1e3", "0.1", "2.5E-3", "1.",
                           "123456789.123456789e-5", "4e-320", "+2", " 3", "0x10", "1e999",
                           "2147483648", "-2147483649", "1.5x", "", "1e", "-", ".", "nan", "1-2"}) {
    SCOPED_TRACE(text);
    char *end = nullptr;
    const long long integer = std::strtoll(text, &end, 10);
    const bool is_integer = *text && !*end && integer >= INT32_MIN && integer <= INT32_MAX;
    const double real = std::strtod(text, &end);
    const bool is_real = *text && !*end;
    ASSERT_EQ(m.add_row(handle, "G", {{"N", text}}) != 0, is_integer);
    if (is_integer) EXPECT_EQ(rows.back()[0], std::string(reinterpret_cast<const char *>(&integer), 4));
    ASSERT_EQ(m.add_row(handle, "G", {{"R", text}}) != 0, is_real);
    if (is_real) EXPECT_EQ(rows.back()[1], std::string(reinterpret_cast<const char *>(&real), 8));
  }
}

TEST_F(ModelTest, SmallModelIsWrittenInTheDocumentedLayout) {
  model::clear();
  model::Model &m = model::data();
  m.setup.catalog_directory = "/cat";
  m.catalogs.push_back({3, {model::name("A")}});
  m.define_group("G", {{"N", 'I', 4}, {"T", 'C', 2}}, true);
  m.define_type("T", {"G"}, "Tee");
  int handle = m.add_object("T", "x").handle;
  ASSERT_EQ(1, m.add_row(handle, "G", {{"N", "-5"}, {"T", "\xE9"}}));
  m.standards[model::name("S")][model::name("P")] = {2, {"1", "2"}};
  m.families.push_back({7, {"ELBOW"}});
  m.part_objects.push_back({7, "ELBOW", "T1"});
  const std::string expected =
      "{\n"
      "  \"format\": \"pcs-project\",\n"
      "  \"version\": 1,\n"
      "  \"setup\": {\"catalog_directory\": \"/cat\", \"current_catalog\": 0, \"model\": 1, \"ibafr7\": 0},\n"
      "  \"catalogs\": [{\"id\": 3, \"names\": [\"A\"]}],\n"
      "  \"groups\": {\n"
      "    \"G\": {\n"
      "      \"rows\": \"one\",\n"
      "      \"attributes\": [{\"name\": \"N\", \"type\": \"I\", \"length\": 4}, "
      "{\"name\": \"T\", \"type\": \"C\", \"length\": 2}]\n"
      "    }\n"
      "  },\n"
      "  \"types\": {\"T\": {\"host_name\": \"Tee\", \"groups\": [{\"group\": \"G\", \"group_type\": \"SETUP\"}]}},\n"
      "  \"objects\": [{\"handle\": 1, \"type\": \"T\", \"name\": \"x\", \"groups\": {\"G\": [{\"N\": -5, \"T\": \"\xC3\xA9\"}]}}],\n"
      "  \"standards\": {\"S\": {\"P\": {\"length\": 2, \"sizes\": [\"1\", \"2\"]}}},\n"
      "  \"families\": [{\"family\": 7, \"categories\": [\"ELBOW\"]}],\n"
      "  \"part_objects\": [{\"family\": 7, \"category\": \"ELBOW\", \"eltime\": \"T1\"}]\n"
      "}\n";
  EXPECT_EQ(model::to_json(), expected);
}

TEST_F(ModelTest, RejectedProjectsLeaveTheModelAsItWas) {
  struct Case {
    const char *text;
    const char *reason;
  };
  const Case cases[] = {
      {"{", "parse"},
      {"[]", "expected an object"},
      {R"({"format": "other"})", "format"},
      {R"({"version": 2})", "version"},
      {R"({"colour": 1})", "unknown key"},
      {R"({"groups": {"TOOLONGNAME": {}}})", "longer than 8"},
      {R"({"groups": {"G": {"attributes": [{"name": "A", "type": "I", "length": 8}]}}})", "must be 4"},
      {R"({"groups": {"G": {"attributes": [{"name": "A", "type": "C"}]}}})", "needs a length"},
      {R"({"groups": {"G": {"rows": "two"}}})", "\"one\" or \"many\""},
      {R"({"types": {"T": {"groups": ["NOPE"]}}})", "unknown group"},
      {R"({"objects": [{"type": "NOPE"}]})", "unknown type"},
      {R"({"groups": {"G": {"attributes": [{"name": "A", "type": "C", "length": 2}]}},
           "types": {"T": {"groups": ["G"]}},
           "objects": [{"type": "T", "groups": {"G": [{"A": "abc"}]}}]})", "longer than 2"},
      {R"({"groups": {"G": {"attributes": [{"name": "A", "type": "R"}]}},
           "types": {"T": {"groups": ["G"]}},
           "objects": [{"type": "T", "groups": {"G": [{"A": "x"}]}}]})", "expected a number"},
      {R"({"types": {"T": {}}, "objects": [{"handle": 2, "type": "T"}, {"handle": 2, "type": "T"}]})",
       "a second object"},
      {R"({"catalogs": [{"id": 1}, {"id": 1}]})", "a second catalog"},
      {R"({"setup": {"catalog_directory": "\u0100"}})", "beyond U+00FF"},
      {R"({"standards": {"S": {"P": {"length": 41}}}})", "out of range"},
  };
  const std::string before = model::to_json();
  const std::string bad = dir_.path("bad.json");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    write_file(bad, c.text);
    EXPECT_RC(PCS_HOST_BAD_PROJECT, model::import_json(bad, dir_.path("new.db")));
    EXPECT_NE(model::load_error().find(c.reason), std::string::npos) << model::load_error();
    EXPECT_EQ(model::to_json(), before);
  }
  EXPECT_FALSE(file_exists(dir_.path("new.db")));
  EXPECT_RC(PCS_HOST_NO_PROJECT, model::import_json(dir_.path("missing.json"), dir_.path("new.db")));
  EXPECT_RC(PCS_HOST_NO_PROJECT, model::load(dir_.path("missing.db")));
  EXPECT_RC(PCS_HOST_NO_PROJECT, model::load(dir_.root()));
  EXPECT_RC(PCS_HOST_SAVE_FAILED, model::import_json(example_project(), project_));
  EXPECT_NE(model::load_error().find("holds a model already"), std::string::npos);
  EXPECT_EQ(model::project_path(), project_);
}

TEST_F(ModelTest, FailedSaveLeavesTheDatabaseAsItWas) {
  struct Case {
    model::SaveFault fault;
    int code;
    const char *reason;
  };
  const Case cases[] = {
      {model::SaveFault::commit, PCS_HOST_SAVE_FAILED, "the commit failed"},
      {model::SaveFault::full, PCS_HOST_SAVE_FAILED, "full"},
      {model::SaveFault::busy, PCS_HOST_BUSY, "project is busy"},
  };
  const std::string old_json = model::to_json();
  model::data().add_object("PROCESS", "SECOND");
  model::data().add_row(3, "PRJWRULS", {{"ENDS1", "XX"}});
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reason);
    model::fail_save(c.fault);
    EXPECT_RC(c.code, model::save(project_));
    EXPECT_NE(model::load_error().find(c.reason), std::string::npos) << model::load_error();
    EXPECT_EQ(stored(project_), old_json);
  }
  EXPECT_RC(0, model::save(project_));
  EXPECT_EQ(stored(project_), model::to_json());
  EXPECT_RC(PCS_HOST_SAVE_FAILED, model::save(dir_.path("no/such/dir/p.db")));
}

TEST_F(ModelTest, ServicesFindTheProjectFileLazily) {
  model::clear();
  EXPECT_FALSE(model::loaded());
  unsetenv("PCS_PROJECT");
  EXPECT_EQ(model::project_path(), "./project.db");
  setenv("PCS_PROJECT", project_.c_str(), 1);
  EXPECT_EQ(model::project_path(), project_);
  model::set_project_path(dir_.path("missing.db"));
  EXPECT_EQ(model::project_path(), dir_.path("missing.db"));
  char type[8];
  int length = 0, rc = 0;
  gj0art("PRJWRULS", "ENDS1   ", type, &length, &rc);
  EXPECT_RC(PCS_HOST_NO_PROJECT, rc);
  EXPECT_FALSE(model::loaded());
  model::set_project_path("");
  gj0art("PRJWRULS", "ENDS1   ", type, &length, &rc);
  EXPECT_RC(0, rc);
  EXPECT_TRUE(model::loaded());
  unsetenv("PCS_PROJECT");
}

}  // namespace
