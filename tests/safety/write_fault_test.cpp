// Every write path under write failures: a failure at every byte, at once,
// as a buffered stream reports it and on a full disk, must leave the old
// files or the new ones, with a code that says which; a kill at random
// points must leave the old or the new files too.
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <random>

#include "host/inprocess/model.h"
#include "tests/catalog/catalog_files.h"
#include "tests/host/model_fixture.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
namespace {

using test_catalog::Catalog;
using test_catalog::make_part;
using test_catalog::sample_part;
using test_catalog::Stream;
using Files = std::map<std::string, std::string>;

Files snapshot(const TempDir &dir) {
  Files files;
  for (const std::string &name : list_dir(dir)) files[name] = read_file(dir.path(name));
  return files;
}

struct WritePath {
  const char *name;
  std::function<void(const TempDir &)> setup;
  std::function<int(const TempDir &)> run;  // the operation's code
  bool torn_tail_on_crash = false;          // appends: a kill may leave one
  int kill_every = 0;  // > 0: a kill at every so many bytes, not at 3 random points
};

const std::string kA = catalog_record(sample_part("A", 1.5));
const std::string kB = catalog_record(sample_part("B", 2.5, 3));
const std::string kC = catalog_record(sample_part("C", 3.5, 2));
const KeyDesc kKey{{"PIPE", "SIZE", 4}};
const std::vector<Group> kOld = {{"PIPE", {{"SIZE", 1, 4, "0100"}, {"OD", 1, 8, "12345678"}}}};

int append_part(const TempDir &dir, bool rewrite) {
  Stream s(dir.path("cat"), "r+b");
  PartRecord *part = make_part(sample_part(rewrite ? "Z" : "D", 9.5));
  int rc = -1, at = static_cast<int>(kA.size());
  QuietErrors quiet;
  rewrite ? csgrewrt(&at, &part, s.f, &rc) : cspgwrt(part, s.f, &rc);
  cspgfre(part);
  return rc;
}

int keyed_put(const TempDir &dir, const char *size, bool plain) {
  KeyedFile *file = nullptr;
  if (open_keyed(dir.path("parts.kg"), kKey, &file) != 0) return -1;
  KeyedGroup *list = make_list({{"PIPE", {{"SIZE", 1, 4, size}, {"OD", 1, 8, "87654321"}}}});
  int rc = -1;
  plain ? cspputs(&file, &list, &rc) : cspput(&file, &list, &rc);
  cspfre(&list);
  close_keyed(&file);
  return rc;
}

// csgputip over the two records of key A, each part with a new OD.
int put_key(const TempDir &dir) {
  Catalog c(dir.path("cat"), dir.path("idx"));
  int stack = 0, rc = -1, count = 0, size = 0;
  csggetm(&c.h, field("A").c_str(), &stack, &rc);
  if (rc != 0) return -1;
  gusinf(&stack, &size, &count, &rc);
  std::vector<PartRecord *> parts(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) {
    gusrea(&stack, &i, &parts[static_cast<size_t>(i - 1)], &rc);
    double od = 40.0 + i;
    cspgrepl(parts[static_cast<size_t>(i - 1)], field("DIMS").c_str(), field("OD").c_str(), 1, 8,
             &od, &rc);
  }
  QuietErrors quiet;
  int put = -1;
  csgputip(&c.h, field("A").c_str(), &stack, &put);
  for (PartRecord *p : parts) cspgfre(p);
  gusend(&stack, &rc);
  return put;
}

void key_files(const TempDir &dir) {
  const std::string a2 = catalog_record(sample_part("A", 7.5, 4));
  write_file(dir.path("cat"), kA + kB + a2);
  write_file(dir.path("idx"),
             index_bytes(8, {{"A", 0}, {"A", static_cast<int>((kA + kB).size())},
                             {"B", static_cast<int>(kA.size())}}));
}

// Appends a query part to a generic part file that holds one already.
int generic_put(const TempDir &dir) {
  int rc = 0, four = 4;
  CgGroup *part = cgpradd("0200", "C8      ", &four, "SIZE    ", "PIPE    ", nullptr, &rc);
  FILE *file = std::fopen(dir.path("parts.gp").c_str(), "r+b");
  if (file) cggput(file, &part, &rc);
  cggfre(part);
  if (file) std::fclose(file);
  return file ? rc : -1;
}

void catalog_files(const TempDir &dir) {
  write_file(dir.path("cat"), kA + kB);
  write_file(dir.path("idx"), index_bytes(8, {{"A", 0}, {"B", static_cast<int>(kA.size())}}));
}

void keyed_file(const TempDir &dir) { write_file(dir.path("parts.kg"), record_bytes(kOld)); }

// The project of the dispatcher: kind 2 indexes SYMCAT by ELCATLOG/SYMNAME.
void symbol_catalog(const TempDir &dir) {
  host::model::clear();
  host::model::Model &m = host::model::data();
  m.setup.catalog_directory = dir.root();
  m.setup.current_catalog = 3;
  m.catalogs = {{3, {"x", "x", "x", "x", "x", "x", "SYMCAT  ", "SYMIDX  ", "x"}}};
  write_file(dir.path("SYMCAT  "),
             catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("VALVE", 16)}}}}) +
                 catalog_record({{"ELCATLOG", {{"SYMNAME", 1, 16, field("ELBOW", 16)}}}}));
  write_file(dir.path("SYMIDX  "), "old index");
}

