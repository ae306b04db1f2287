// The project database: the stored row encoding and every kind of value
// surviving a save and a load, saves that write only what changed, hostile
// database files, a busy second writer, saves of two processes merged or
// refused, and a process killed in a save.
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <functional>

#include "tests/host/model_fixture.h"

namespace {

// A connection of its own to the project, as another process would have.
class Raw {
 public:
  explicit Raw(const std::string &path) { sqlite3_open(path.c_str(), &db_); }
  ~Raw() { sqlite3_close(db_); }
  void exec(const std::string &sql) {
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db_);
  }
  std::string text(const std::string &sql) {
    sqlite3_stmt *statement = nullptr;
    std::string out = "(error)";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      out.assign(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)),
                 static_cast<size_t>(sqlite3_column_bytes(statement, 0)));
    }
    sqlite3_finalize(statement);
    return out;
  }

 private:
  sqlite3 *db_ = nullptr;
};

int steps = 0;
void count_step(int step) { steps = step; }

class StoreTest : public ModelTest {
 protected:
  // 200 rows in the weld table, saved.
  void SetUp() override {
    ModelTest::SetUp();
    for (int i = 0; i < 199; ++i)
      model::data().add_row(3, "PRJWRULS", {{"ENDS1", std::to_string(i)}});
    ASSERT_RC(0, model::save(project_));
  }
  std::vector<model::Row> &weld_rows() {
    return model::data().object(3)->groups[model::name("PRJWRULS")];
  }
};

TEST_F(StoreTest, RowsAreStoredAsReadableArrays) {
  model::Model &m = model::data();
  m.define_group("ODD", {{"C", 'C', 6}, {"I", 'I', 4}, {"R", 'R', 8}, {"S", 'R', 8}});
  m.define_type("ODDTYPE", {"ODD"});
  const int handle = m.add_object("ODDTYPE", std::string("n\0\xff", 3)).handle;
  const double nan = NAN, minus_inf = -INFINITY, big = 1e300;
  const int32_t low = INT32_MIN;
  auto bytes = [](const auto &value) { return std::string(reinterpret_cast<const char *>(&value), sizeof value); };
  std::vector<model::Row> &rows = m.object(handle)->groups[model::name("ODD")];
  rows.push_back({std::string("\"\\\0\xE9  ", 6), pcs::test::be32(0x01000000), bytes(nan), bytes(minus_inf)});
  rows.push_back({std::string("a\0\x01\x7f\x80\xff", 6), bytes(low), bytes(big), bytes(minus_inf)});
  const std::vector<model::Row> saved = rows;
  ASSERT_RC(0, model::save(project_));
  const std::string json = model::to_json();
  model::clear();
  ASSERT_RC(0, model::load(project_)) << model::load_error();
  EXPECT_EQ(model::data().object(handle)->name, std::string("n\0\xff", 3));
  EXPECT_EQ(model::data().object(handle)->groups.at(model::name("ODD")), saved);
  EXPECT_EQ(model::to_json(), json);
  Raw raw(project_);
  EXPECT_EQ(
      raw.text("SELECT vals FROM object_row WHERE object = 3 AND grp = 'PRJWRULS' AND row = 1"),
      "[\"BW\",\"BW\",3.91,3.91,\"SHOP\",\"BUTT\"]");
  EXPECT_EQ(raw.text("SELECT vals FROM object_row WHERE grp = 'ODD' AND row = 1"),
            "[\"\\\"\\\\\\u0000\xC3\xA9\",1,\"nan\",\"-inf\"]");
  EXPECT_EQ(raw.text("SELECT value FROM cell WHERE object = 3 AND grp = 'PRJWRULS' AND row = 2 "
                     "AND attribute = 'ENDS1'"),
            "0");
  // Values written by hand, with blanks and JSON's short escapes.
  raw.exec(
      "UPDATE object_row SET vals = ' [ \"\\t\\u00E9\" , -2 , 1e3 , \"inf\" ] ' WHERE grp = 'ODD'");
  ASSERT_RC(0, model::load(project_)) << model::load_error();
  EXPECT_EQ(model::data().text(handle, "ODD", 1, "C"), "\t\xE9");
  EXPECT_EQ(model::data().text(handle, "ODD", 1, "I"), "-2");
  EXPECT_EQ(model::data().text(handle, "ODD", 1, "R"), "1000");
  EXPECT_EQ(model::data().text(handle, "ODD", 1, "S"), "inf");
}

