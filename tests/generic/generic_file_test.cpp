// Generic part files: records read from bytes laid out by hand, records
// written compared with hand-built bytes, every result code, damaged and
// truncated records, failed writes, the diagnostic print and the fold.
#include "common/fileio.h"
#include "tests/keyed/keyed_fixture.h"
#include "tests/generic/generic_fixture.h"

namespace pcs::test {
namespace {

const std::vector<Group> kPipe = {
    {"PARTNUM", {{"PARTNO", 1, 8, field("P-100")}}},
    {"PIPE", {{"SIZE", 2, 4, "4   6   "}, {"RATING", 1, 3, "150"}, {"EMPTY", 0, 8, ""}}}};
const std::vector<Group> kValve = {{"PARTNUM", {{"PARTNO", 1, 8, field("V-7")}}}};

// The groups in reverse, each with its attributes in reverse.
std::vector<Group> reversed(std::vector<Group> groups) {
  std::reverse(groups.begin(), groups.end());
  for (Group &g : groups) std::reverse(g.attrs.begin(), g.attrs.end());
  return groups;
}

// Text of a part as part_text gives it for `groups` in this order.
std::string text_of(const std::vector<Group> &groups) {
  std::string out;
  for (const Group &g : groups) {
    out += field(g.name) + ":";
    for (const Attr &a : g.attrs) out += field(a.name) + "=" + a.values + ";";
    out += "|";
  }
  return out;
}

class GenericFile : public HostTest {
 protected:
  void TearDown() override {
    if (stream_) std::fclose(stream_);
    HostTest::TearDown();
  }
  // The file of these bytes, open for update (the previous one is closed).
  FILE *open(const std::string &bytes) {
    if (stream_) std::fclose(stream_);
    write_file(path_, bytes);
    stream_ = std::fopen(path_.c_str(), "r+b");
    return stream_;
  }
  int get(int position, int *length, CgGroup **part) {
    int rc = 0;
    return cggget(&stream_, &position, length, part, &rc), rc;
  }
  int put(CgGroup *part) {
    int rc = 0;
    return cggput(stream_, &part, &rc), rc;
  }