// The table files of one dump through cstabl, over older versions of both.
std::string table_line(const std::string &name, const std::string &slice) {
  std::string text(72, ' ');
  text.replace(9, name.size(), name);
  text.replace(18, slice.size(), slice);
  return text + "\n";
}

void table_dump(const TempDir &d) {
  write_file(d.path("dump"), table_line("   HEAD", "") + table_line("T1", "first") +
                                 table_line("T1", "second") + table_line("T2", "third"));
  write_file(d.path("T1"), "old T1\n");
  write_file(d.path("T2"), "old T2\n");
}

int split_tables(const TempDir &d) {
  int rc = -1;
  capture_stdout([&] {
    cstabl(field(d.path("dump"), 45).c_str(), field(d.root(), 40).c_str(), &rc);
  });
  return rc;
}

// A table of three keyed records and an older index of it, for cgprid.
void keyed_table(const TempDir &d) {
  std::string bytes;
  for (const char *key : {"B", "A", "C"}) bytes += record_bytes({{"G", {{"K", 1, 8, field(key)}}}});
  write_file(d.path("table"), bytes);
  write_file(d.path("index"), "old index");
}

int table_index(const TempDir &d) {
  KeyedFile *table = nullptr;
  int count = 1, lengths[] = {8}, rc = -1, closed = -1;
  cgtopn(field(d.path("table"), 53).c_str(), field("G").c_str(), field("K").c_str(), &count,
         lengths, &table, &rc);
  if (rc != 0) return -1;
  cgprid(&table, field(d.path("index"), 53).c_str(), &rc);
  cspcls(&table, &closed);
  return rc;
}

// A generator run over a dump of `text`, with an older output beside it.
struct Generated {
  std::string dump, output;
  std::function<void(const TempDir &, int *)> run;
};

WritePath generator(const char *name, Generated g) {
  return {name,
          [g](const TempDir &d) {
            write_file(d.path("dump"), g.dump);
            write_file(d.path(g.output), "old,line,\n");
          },
          [g](const TempDir &d) {
            int rc = 0;  // the generators leave it alone on success
            g.run(d, &rc);
            return rc;
          }};
}