TEST_F(StoreTest, SavesWriteWhatChanged) {
  struct Case {
    const char *change;
    std::function<void()> apply;
    int most_writes;  // the generation counter is one of them
  };
  model::Model &m = model::data();
  const Case cases[] = {
      {"nothing", [] {}, 1},
      {"one value", [&] { weld_rows()[100][0] = "XX      "; }, 3},
      {"a row inserted", [&] { weld_rows().insert(weld_rows().begin() + 10, weld_rows()[3]); }, 5},
      {"the first row gone", [&] { weld_rows().erase(weld_rows().begin()); }, 5},
      {"a row appended", [&] { m.add_row(3, "PRJWRULS", {{"ENDS2", "SW"}}); }, 3},
      {"an object renamed", [&] { m.object(1)->name = "RENAMED"; }, 2},
      {"an object added", [&] { m.add_object("PROCESS", "NEW"); }, 3},
      {"an object gone", [&] { m.objects.erase(2); }, 5},
      {"a group detached", [&] { m.object(4)->groups.erase(model::name("PRJWNAMS")); }, 3},
      {"a set changed",
       [&] { m.object(4)->sets[model::name("PRJMATL")].push_back(model::name("X")); }, 10},
      {"the setup", [&] { m.setup.ibafr7 = 3; }, 2},
      {"a standard",
       [&] { m.standards[model::name("ASME")][model::name("PRJSIZE")].sizes.push_back("10"); }, 14},
      {"a part object gone", [&] { m.part_objects.pop_back(); }, 4},
      {"a group redefined", [&] { m.define_group("PRJBNAME", {{"NAME", 'C', 20}}); }, 7},
  };
  model::test_save_hook(count_step);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.change);
    c.apply();
    steps = 0;
    ASSERT_RC(0, model::save(project_)) << model::load_error();
    EXPECT_LE(steps, c.most_writes);
    EXPECT_EQ(stored(project_), model::to_json());
  }
}

TEST_F(StoreTest, HostileDatabasesAreBadProjects) {
  struct Case {
    const char *damage;
    std::string sql;  // run on a copy of the project, or "" for the bytes below
    std::string bytes;
    const char *reason;
  };
  const Case cases[] = {
      {"text", "", "not a database, only text of some length to look at", "not a project database"},
      {"empty file", "", "", "holds no tables"},
      {"a JSON model", "", " {\"format\": \"pcs-project\"}",
       "is read into a project with `pcs model import`"},
      {"other version", "UPDATE meta SET value = 2 WHERE key = 'schema_version'", "",
       "schema version 2 is not known"},
      {"other format", "UPDATE meta SET value = 'x' WHERE key = 'format'", "", "not a pcs project"},
      {"table gone", "DROP TABLE object_row", "", "no such table"},
      {"row not an array", "UPDATE object_row SET vals = 'junk'", "", "expected '['"},
      {"row too short", "UPDATE object_row SET vals = '[\"a\"]' WHERE grp = 'PRJWRULS'", "",
       "object_row (object 3, group PRJWRULS): expected ','"},
      {"row too long", "UPDATE object_row SET vals = '[\"a\",1]' WHERE grp = 'PRJBNAME'", "",
       "expected ']'"},
      {"text for a number",
       "UPDATE object_row SET vals = '[\"a\",\"b\",\"x\",1,\"\",\"\"]' WHERE grp = 'PRJWRULS'", "",
       "does not fit attribute WALL1"},
      {"bad escape", "UPDATE object_row SET vals = '[\"\\uZZ12\"]' WHERE grp = 'PRJBNAME'", "",
       "not hexadecimal"},
      {"row gap", "UPDATE object_row SET row = row + 1 WHERE object = 3 AND grp = 'PRJBNAME'", "",
       "object_row (object 3, group PRJBNAME): rows out of sequence"},
      {"group not held", "DELETE FROM object_group WHERE object = 3", "",
       "a group the object does not hold"},
      {"unknown type", "UPDATE object SET type = 'NOPE' WHERE handle = 1", "",
       "of an unknown type NOPE"},
      {"number length", "UPDATE attribute SET length = 5 WHERE type = 'I'", "", "wrong length"},
      {"setup text", "UPDATE setup SET model = 'x'", "", "expected an integer"},
      {"blob name", "UPDATE object SET name = x'ff' WHERE handle = 1", "", "expected text"},
      {"long name", "UPDATE attribute SET name = 'NINECHARS' WHERE grp = 'PRJBNAME'", "",
       "longer than 8"},
  };
  model::clear();
  const std::string good = read_file(project_);  // closed: the database is all in the file
  ASSERT_RC(0, model::load(project_));
  const std::string before = model::to_json();
  const std::string bad = dir_.path("bad.db");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.damage);
    write_file(bad, c.sql.empty() ? c.bytes : good);
    if (!c.sql.empty()) Raw(bad).exec(c.sql);
    EXPECT_RC(PCS_HOST_BAD_PROJECT, model::load(bad));
    EXPECT_NE(model::load_error().find(c.reason), std::string::npos) << model::load_error();
    EXPECT_EQ(model::to_json(), before);
  }
  for (size_t size : {size_t{50}, size_t{100}, size_t{4096}, good.size() / 2, good.size() - 1}) {
    SCOPED_TRACE(size);
    write_file(bad, good.substr(0, size));
    EXPECT_RC(PCS_HOST_BAD_PROJECT, model::load(bad));
    EXPECT_NE(model::load_error().find("bad.db: "), std::string::npos) << model::load_error();
  }
}