  TempDir dir_;
  std::string path_ = dir_.path("parts.gp");
  FILE *stream_ = nullptr;
};

// Records read from hand-built bytes come back reversed, without flags;
// written, they give the keyed layout of their order.
TEST_F(GenericFile, ReadsAndWritesHandBuiltRecords) {
  const std::string first = record_bytes(kPipe), second = record_bytes(kValve);
  open(first + second);
  int length = 0;
  CgGroup *part = nullptr;
  ASSERT_RC(0, get(0, &length, &part));
  EXPECT_EQ(length, static_cast<int>(first.size()));
  EXPECT_EQ(part_text(part), text_of(reversed(kPipe)));
  EXPECT_EQ(part->attributeCount, 3);
  EXPECT_EQ(part->attributes->values, nullptr);  // EMPTY, now first
  EXPECT_EQ(part->attributes->valueLength, 8);
  EXPECT_EQ(part->next->attributes->genericFlags, nullptr);
  CgGroup *valve = nullptr;
  ASSERT_RC(0, get(length, &length, &valve));
  EXPECT_EQ(part_text(valve), text_of(kValve));
  open("");
  CgGroup *pipe = make_part(kPipe);
  pipe->attributes->genericFlags = static_cast<int32_t *>(gicaloc(1, 4));
  ASSERT_RC(0, put(pipe));
  ASSERT_RC(0, put(valve));
  ASSERT_RC(0, put(part));
  const std::string written = first + second + record_bytes(reversed(kPipe));
  EXPECT_EQ(read_file(path_), written);
  part->attributeCount = 0;  // only attributeCount attributes are stored
  ASSERT_RC(0, put(part));
  EXPECT_EQ(read_file(path_).substr(written.size()), record_bytes({{"PIPE", {}}, reversed(kPipe)[1]}));
  int none = 0;
  EXPECT_RC(PCS_INPUT_ENDED, (cggput(stream_, nullptr, &none), none));
  for (CgGroup *p : {part, valve, pipe}) cggfre(p);
}

TEST_F(GenericFile, ResultCodes) {
  const std::string good = record_bytes(kValve);
  const int size = static_cast<int>(good.size());
  std::string bad_newline = good, deleted = record_bytes(kValve, -1), replaced = record_bytes(kValve, 900);
  bad_newline.back() = 'x';
  std::string long_length = good, short_length = good, bad_directory = good, bad_count = good;
  long_length.replace(0, 4, be32(size + 1));
  short_length.replace(0, 4, be32(16));
  bad_directory.replace(8, 4, be32(size));
  bad_count.replace(size - 9, 4, be32(1000));  // the directory's group count
  struct Case {
    const char *name;
    std::string bytes;
    int position, expected, length;
  } cases[] = {
      {"at the file size", good, size, PCS_AT_END, -1},
      {"past the end", good, size + 10, PCS_AT_END, -1},
      {"negative", good, -1, PCS_AT_END, -1},
      {"empty file", "", 0, PCS_AT_END, -1},
      {"last byte changed", bad_newline, 0, PCS_INPUT_ENDED, size},
      {"deleted", deleted, 0, PCS_RECORD_DELETED, size},
      {"replaced", replaced, 0, PCS_RECORD_DELETED, size},
      {"longer than the file", long_length, 0, PCS_INPUT_ENDED, size + 1},
      {"shorter than a record", short_length, 0, PCS_INPUT_ENDED, 16},
      {"three bytes left", good + "abc", size, PCS_INPUT_ENDED, -1},
      {"directory outside", bad_directory, 0, PCS_INPUT_ENDED, size},
      {"group count too large", bad_count, 0, PCS_INPUT_ENDED, size},
  };
  for (const Case &c : cases) {
    open(c.bytes);
    int length = -1;
    CgGroup *part = reinterpret_cast<CgGroup *>(&length);
    EXPECT_RC(c.expected, get(c.position, &length, &part)) << c.name;
    EXPECT_EQ(length, c.length) << c.name;
    if (c.expected != PCS_AT_END) {
      EXPECT_EQ(part, nullptr) << c.name;
    }
  }
}

TEST_F(GenericFile, TruncatedRecords) {
  const std::string good = record_bytes(kPipe);
  for (size_t cut = 1; cut < good.size(); ++cut) {
    open(good.substr(0, cut));
    int length = 0;
    CgGroup *part = nullptr;
    EXPECT_RC(PCS_INPUT_ENDED, get(0, &length, &part)) << cut;
  }
}

TEST_F(GenericFile, GroupFromAnyOffset) {
  const std::string record = record_bytes(kPipe);
  const int length = static_cast<int>(record.size());
  // The PIPE header stands after its three attribute blocks.
  const int pipe_header = 12 + (16 + 8) + (12 + 4) + (16 + 8) + (16 + 3) + 16;
  CgGroup group{};
  int rc = 0;
  ASSERT_RC(0, (cggtagrp(record.data(), &length, &pipe_header, &group, &rc), rc));
  EXPECT_EQ(part_text(&group), text_of({reversed(kPipe)[0]}));
  generic::free_attributes(group.attributes);
  const int shorter = pipe_header + 8;  // the buffer ends inside the header
  CgGroup cut{};
  EXPECT_RC(PCS_INPUT_ENDED, (cggtagrp(record.data(), &shorter, &pipe_header, &cut, &rc), rc));
  EXPECT_EQ(cut.attributes, nullptr);
}

TEST_F(GenericFile, FailedWritesLeaveTheFileAsItWas) {
  const std::string before = record_bytes(kValve);
  open(before);
  CgGroup *part = make_part(kPipe);
  for (int nth = 1;; ++nth) {
    io::test_fail_write(nth, 3);
    const int rc = put(part);
    io::test_reset();
    if (rc == 0) break;
    EXPECT_RC(PCS_SHORT_WRITE, rc) << nth;
    EXPECT_EQ(read_file(path_), before) << nth;
  }
  EXPECT_EQ(read_file(path_), before + record_bytes(kPipe));
  open(before);
  sweep_allocations([&](long) {
    const int rc = put(part);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY) << rc;
    EXPECT_EQ(read_file(path_), rc == 0 ? before + record_bytes(kPipe) : before);
    if (rc == 0) write_file(path_, before);
  });
  cggfre(part);
}

TEST_F(GenericFile, ReadAllocationFailures) {
  open(record_bytes(kPipe));
  sweep_allocations([&](long) {
    int length = 0;
    CgGroup *part = nullptr;
    const int rc = get(0, &length, &part);
    EXPECT_TRUE(rc == 0 ? part != nullptr : rc == PCS_GEN_NO_MEMORY && !part) << rc;
    cggfre(part);
  });
}

TEST_F(GenericFile, PrintsGroupsAndAttributes) {
  CgGroup *part = make_part(kValve);
  int rc = 0, four = 4, eight = 8;
  const int32_t number = -12;
  const double real = 2.5;
  cgpradd(&number, "I4      ", &four, "COUNT   ", "PARTNUM ", part, &rc);
  cgpradd(&real, "R8      ", &eight, "WEIGHT  ", "PARTNUM ", part, &rc);
  part->attributes->genericFlags = static_cast<int32_t *>(gicaloc(1, 4));
  part->attributes->genericFlags[0] = 1;
  cgpradd(field("X").data(), "C8      ", &eight, "A       ", "SECOND  ", part, &rc);
  part->name[7] = '\x01';
  const std::string text = capture_stderr([&] { cggprnt(part, "Title", 1); });
  EXPECT_EQ(text,
            "Title\nGroup name:>PARTNUM<\n Number of attributes:>3<\n Match flag:>1<\n"
            " Attribute Name:>PARTNO  <\n  Attribute type:>C8      <\n  Number of values:>1<\n"
            "  Length of attribute values:>8<\n   Value No. 0>V-7     <\n   Generic Flag:>1<\n"
            " Attribute Name:>COUNT   <\n  Attribute type:>I4      <\n  Number of values:>1<\n"
            "  Length of attribute values:>4<\n   Value No. 0>-12<\n"
            " Attribute Name:>WEIGHT  <\n  Attribute type:>R8      <\n  Number of values:>1<\n"
            "  Length of attribute values:>8<\n   Value No. 0>2.500000<\n");
  EXPECT_EQ(capture_stderr([&] { cggprnt(part, "T", 0); }), "");
  EXPECT_EQ(capture_stderr([&] { cggprnt(part, "T", 5); }).find("Group name:>SECOND  <") != std::string::npos, true);
  cggfre(part);
}

// The fold against a reference file of two parts indexed by PARTNO (40).
class Fold : public GenericFile {
 protected:
  static std::vector<Group> part(const std::string &number) {
    return {{"PARTNUM", {{"PARTNO", 1, 40, field(number, 40)}}}, {"PIPE", {{"SIZE", 1, 4, "4   "}}}};
  }
  void SetUp() override {
    GenericFile::SetUp();
    const std::string a = record_bytes(part("A-1")), b = record_bytes(part("B-2"));
    write_file(reference_, a + b);
    write_file(index_, index_bytes(40, {{"A-1", 0}, {"B-2", static_cast<int>(a.size())}}));
  }
  int fold(const std::string &source, const std::string &duplicates) {
    write_file(source_, source);
    int rc = -1;
    cgfold(source_.c_str(), reference_.c_str(), index_.c_str(), fresh_.c_str(), duplicates.c_str(), &rc);
    return rc;
  }
  std::string source_ = dir_.path("source.gp"), reference_ = dir_.path("reference.gp"),
              index_ = dir_.path("reference.idx"), fresh_ = dir_.path("new.gp"),
              duplicates_ = dir_.path("dup.gp");
};

TEST_F(Fold, SplitsNewAndDuplicateParts) {
  const std::string c = record_bytes(part("C-3")), b_again = record_bytes(reversed(part("B-2")));
  const std::string d = record_bytes(part("D-4"));
  ASSERT_RC(0, fold(c + b_again + d, duplicates_));
  // Written parts are the read parts: reversed once more.
  EXPECT_EQ(read_file(fresh_), record_bytes(reversed(part("C-3"))) + record_bytes(reversed(part("D-4"))));
  EXPECT_EQ(read_file(duplicates_), record_bytes(part("B-2")) + record_bytes(reversed(part("B-2"))));
  write_file(fresh_, "");
  write_file(duplicates_, "");
  ASSERT_RC(0, fold(c, duplicates_));
  EXPECT_EQ(read_file(duplicates_), "");
  ASSERT_RC(0, fold(b_again, ""));  // no duplicates file: the part is left out
  EXPECT_EQ(read_file(fresh_), record_bytes(reversed(part("C-3"))));
  sweep_allocations([&](long) {
    write_file(duplicates_, "");
    const int rc = fold(b_again, duplicates_);
    EXPECT_TRUE(rc == 0 || rc == PCS_GEN_NO_MEMORY) << rc;
    EXPECT_EQ(read_file(duplicates_).size(), rc == 0 ? 2 * b_again.size() : read_file(duplicates_).size());
  });
  EXPECT_RC(PCS_RECORD_DELETED, fold(record_bytes(part("E-5"), -1), duplicates_));
  EXPECT_RC(PCS_QUERY_CATALOG, fold(c, dir_.path("no/such/dir")));
  std::remove(index_.c_str());
  EXPECT_RC(PCS_QUERY_CATALOG, fold(c, duplicates_));
}

}  // namespace
}  // namespace pcs::test