const std::vector<WritePath> &write_paths() {
  static const std::vector<WritePath> paths = {
      {"append", catalog_files, [](const TempDir &d) { return append_part(d, false); }, true},
      {"rewrite", catalog_files, [](const TempDir &d) { return append_part(d, true); }},
      {"rewrite, journal made under a temporary name", catalog_files,
       [](const TempDir &d) {
         catalog::test_force_named_journal(true);
         const int rc = append_part(d, true);
         catalog::test_force_named_journal(false);
         return rc;
       }},
      {"delete flag", catalog_files,
       [](const TempDir &d) {
         Catalog c(d.path("cat"), d.path("idx"));
         int n = 1, rc = -1;
         return csgdnrc(&c.h, field("B").c_str(), &n, &rc), rc;
       }},
      {"index build",
       [](const TempDir &d) {
         write_file(d.path("cat"), kA + kB);
         write_file(d.path("idx"), "old index");
       },
       [](const TempDir &d) {
         int fields = 1, widths[] = {8}, rc = -1;
         csgbldx(&fields, field("PART").c_str(), field("NAME").c_str(), widths,
                 (d.path("cat") + " ").c_str(), (d.path("idx") + " ").c_str(), &rc);
         return rc;
       }},
      {"dispatcher", symbol_catalog,
       [](const TempDir &) {
         int kind = 2, rc = -1;
         return cscprt2(&kind, &rc), rc;
       }},
      {"compression",
       [](const TempDir &d) {
         write_file(d.path("cat"), kA + catalog_record(sample_part("B", 2.5), 1) + kC);
       },
       [](const TempDir &d) {
         int rc = -1;
         capture_stdout([&] { cscprs(d.path("cat").c_str(), &rc); });
         return rc;
       }},
      {"keyed put", keyed_file, [](const TempDir &d) { return keyed_put(d, "0200", false); }, true},
      {"keyed put replacing", keyed_file,
       [](const TempDir &d) { return keyed_put(d, "0100", false); }, true, 1},
      {"rewrite of every record of a key", key_files, put_key, false, 7},
      {"keyed puts", keyed_file, [](const TempDir &d) { return keyed_put(d, "0300", true); }, true},
      {"generic part put",
       [](const TempDir &d) {
         write_file(d.path("parts.gp"), record_bytes({{"PIPE", {{"SIZE", 1, 4, "0100"}}}}));
       },
       generic_put, true, 1},
      {"table text split", table_dump, split_tables},
      {"table index", keyed_table, table_index},
      generator("weld table",
                {"WELDHEAD\nWELDNTRY BW S 2 1.5 2.5 FW 3.0 4.0 GW\nCTFTBEN\n", "w.csv",
                 [](const TempDir &d, int *rc) {
                   cgwtcr(d.path("dump").c_str(), d.path("w.csv").c_str(), rc);
                 }}),
      generator("pipe dimensions",
                {"PIODHEAD\nPIODNTRY 2 60.3\nCTFTBEN\nPITHHEAD\nPITHNTRY 2 40 3.91\nCTFTBEN\n",
                 "p.csv",
                 [](const TempDir &d, int *rc) {
                   const std::string dump = d.path("dump");
                   cgpdtcr(dump.c_str(), dump.c_str(), d.path("p.csv").c_str(), rc);
                 }}),
      generator("encoded tables",
                {"MATHEAD\nPNAMNTRY P1, Pipe\nENDNTRY BW, Butt weld\nPNAMNTRY P2, Tee\nCTFTBEN\n",
                 "PNAMNTRY",
                 [](const TempDir &d, int *rc) {
                   cgencdec(d.path("dump").c_str(), d.root().c_str(), rc);
                 }}),
      generator("class map",
                {"CLASS CLSNAM=A1 WLDTB=W1 BRHTB=B1\nCLASS CLSNAM=C2\n", "CLASSMAP",
                 [](const TempDir &d, int *rc) {
                   cgclprs(d.path("dump").c_str(), d.root().c_str(), rc);
                 }}),
  };
  return paths;
}

class WriteFaults : public HostTest {
 protected:
  void TearDown() override {
    host::model::clear();
    HostTest::TearDown();
  }
  // Runs the path on fresh files; the files afterwards, with a rollback
  // journal applied as the next open would.
  Files attempt(const WritePath &path, int *rc) {
    TempDir dir;
    path.setup(dir);
    *rc = path.run(dir);
    bytes_ = io::test_bytes_written();
    io::test_reset();
    catalog::recover_catalog(dir.path("cat").c_str());
    return snapshot(dir);
  }

  // The files before and after a run without failures, and the bytes the
  // run writes.
  void measure(const WritePath &path) {
    int rc = -1;
    old_ = attempt({path.name, path.setup, [](const TempDir &) { return 0; }}, &rc);
    new_ = attempt(path, &rc);
    ASSERT_RC(0, rc);
    ASSERT_NE(old_, new_);
    ASSERT_GT(bytes_, 0);
  }

  int64_t bytes_ = 0;  // written by the last attempt
  Files old_, new_;
};

TEST_F(WriteFaults, EveryByteLeavesOldOrNewFiles) {
  const std::pair<io::Mode, bool> modes[] = {
      {io::Mode::immediate, false}, {io::Mode::buffered, false}, {io::Mode::immediate, true}};
  for (const WritePath &path : write_paths()) {
    SCOPED_TRACE(path.name);
    ASSERT_NO_FATAL_FAILURE(measure(path));
    const int64_t bytes = bytes_;
    int rc = -1;
    for (const auto &[mode, full] : modes) {
      for (int64_t k = 0; k < bytes; ++k) {
        SCOPED_TRACE("failure at byte " + std::to_string(k) + " mode " +
                     std::to_string(static_cast<int>(mode)) + (full ? " full" : ""));
        io::test_fail_write_at(k, mode, full);
        const Files files = attempt(path, &rc);
        EXPECT_NE(rc, 0);
        EXPECT_EQ(files, old_);
        if (HasFailure()) return;
      }
    }
  }
}