TEST_F(StoreTest, SecondWriterIsBusyAndReadersAreNot) {
  model::set_busy_timeout(50);
  ASSERT_RC(0, model::load(project_));
  Raw writer(project_), reader(project_);
  writer.exec("BEGIN IMMEDIATE");
  writer.exec("UPDATE setup SET ibafr7 = 9");
  writer.exec("UPDATE meta SET value = value + 1 WHERE key = 'generation'");
  ASSERT_RC(0, model::load(project_)) << model::load_error();  // a reader goes on
  EXPECT_EQ(model::data().setup.ibafr7, 0);
  model::data().add_object("PROCESS", "MINE");
  EXPECT_RC(PCS_HOST_BUSY, model::save(project_));
  EXPECT_NE(model::load_error().find("project is busy"), std::string::npos) << model::load_error();
  EXPECT_EQ(reader.text("SELECT count(*) FROM object"), "5");
  writer.exec("COMMIT");
  EXPECT_EQ(reader.text("SELECT ibafr7 FROM setup"), "9");
  // The other writer's save is noticed: this save's change goes onto it.
  EXPECT_RC(0, model::save(project_));
  EXPECT_EQ(stored(project_), model::to_json());
  EXPECT_EQ(reader.text("SELECT ibafr7 FROM setup"), "9");
  EXPECT_NE(model::data().find_object("PROCESS", "MINE"), nullptr);
}

// Another process's save, as its own connection makes it: the statements
// and the generation bump in one transaction.
void save_elsewhere(const std::string &project, const std::string &statements) {
  Raw(project).exec("BEGIN IMMEDIATE; " + statements +
                    "; UPDATE meta SET value = value + 1 WHERE key = 'generation'; COMMIT");
}

// What the database holds, read through a connection of its own (a load
// would make it this process's starting point).
std::string held(const std::string &project) {
  return Raw(project).text(
      "SELECT (SELECT group_concat(object || grp || row || vals, '|') FROM object_row) || "
      "(SELECT group_concat(handle || type || name, '|') FROM object) || "
      "(SELECT model || ibafr7 FROM setup) || (SELECT value FROM meta WHERE key = 'generation')");
}

