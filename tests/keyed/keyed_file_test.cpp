// Keyed group files: name resolution, files built by hand read by the
// library, bytes written by the library, replacement and deletion across
// reopen, many records in any order, composite keys, result codes and messages, and the table open.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "keyed/keyed.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
using namespace pcs::keyed;
namespace {

std::string s(const char *text, size_t n) { return std::string(text, n); }

TEST(Covertn, ExpandsLeadingVariable) {
  auto convert = [](const std::string &name, int width) {
    char out[PCS_KEYED_NAME_LEN];
    keyed::covertn(name.c_str(), out, &width);
    return std::string(out, static_cast<size_t>(width));
  };
  setenv("CATDIR", "/data/cat", 1);
  setenv("V", "123456", 1);
  const std::string plain = field("dir/file.dat", 53);
  EXPECT_EQ(convert(plain, 53), plain);  // blanks kept, no terminator
  EXPECT_EQ(convert(field("$CATDIR/parts.cat", 53), 53), "/data/cat/parts.cat" + std::string(34, '\0'));
  EXPECT_EQ(convert(field("$CATDIR", 53), 53), "/data/cat" + std::string(44, '\0'));
  EXPECT_EQ(convert("$V/abcdefg", 10), "123456/abc");  // the value shifts the rest; overflow dropped
  char path[PCS_KEYED_NAME_LEN + 1];
  unsetenv("PCS_UNSET_VARIABLE");
  EXPECT_FALSE(keyed::resolve_keyed_name(field("$PCS_UNSET_VARIABLE/x", 53).c_str(), path));
  EXPECT_FALSE(keyed::resolve_keyed_name(field("$/x", 53).c_str(), path));  // empty name: unset
  EXPECT_TRUE(keyed::resolve_keyed_name(field("a b", 53).c_str(), path));
  EXPECT_STREQ(path, "a b");
}

class KeyedFileTest : public KeyedTest {
 protected:
  KeyedGroup *get(const std::string &key, int expected_rc = 0) {
    KeyedGroup *list = nullptr;
    int rc = -1;
    EXPECT_RC(expected_rc, (cspget(key.c_str(), &file_, &list, &rc), rc));
    return list;
  }
  std::string get_text(const std::string &key) {
    KeyedGroup *list = get(key);
    std::string text = list_text(list);
    cspfre(&list);
    return text;
  }
  int read_at(int position, int *length) {
    KeyedGroup *list = nullptr;
    int rc = -1;
    cspgtr(&file_->Stream, &position, length, &list, &rc);
    cspfre(&list);
    return rc;
  }
};

const Group kSizeA{"PIPE", {{"SIZE", 1, 4, "0100"}, {"SCH", 2, 2, "40XS"}}};
const Group kSizeB{"PIPE", {{"SIZE", 2, 2, "0200"}}};
const Group kEnd{"END", {{"TYPE", 1, 2, "BW"}}};

TEST_F(KeyedFileTest, ReadsHandBuiltFile) {
  std::string dead = record_bytes({kSizeB}, -1);
  std::string live = record_bytes({kSizeA, kEnd});
  write_file(path_, dead + live);
  ASSERT_RC(0, open_keyed(path_, key_, &file_));
  // Groups and attributes come back in reverse of their file order.
  EXPECT_EQ(get_text("0100"), "END     : TYPE    =BW;PIPE    : SCH     =40XS SIZE    =0100;");
  get("0200", 4);
  int length = 0;
  EXPECT_RC(7, read_at(0, &length));
  EXPECT_EQ(length, static_cast<int>(dead.size()));
  EXPECT_RC(0, read_at(static_cast<int>(dead.size()), &length));
  EXPECT_RC(6, read_at(static_cast<int>((dead + live).size()), &length));
  EXPECT_RC(6, read_at(-1, &length));
}

TEST_F(KeyedFileTest, WritesDocumentedBytesAndReplaces) {
  ASSERT_RC(0, open_keyed(path_, key_, &file_, 0));
  ASSERT_RC(0, put({kSizeA, kEnd}));
  std::string first = record_bytes({kSizeA, kEnd});
  Group replacement{"PIPE", {{"SIZE", 1, 4, "0100"}, {"SCH", 1, 2, "80"}}};
  ASSERT_RC(0, put({replacement}));
  std::string second = record_bytes({replacement});
  std::string replaced = first;
  replaced.replace(4, 4, be32(static_cast<int>(first.size())));
  ASSERT_RC(0, close_keyed(&file_));
  EXPECT_EQ(read_file(path_), replaced + second);
  ASSERT_RC(0, open_keyed(path_, key_, &file_));
  EXPECT_EQ(get_text("0100"), "PIPE    : SCH     =80 SIZE    =0100;");
  int rc = -1;
  EXPECT_RC(0, (cspdel("0100", &file_, &rc), rc));
  EXPECT_RC(4, (cspdel("0100", &file_, &rc), rc));
  int length = 0;
  EXPECT_RC(7, read_at(static_cast<int>(first.size()), &length));
  ASSERT_RC(0, close_keyed(&file_));
  EXPECT_EQ(read_file(path_).substr(first.size() + 4, 4), be32(-1));
  ASSERT_RC(0, open_keyed(path_, key_, &file_));
  get("0100", 4);
  EXPECT_RC(4, (cspget1("0100", &file_, &rc), rc));
}

// The worked example of docs/formats.md, byte for byte.
TEST_F(KeyedFileTest, WritesWorkedExample) {
  ASSERT_RC(0, open_keyed(path_, key_, &file_, 0));
  ASSERT_RC(0, put({{"PIPE", {{"SIZE", 1, 4, "0100"}}}}));
  ASSERT_RC(0, close_keyed(&file_));
  const unsigned char expected[] = {
      0,   0,   0, 57, 0, 0, 0, 0, 0, 0,   0,   48,  'S', 'I', 'Z', 'E', ' ', ' ', ' ',
      ' ', 0,   0, 0,  1, 0, 0, 0, 4, '0', '1', '0', '0', 'P', 'I', 'P', 'E', ' ', ' ',
      ' ', ' ', 0, 0,  0, 1, 0, 0, 0, 12,  0,   0,   0,   1,   0,   0,   0,   32,  '\n'};
  EXPECT_EQ(read_file(path_),
            std::string(reinterpret_cast<const char *>(expected), sizeof expected));
}

// A file of many records in no key order, a third deleted and one
// replaced, is indexed whole by the open: every live key is found, the
// others not, and the index takes deletes and puts after it.
TEST_F(KeyedFileTest, OpensManyRecordsInAnyOrder) {
  constexpr int kRecords = 600;
  auto key = [](int i) {
    char text[8];
    std::snprintf(text, sizeof text, "%04d", i);
    return std::string(text, 4);
  };
  auto put_key = [&](int i) { return put({Group{"PIPE", {{"SIZE", 1, 4, key(i)}}}}); };
  auto del = [&](int i) {
    int rc = -1;
    return cspdel(key(i).c_str(), &file_, &rc), rc;
  };
  std::vector<int> order(kRecords);
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  ASSERT_RC(0, open_keyed(path_, key_, &file_, 0));
  for (int i : order) ASSERT_RC(0, put_key(i));
  for (int i = 0; i < kRecords; i += 3) ASSERT_RC(0, del(i));
  ASSERT_RC(0, put_key(1));
  ASSERT_RC(0, close_keyed(&file_));
  ASSERT_RC(0, open_keyed(path_, key_, &file_));
  for (int i = 0; i < kRecords; ++i) EXPECT_RC(i % 3 == 0 ? 4 : 0, test(key(i).c_str()));
  for (int i = 1; i < kRecords; i += 3) ASSERT_RC(0, del(i));
  for (int i = 0; i < kRecords; i += 3) ASSERT_RC(0, put_key(i));
  for (int i = 0; i < kRecords; ++i) EXPECT_RC(i % 3 == 1 ? 4 : 0, test(key(i).c_str()));
}

TEST_F(KeyedFileTest, CompositeKeys) {
  KeyDesc key{{"PIPE", "SIZE", 4}, {"PIPE", "SCH", 4}, {"END", "TYPE", 2}};
  ASSERT_RC(0, open_keyed(path_, key, &file_, 0));
  ASSERT_RC(0, put({kSizeA, kEnd}));
  ASSERT_RC(0, put({kSizeA}));  // END missing: its field stays blank
  ASSERT_RC(0, put({kEnd}));
  ASSERT_RC(0, close_keyed(&file_));
  ASSERT_RC(0, open_keyed(path_, key, &file_));
  int rc = -1;
  for (const char *k : {"010040XSBW", "010040XS  ", "        BW"}) {
    cspget1(k, &file_, &rc);
    EXPECT_RC(0, rc) << k;
  }
  EXPECT_RC(4, (cspget1("010040XSXX", &file_, &rc), rc));
}

TEST_F(KeyedFileTest, ResultCodesAndMessages) {
  // A key attribute of 2 values of 4 bytes fits a field of 8 and no other.
  write_file(path_, record_bytes({{"G", {{"K", 2, 4, "abcdefgh"}}}}));
  EXPECT_RC(0, open_keyed(path_, KeyDesc{{"G", "K", 8}}, &file_));
  EXPECT_EQ(capture_stdout([&] { EXPECT_RC(6, open_keyed(path_, key_, &file_)); }), " file is opened \n");
  ASSERT_RC(0, close_keyed(&file_));
  EXPECT_RC(3, open_keyed(path_, KeyDesc{{"G", "K", 7}}, &file_));
  EXPECT_EQ(file_, nullptr);
  // Two records without the key attributes share the blank key.
  write_file(path_, record_bytes({kEnd}) + record_bytes({kEnd}));
  EXPECT_RC(2, open_keyed(path_, key_, &file_));
  EXPECT_RC(4, open_keyed(dir_.path("no/such/dir"), key_, &file_));
  EXPECT_RC(4, open_keyed(path_, key_, &file_, 2));
  EXPECT_RC(3, open_keyed(path_, KeyDesc{{"G", "K", -1}}, &file_));
  EXPECT_EQ(capture_stdout([&] { EXPECT_RC(5, close_keyed(&file_)); }), "In cspcls(): file is closed\n");
  // Mode 0 truncates; empty lists and wrong key sizes are refused.
  ASSERT_RC(0, open_keyed(path_, key_, &file_, 0));
  EXPECT_EQ(read_file(path_), "");
  KeyedGroup *list = nullptr;
  int rc = -1;
  EXPECT_RC(0, (cspcre(&list, &rc), rc));
  EXPECT_RC(5, (cspput(&file_, &list, &rc), rc));
  EXPECT_RC(5, (cspputs(&file_, &list, &rc), rc));
  EXPECT_RC(3, put({{"PIPE", {{"SIZE", 1, 3, "010"}}}}));
  EXPECT_EQ(read_file(path_), "");
  // cspputs appends without indexing: the next open sees two live records.
  list = make_list({kSizeA});
  EXPECT_RC(0, (cspputs(&file_, &list, &rc), rc));
  cspputs(&file_, &list, &rc);
  cspfre(&list);
  EXPECT_EQ(list, nullptr);
  get("0100", 4);
  ASSERT_RC(0, close_keyed(&file_));
  EXPECT_RC(2, open_keyed(path_, key_, &file_));
  // A failing close still releases the handle.
  ASSERT_RC(0, open_keyed("/dev/full", KeyDesc{}, &file_));
  EXPECT_RC(4, put({kSizeA}));  // an append counts only once flushed
  io::test_fail(io::Op::flush, 1);
  EXPECT_EQ(capture_stdout([&] { EXPECT_RC(4, close_keyed(&file_)); }), "In cspcls():  file close error \n");
  EXPECT_EQ(file_, nullptr);
}

TEST_F(KeyedFileTest, GroupAndAttributeAccess) {
  KeyedGroup *list = nullptr;
  int rc = -1, n = 0;
  auto add = [&](auto op, const char *g, const char *a, int count, int length, const char *v) {
    return op(field(g).c_str(), field(a).c_str(), &count, &length, v, &list, &rc), rc;
  };
  EXPECT_RC(0, add(cspadd, "G1", "A", 3, 1, "xyz"));
  EXPECT_RC(0, add(cspadd, "G2", "B", 4, 1, " A B"));
  EXPECT_EQ(list_text(list), "G2      : B       = A B;G1      : A       =xyz;");
  EXPECT_RC(2, add(cspadd, "G1", "A", 1, 1, "q"));
  EXPECT_RC(0, add(cspadv, "G1", "A", 2, 1, "uv"));
  EXPECT_RC(2, add(cspadv, "G1", "A", 1, 2, "uv"));
  EXPECT_RC(0, add(cspadd, "G1", "C", 4, 1, "cccc"));
  EXPECT_EQ(list_text(list), "G2      : B       = A B;G1      : C       =cccc A       =xyzuv;");
  char names[32] = {};
  cspgta(field("G1").c_str(), &list, &n, names, &rc);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(s(names, 16), field("C") + field("A"));
  rc = 99;
  cspgta(field("G9").c_str(), &list, &n, names, &rc);
  EXPECT_EQ(rc, 99);
  cspgtg(&list, &n, names, &rc);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(rc, 99);  // left unchanged on success
  EXPECT_EQ(s(names, 16), field("G2") + field("G1"));
  cspgtgn(&list, &n, &rc);
  EXPECT_EQ(n, 2);
  char value[8] = {};
  cspgtv(field("").c_str(), field("A").c_str(), &list, value, &rc);  // any group
  EXPECT_EQ(s(value, 5), "xyzuv");
  int second = 2, zero = 0;
  cspgtvn(field("G2").c_str(), field("B").c_str(), &list, &second, value, &rc);
  EXPECT_EQ(value[0], 'B');
  cspgtvn(field("G2").c_str(), field("B").c_str(), &list, &zero, value, &rc);
  EXPECT_EQ(value[0], ' ');
  EXPECT_RC(0, rc);
  cspgtn(field("G1").c_str(), field("").c_str(), &list, &n, &rc);
  EXPECT_EQ(n, 9);  // 4 + 5 values
  cspgtl(field("G1").c_str(), field("A").c_str(), &list, &n, &rc);
  EXPECT_EQ(n, 5);
  EXPECT_RC(1, (cspgtn(field("G9").c_str(), field("A").c_str(), &list, &n, &rc), rc));
  EXPECT_EQ(n, 0);
  EXPECT_RC(0, (cspsvdl(field("G1").c_str(), field("A").c_str(), &list, &zero, "z", &rc), rc));
  EXPECT_RC(1, (cspsvdl(field("G1").c_str(), field("A").c_str(), &list, &zero, "z", &rc), rc));
  cspdla(field("G2").c_str(), field("B").c_str(), &list, &rc);  // its last attribute
  EXPECT_EQ(list_text(list), "G1      : C       =cccc A       =xy uv;");
  EXPECT_RC(1, (cspdla(field("G2").c_str(), field("B").c_str(), &list, &rc), rc));
  cspdlg(field("G1").c_str(), &list, &rc);
  EXPECT_EQ(list, nullptr);
  EXPECT_RC(1, (cspgtg(&list, &n, names, &rc), rc));
  EXPECT_RC(1, (cspdlg(field("G1").c_str(), &list, &rc), rc));
  EXPECT_EQ(cspcms("ab\xff", "ab\x01", 3), 1 - 255);
  EXPECT_EQ(cspcms("abc", "abd", 2), 0);
  EXPECT_EQ(cspcms("a", "b", 0), 0);
}

TEST_F(KeyedFileTest, TableOpen) {
  std::string r1 = record_bytes({kSizeA}), r2 = record_bytes({kEnd}), r3 = record_bytes({kSizeA});
  std::string replaced = record_bytes({kSizeB}), newer = record_bytes({kSizeB});
  int a = static_cast<int>(r1.size()), b = a + static_cast<int>(r2.size());
  int c = b + static_cast<int>(r3.size()), d = c + a + static_cast<int>(replaced.size());
  replaced.replace(4, 4, be32(d));
  write_file(path_, r1 + r2 + r3 + r1 + replaced + newer);
  ASSERT_RC(0, open_table(path_, key_, &file_));
  auto element = [&](const char *key) {
    keyed::TableElement probe{reinterpret_cast<unsigned char *>(const_cast<char *>(key)), nullptr, 0};
    int error = 0;
    auto *e = static_cast<keyed::TableElement *>(file_->Index->search(file_->Index, &probe, &error));
    std::vector<int> positions;
    for (int i = 0; e && i < e->count; ++i) positions.push_back(e->positions[i]);
    return positions;
  };
  EXPECT_EQ(element("0100"), (std::vector<int>{0, b, c}));
  EXPECT_EQ(element("    "), (std::vector<int>{a}));
  EXPECT_EQ(element("0200"), (std::vector<int>{d}));
  KeyedGroup *list = make_list({kSizeA});
  int rc = -1;
  EXPECT_RC(5, (cspput(&file_, &list, &rc), rc));
  cspfre(&list);
  EXPECT_RC(6, open_table(path_, key_, &file_));
  int elements = 0, error = 0;
  for (void *e; (e = file_->Index->delete_minimum(file_->Index, &error)); ++elements) keyed::fre_str(e);
  EXPECT_EQ(elements, 3);
  ASSERT_RC(0, close_keyed(&file_));
  EXPECT_EQ(capture_stdout([&] { EXPECT_RC(3, open_table(path_, KeyDesc{{"PIPE", "SIZE", 2}}, &file_)); }),
            " key length is wrong \n");
  EXPECT_EQ(file_, nullptr);
  EXPECT_RC(4, open_table(dir_.path("absent"), key_, &file_));
  write_file(path_, "");
  ASSERT_RC(0, open_table(path_, key_, &file_));
  EXPECT_EQ(file_->Index->state->root, nullptr);
}

}  // namespace
}  // namespace pcs::test