// A kill leaves the old or the new files (an append may leave the start of
// its record after the old bytes, nothing else); temporary files may stay
// behind. A keyed file is checked after the open that finishes an
// interrupted replacement.
TEST_F(WriteFaults, KillAtRandomPointsLeavesOldOrNewFiles) {
  std::mt19937 random(20261206);
  for (const WritePath &path : write_paths()) {
    SCOPED_TRACE(path.name);
    ASSERT_NO_FATAL_FAILURE(measure(path));
    const int64_t bytes = bytes_;
    const int64_t rounds = path.kill_every > 0 ? (bytes + path.kill_every - 1) / path.kill_every : 3;
    for (int64_t round = 0; round < rounds; ++round) {
      const int64_t k = path.kill_every > 0
                            ? round * path.kill_every
                            : std::uniform_int_distribution<int64_t>(0, bytes - 1)(random);
      SCOPED_TRACE("killed at byte " + std::to_string(k));
      TempDir dir;
      path.setup(dir);
      std::fflush(nullptr);
      const pid_t child = fork();
      if (child == 0) {
        io::test_fail_write_at(k, io::Mode::crash);
        path.run(dir);
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
      ASSERT_TRUE(catalog::recover_catalog(dir.path("cat").c_str()));
      // A keyed file's next open finishes a replacement the kill cut short.
      if (file_exists(dir.path("parts.kg")) && read_file(dir.path("parts.kg")) != new_.at("parts.kg")) {
        KeyedFile *file = nullptr;
        capture_stderr([&] { open_keyed(dir.path("parts.kg"), kKey, &file); });
        if (file) close_keyed(&file);
      }
      for (const auto &[name, bytes_now] : snapshot(dir)) {
        if (!old_.count(name)) continue;  // a temporary file
        const std::string &before = old_.at(name), &after = new_.at(name);
        // A torn append: the old bytes, then the start of what the append
        // writes, nothing else.
        const size_t tail = bytes_now.size() - std::min(bytes_now.size(), before.size());
        const bool torn = path.torn_tail_on_crash && tail > 0 &&
                          tail < after.size() - std::min(after.size(), before.size()) &&
                          bytes_now.compare(0, before.size(), before) == 0 &&
                          after.compare(before.size(), tail, bytes_now, before.size(), tail) == 0;
        EXPECT_TRUE(bytes_now == before || bytes_now == after || torn) << name;
      }
    }
  }
}

// The project database is written by SQLite: the writes, syncs and
// truncations of the database and its journal fail in a layer under SQLite,
// one by one, with an I/O error and as on a full disk, through a save and
// the close that copies the journal into the database. The save commits the
// whole change or fails with the save-failed code and leaves the project as
// it was; after a failure the same save commits on a second try.
class DatabaseWriteFaults : public ModelTest {
 protected:
  // Changes rows, an object, a name set and the setup: several tables.
  static void change() {
    model::Model &m = model::data();
    m.setup.ibafr7 = 7;
    m.add_row(3, "PRJWRULS", {{"ENDS1", "XX"}});
    m.add_object("PROCESS", "SECOND");
    m.objects.begin()->second.sets["NAMES"] = {"ONE", "TWO"};
  }
  // The project as the import left it, with no journal beside it.
  void restore(const std::string &bytes) {
    model::clear();
    write_file(project_, bytes);
    for (const char *suffix : {"-wal", "-shm", "-journal"}) std::remove((project_ + suffix).c_str());
  }
  // The model the project holds, as a fresh load reads it; stays loaded.
  std::string on_disk() {
    model::clear();
    EXPECT_RC(0, model::load(project_)) << model::load_error();
    return model::to_json();
  }
};

TEST_F(DatabaseWriteFaults, EveryWriteLeavesOldOrNewProject) {
  model::fail_database_write(0);  // databases open through the fault layer from now on
  model::clear();
  const std::string bytes = read_file(project_);
  const std::string old_json = on_disk();
  change();
  const std::string new_json = model::to_json();
  for (const bool full : {false, true}) {
    for (long n = 1; n < 10000; ++n) {
      SCOPED_TRACE("write " + std::to_string(n) + (full ? " fails, disk full" : " fails"));
      restore(bytes);
      ASSERT_RC(0, model::load(project_)) << model::load_error();
      change();
      model::fail_database_write(n, full);
      const int rc = model::save(project_);
      const std::string error = model::load_error();
      model::clear();  // the close copies the journal into the database
      const bool injected = model::database_writes_injected() > 0;
      model::fail_database_write(0);
      if (rc == 0) {
        // A failure after the commit leaves it in the journal.
        EXPECT_EQ(on_disk(), new_json);
      } else {
        EXPECT_TRUE(injected);
        EXPECT_RC(PCS_HOST_SAVE_FAILED, rc) << error;
        EXPECT_EQ(on_disk(), old_json);
        change();
        EXPECT_RC(0, model::save(project_)) << model::load_error();
        EXPECT_EQ(on_disk(), new_json);
      }
      if (HasFailure()) return;
      if (!injected) {
        EXPECT_GT(n, 1) << "the save writes nothing through the layer";
        break;
      }
    }
  }
}

}  // namespace
}  // namespace pcs::test