// Two processes saving one project: each save applies its own changes onto
// what the database holds; where both changed one object the later save is
// refused, naming it, and the database keeps the other's.
TEST_F(StoreTest, SavesOfTwoProcessesMergeOrRefuse) {
  ASSERT_RC(0, model::load(project_));
  save_elsewhere(project_,
                 "INSERT INTO object_row VALUES (3, 'PRJWRULS', 201, "
                 "'[\"THEIRS\",\"\",0,0,\"\",\"\"]'); UPDATE setup SET ibafr7 = 4");
  model::data().add_row(5, "SPCSZRNG", {{"SIZE1", "MINE"}});
  model::data().objects.erase(1);
  ASSERT_RC(0, model::save(project_)) << model::load_error();
  EXPECT_EQ(stored(project_), model::to_json());
  EXPECT_EQ(model::data().text(3, "PRJWRULS", 201, "ENDS1"), "THEIRS");
  EXPECT_EQ(model::data().setup.ibafr7, 4);
  EXPECT_EQ(model::data().object(1), nullptr);

  struct Case {
    const char *what;
    std::string theirs;
    std::function<void()> mine;
    const char *named;
  };
  const Case cases[] = {
      {"same object",
       "INSERT INTO object_row SELECT 5, 'SPCSZRNG', max(row) + 1, '[\"T\",\"\"]' FROM "
       "object_row WHERE object = 5 AND grp = 'SPCSZRNG'",
       [] { model::data().add_row(5, "SPCSZRNG", {{"SIZE1", "M"}}); }, "object 5 (SPCENTRY A1 PIPE)"},
      {"deleted there, changed here",
       "DELETE FROM object WHERE handle = 3; DELETE FROM object_group WHERE object = 3; "
       "DELETE FROM object_row WHERE object = 3",
       [] { model::data().add_row(3, "PRJWRULS", {{"ENDS1", "M"}}); }, "object 3 ("},
      {"setup", "UPDATE setup SET model = 7", [] { model::data().setup.model = 8; }, "the setup"},
      {"new objects of one handle",
       "INSERT INTO object VALUES (6, 'PROCESS', 'T', ''); INSERT INTO object_group VALUES (6, "
       "'PRJCMPT')",
       [] { model::data().add_object("PROCESS", "M"); }, "object 6 (PROCESS M)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_RC(0, model::load(project_));
    save_elsewhere(project_, c.theirs);
    const std::string theirs = held(project_);
    c.mine();
    EXPECT_RC(PCS_HOST_SAVE_FAILED, model::save(project_));
    EXPECT_NE(model::load_error().find("project changed by another process: " +
                                       std::string(c.named)),
              std::string::npos)
        << model::load_error();
    EXPECT_EQ(held(project_), theirs);
  }
}

// The generation counter is a number from the file: its largest value
// starts again instead of overflowing.
TEST_F(StoreTest, LargestGenerationDoesNotOverflow) {
  ASSERT_RC(0, model::load(project_));
  Raw(project_).exec("UPDATE meta SET value = 9223372036854775807 WHERE key = 'generation'");
  model::data().setup.ibafr7 = 3;
  ASSERT_RC(0, model::save(project_)) << model::load_error();
  Raw reader(project_);
  EXPECT_EQ(reader.text("SELECT value FROM meta WHERE key = 'generation'"), "1");
  model::data().setup.ibafr7 = 5;
  ASSERT_RC(0, model::save(project_)) << model::load_error();
  EXPECT_EQ(reader.text("SELECT value FROM meta WHERE key = 'generation'"), "2");
  EXPECT_EQ(reader.text("SELECT ibafr7 FROM setup"), "5");
}

void kill_now(int) { raise(SIGKILL); }
int kill_at = 0;
void kill_at_step(int step) {
  if (step == kill_at) kill_now(step);
}

TEST_F(StoreTest, KillDuringSaveLeavesTheOldOrTheNewModel) {
  const std::string old_json = model::to_json();
  auto change = [] {
    model::Model &m = model::data();
    for (int i = 0; i < 300; ++i) m.add_row(5, "SPCSZRNG", {{"SIZE1", std::to_string(i)}});
    m.objects.erase(1);
    m.setup.catalog_directory = "/elsewhere";
  };
  change();
  const std::string new_json = model::to_json();
  for (int step : {1, 2, 150, 303, 0}) {
    SCOPED_TRACE(step);
    model::clear();  // the child opens the project on its own
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (model::load(project_) != 0) kill_now(0);
      change();
      kill_at = step;
      model::test_save_hook(kill_at_step);
      model::save(project_);
      kill_now(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_RC(0, model::load(project_)) << model::load_error();
    EXPECT_EQ(model::to_json(), step == 0 ? new_json : old_json);
  }
}

}  // namespace
