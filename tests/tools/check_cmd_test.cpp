// `pcs check` over hand-built damage in catalogs, indexes and keyed files,
// and `pcs repair`, which removes only a torn last record (damage in the
// middle only with --force).
#include <sys/stat.h>

#include <filesystem>

#include "tests/keyed/keyed_fixture.h"
#include "tests/support/layouts.h"

namespace pcs::test {
namespace {

std::string part(const std::string &number, int flag = 0) {
  return catalog_record({{"PARTNUM", {{"PARTNO", 1, 8, field(number, 8)}}}}, flag);
}

std::string with(std::string bytes, size_t at, const std::string &replacement) {
  return bytes.replace(at, replacement.size(), replacement);
}

std::string pipe(const std::string &size, int length = 4, int status = 0) {
  return record_bytes({{"PIPE", {{"SIZE", 1, length, field(size, length)}}}}, status);
}

TEST(CheckCommand, ReportsEveryDamagedPlaceWithItsOffset) {
  TempDir dir;
  const std::string good = part("A") + part("B", 1);  // records of 61 bytes
  write_file(dir.path("good.cat"), good);
  write_file(dir.path("good.idx"), index_bytes(8, {{"A", 0}, {"B", 61}}));
  write_file(dir.path("stale.idx"), index_bytes(8, {{"A", 61}, {"B", 0}}));
  write_file(dir.path("bad.cat"), with(part("A"), 7, "\x05") + with(part("B"), 60, "x") +
                                      with(part("C"), 8, be32(999)) + part("D").substr(0, 20));
  write_file(dir.path("bad.idx"), index_header(3, 8) + index_record(1, 61, 17, field("B", 8)) +
                                      index_record(1, 5, 54, field("A", 8)) +
                                      index_record(2, 0, 91, field("C", 8)));
  const int k = static_cast<int>(pipe("0100").size());
  write_file(dir.path("t.kg"), pipe("0100") + pipe("0100") + pipe("0050", 4, -1) + pipe("01", 2));
  struct Case {
    std::string args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {"good.cat good.idx --index-key PARTNUM.PARTNO:8", 0,
       "good.cat: no damage found\ngood.idx: no damage found\n"},
      {"good.cat stale.idx --index-key PARTNUM.PARTNO:8", 1,
       "good.cat: no damage found\nstale.idx: offset 54: the key is not that of the record at "
       "catalog offset 0: the index is stale\n"},
      {"bad.cat", 1,
       "bad.cat: offset 0: flag word 5 is neither 0 (live) nor 1 (deleted)\n"
       "bad.cat: offset 61: the record does not end with a newline\n"
       "bad.cat: offset 122: an offset, count or size of the record leaves it (or memory ran out)\n"
       "bad.cat: offset 183: the record runs past the end of the file (length word 61, 20 bytes "
       "present): a torn last record\n"},
      {"good.cat bad.idx", 1,
       "good.cat: no damage found\n"
       "bad.idx: offset 54: catalog offset 5 is not the start of a record of good.cat\n"
       "bad.idx: offset 54: the key is below the key before it: the index is not sorted\n"
       "bad.idx: offset 17: the key's first-record field does not point at its first record\n"
       "bad.idx: offset 91: the record at catalog offset 0 does not carry the key 'C': the index "
       "is stale\n"
       "bad.idx: offset 91: count field 2, but the key has 1 record(s)\n"},
      {"good.cat good.cat.idx", 1, ""},
      {"t.kg -k PIPE.SIZE:4", 1,
       "t.kg: offset " + std::to_string(k) + ": the live record at offset 0 has the same key\n" +
           "t.kg: offset " + std::to_string(3 * k) +
           ": a key attribute is missing or not as long as its key field\n"},
      {"good.idx", 2, ""},
      {"good.cat empty.idx", 1,
       "good.cat: no damage found\nempty.idx: offset 0: 1 live record(s) of good.cat are not in "
       "the index (the first at catalog offset 0): the index is stale or empty; rebuild it\n"},
      {"flip.kg -k PIPE.SIZE:4", 1,
       "flip.kg: offset " + std::to_string(k) +
           ": status word 256 is neither 0 (live), -1 (deleted) nor the offset of a later record "
           "with the same key\n"},
      {"chain.kg -k PIPE.SIZE:4", 0, "chain.kg: no damage found\n"},
  };
  write_file(dir.path("flip.kg"), pipe("0100") + pipe("0200", 4, 256) + pipe("0300"));
  write_file(dir.path("chain.kg"), pipe("0100") + pipe("0200", 4, 2 * k) + pipe("0200"));
  write_file(dir.path("good.cat.idx"), index_header(3, 8));
  write_file(dir.path("empty.idx"), index_header(0, 8));
  for (const Case &c : cases) {
    const ToolRun r = run_tool(dir, "check " + c.args);
    EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
    if (!c.out.empty() || c.status == 1) EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.args;
  }
  EXPECT_EQ(read_file(dir.path("bad.cat")).size(), 203u);  // checking writes nothing
  // --verbose says where the reader refused: the record at 122 has its
  // directory word (at 8 of the record) pointing past it; the keyed record
  // cut short of its newline is refused by the keyed framing.
  write_file(dir.path("cut.kg"), pipe("0100").substr(0, static_cast<size_t>(k) - 1) + "x");
  struct Verbose {
    std::string args, line;
  } verbose[] = {
      {"check --verbose bad.cat",
       "bad.cat: offset 122: an offset, count or size of the record leaves it (or memory ran "
       "out); the reader refused the bytes at offset 130 (common/record_codec.h:"},
      {"-v check bad.cat",
       "bad.cat: offset 122: an offset, count or size of the record leaves it (or memory ran "
       "out); the reader refused the bytes at offset 130 (common/record_codec.h:"},
      {"check --verbose cut.kg -k PIPE.SIZE:4",
       "cut.kg: offset 0: the record is damaged (an offset, count or length leaves it, or no "
       "closing newline); the reader refused the bytes at offset " + std::to_string(k - 1) +
           " (common/record_codec.cpp:"},
  };
  for (const Verbose &v : verbose) {
    const ToolRun r = run_tool(dir, v.args);
    EXPECT_EQ(r.status, 1) << v.args;
    EXPECT_NE(r.out.find(v.line), std::string::npos) << v.args << "\n" << r.out;
  }
}

TEST(RepairCommand, RemovesOnlyATornLastRecordAfterABackup) {
  TempDir dir;
  const std::string good = part("A") + part("B", 1), torn = good + part("C").substr(0, 20);
  struct Case {
    std::string bytes;
    int status;
    std::string message;
    std::string after;  // the file afterwards
  };
  const Case cases[] = {
      {torn, 0,
       "f: removed the torn last record at offset 122 (length word 61, only 20 bytes present); "
       "the file as it was is in f.before-repair\n",
       good},
      {good + std::string(2, '\0'), 0, "f: removed the torn last record at offset 122", good},
      {good, 0, "f: nothing to repair: the last record ends at the end of the file\n", good},
      {with(torn, 60, "x"), 1, "record at offset 0 does not end with a newline; that is not a torn",
       with(torn, 60, "x")},
      {with(torn, 61, be32(3)), 1, "length word 3 is too small", with(torn, 61, be32(3))},
      {pipe("0100") + pipe("0200").substr(0, 9), 0, "removed the torn last record at offset 57",
       pipe("0100")},
  };
  for (const Case &c : cases) {
    std::filesystem::remove(dir.path("f.before-repair"));
    write_file(dir.path("f"), c.bytes);
    const ToolRun r = run_tool(dir, "repair f");
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
    EXPECT_NE((r.status == 0 ? r.out : r.err).find(c.message), std::string::npos) << r.out << r.err;
    EXPECT_EQ(read_file(dir.path("f")), c.after) << c.message;
    const bool cut = c.after.size() < c.bytes.size();
    EXPECT_EQ(std::filesystem::exists(dir.path("f.before-repair")), cut) << c.message;
    if (cut) EXPECT_EQ(read_file(dir.path("f.before-repair")), c.bytes);
  }
  // A flipped bit in a middle record's length word: the records after it
  // are intact, so nothing is cut unless --force, and then after a backup
  // that keeps the file's permission bits.
  const std::string three = part("A") + part("B", 1) + part("C");
  const std::string flipped = with(three, 61, be32(61 | 0x100));
  const std::string salvage =
      "f: record at offset 61: its length word 317 runs past the end of the file; 1 intact "
      "record(s) follow from offset 122 to the end of the file; that is not a torn last record, "
      "so nothing was removed";
  for (const bool force : {false, true}) {
    SCOPED_TRACE(force);
    std::filesystem::remove(dir.path("f.before-repair"));
    write_file(dir.path("f"), flipped);
    chmod(dir.path("f").c_str(), 0600);
    const ToolRun r = run_tool(dir, force ? "repair f --force" : "repair f");
    EXPECT_EQ(r.status, force ? 0 : 1) << r.err;
    if (!force) EXPECT_NE(r.err.find(salvage), std::string::npos) << r.err;
    if (force)
      EXPECT_NE(r.out.find("f: cut the file at offset 61 (record at offset 61: its length word "
                           "317 runs past the end of the file; 1 intact record(s) follow"),
                std::string::npos)
          << r.out;
    EXPECT_EQ(read_file(dir.path("f")), force ? three.substr(0, 61) : flipped);
    EXPECT_EQ(std::filesystem::exists(dir.path("f.before-repair")), force);
    if (!force) continue;
    EXPECT_EQ(read_file(dir.path("f.before-repair")), flipped);
    struct stat status {};
    stat(dir.path("f.before-repair").c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
  }

  // An existing backup is never overwritten.
  write_file(dir.path("f"), torn);
  write_file(dir.path("f.before-repair"), "keep");
  const ToolRun r = run_tool(dir, "repair f");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create the backup (nothing removed): File exists"),
            std::string::npos);
  EXPECT_EQ(read_file(dir.path("f")), torn);
  EXPECT_EQ(read_file(dir.path("f.before-repair")), "keep");
}

}  // namespace
}  // namespace pcs::test
