// Catalog records: exact bytes of the writer against hand-built records,
// the reader over dense, sparse, deleted and damaged records, rewriting in
// place, short writes and cspgkey.
#include <climits>

#include "tests/catalog/catalog_files.h"

namespace pcs::test_catalog {
using namespace pcs::catalog;
namespace {

class CatalogRecord : public CatalogTest {};

const Part kSixtyOne = {{"PIPE", {{"SIZE", 1, 8, "ABCDEFGH"}}}};

TEST_F(CatalogRecord, WriterMatchesHandBuiltBytes) {
  const Part second = {{"A", {{"X", 3, 24, std::string(72, 'x')}, {"Y", 1, 4, be32(7)}}},
                       {"B", {{"Z", 2, 8, "12345678abcdefgh"}}}};
  const std::string expected = catalog_record(kSixtyOne) + catalog_record(second);
  Stream s(dir_.path("c.cat"), "w+b");
  int rc = -1;
  PartRecord *one = make_part(kSixtyOne), *two = make_part(second);
  EXPECT_EQ(cspgwrt(one, s.f, &rc), 61);
  EXPECT_RC(0, rc);
  EXPECT_EQ(cspgwrtf(&two, &s.f, &rc), static_cast<int>(expected.size()) - 61);
  std::fflush(s.f);
  EXPECT_EQ(read_file(dir_.path("c.cat")), expected);
  cspgfre(one);
  cspgfre(two);

  int length = 0;
  PartRecord *back = cspgetrc(s.f, 61, &length, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(length, static_cast<int>(expected.size()) - 61);
  EXPECT_EQ(values_of(back, "A", "X"), std::string(72, 'x'));
  EXPECT_EQ(values_of(back, "B", "Z"), "12345678abcdefgh");
  cspgwrt(back, s.f, &rc);  // read and written again: the same bytes
  std::fflush(s.f);
  EXPECT_EQ(read_file(dir_.path("c.cat")), expected + expected.substr(61));
  cspgfre(back);
}

TEST_F(CatalogRecord, ReaderFollowsStoredOffsets) {
  // Group count at 20 instead of 12, the groups' table in reverse name
  // order, filler between the parts; an empty group A.
  std::string rec = be32(117) + be32(0) + be32(20) + std::string(8, '?') + be32(2) + be32(100) +
                    be32(70) + std::string(8, '?');
  rec += field("X") + be32(1) + be32(4) + "xxxx" + std::string(10, '?');  // 40
  rec += field("A") + be32(0) + std::string(18, '?');                      // 70
  rec += field("C") + be32(1) + be32(40) + "\n";                           // 100
  ASSERT_EQ(rec.size(), 117u);
  write_file(dir_.path("c.cat"), rec);
  Stream s(dir_.path("c.cat"), "rb");
  int length = 0, rc = -1;
  PartRecord *part = cspgetrc(s.f, 0, &length, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(part->GroupCount, 1);  // a group without attributes is not kept
  EXPECT_EQ(values_of(part, "C", "X"), "xxxx");
  cspgfre(part);

  write_file(dir_.path("e.cat"), be32(17) + be32(0) + be32(12) + be32(0) + "\n");
  Stream e(dir_.path("e.cat"), "rb");
  part = cspgetrc(e.f, 0, &length, &rc);
  ASSERT_RC(0, rc);
  EXPECT_EQ(part->GroupCount, 0);
  cspgfre(part);
  rc = 77;
  EXPECT_EQ(cspgwrt(part = make_part({}), e.f, &rc), 0);  // nothing to write
  EXPECT_EQ(rc, 77);
  cspgfre(part);
}

TEST_F(CatalogRecord, DeleteAndRewriteInPlace) {
  const std::string path = dir_.path("c.cat");
  write_file(path, catalog_record(kSixtyOne) + catalog_record(kSixtyOne));
  Stream s(path, "r+b");
  int rc = -1, length = 0;
  EXPECT_RC(0, (cspdelrc(s.f, 61, &rc), rc));
  EXPECT_EQ(read_file(path), catalog_record(kSixtyOne) + catalog_record(kSixtyOne, 1));
  EXPECT_EQ(cspgetrc(s.f, 61, &length, &rc), nullptr);
  EXPECT_RC(2, rc);
  EXPECT_EQ(length, 61);
  cspdelrc(s.f, 5, &rc);  // not a record: nothing written
  EXPECT_RC(1, rc);

  // Same length: the record is live again with the new value.
  const Part same = {{"PIPE", {{"SIZE", 1, 8, "12345678"}}}};
  PartRecord *part = make_part(same);
  int at = 61;
  EXPECT_EQ(csgrewrt(&at, &part, s.f, &rc), 61);
  EXPECT_RC(0, rc);
  cspgfre(part);
  std::fflush(s.f);
  EXPECT_EQ(read_file(path), catalog_record(kSixtyOne) + catalog_record(same));

  // Longer: refused, reported, nothing written; shorter: the old tail stays.
  const std::string before = read_file(path);
  part = make_part({{"PIPE", {{"SIZE", 2, 8, "1234567812345678"}}}});
  host::clear_reports();
  EXPECT_EQ(csgrewrt(&at, &part, s.f, &rc), 0);
  EXPECT_RC(PCS_SHORT_WRITE, rc);
  ASSERT_EQ(host::reports().size(), 1u);
  EXPECT_EQ(host::reports()[0].code, PCS_SHORT_WRITE);
  std::fflush(s.f);
  EXPECT_EQ(read_file(path), before);
  at = -4;
  EXPECT_RC(PCS_SHORT_WRITE, (csgrewrt(&at, &part, s.f, &rc), rc));
  cspgfre(part);
  const Part shorter = {{"PIPE", {{"SIZE", 1, 4, "wxyz"}}}};
  part = make_part(shorter);
  at = 0;
  // A shorter record keeps the old length, zero-padded before its newline.
  EXPECT_EQ(csgrewrt(&at, &part, s.f, &rc), 61);
  cspgfre(part);
  std::fflush(s.f);
  const std::string record = catalog_record(shorter);
  EXPECT_EQ(read_file(path).substr(0, 61),
            be32(61) + record.substr(4, 52) + std::string(4, '\0') + "\n");
  EXPECT_FALSE(file_exists(path + "-journal"));
}

TEST_F(CatalogRecord, DamagedFilesAreReadFailures) {
  const std::string good = catalog_record(kSixtyOne) + catalog_record(sample_part("ELBOW", 2.5, 3));
  const std::string path = dir_.path("c.cat");
  for (size_t cut = 0; cut < good.size(); ++cut) {
    write_file(path, good.substr(0, cut));
    Stream s(path, "rb");
    for (int at : {0, 61}) {
      int length = -1, rc = -1;
      PartRecord *part = cspgetrc(s.f, at, &length, &rc);
      const bool whole = at == 0 ? cut >= 61 : false;
      EXPECT_EQ(part != nullptr, whole) << "cut " << cut << " at " << at;
      EXPECT_RC(whole ? 0 : 1, rc);
      if (!whole) { EXPECT_EQ(length, 0); }
      if (part) cspgfre(part);
    }
  }
  // Words overwritten: the length, the group-count offset, the group count,
  // a group offset, an attribute count and a value count.
  for (int word : {0, 8, 12, 16, 28, 44})
    for (int value : {0, -1, INT_MAX, 4, 62, 1 << 20}) {
      std::string bad = good;
      bad.replace(static_cast<size_t>(word), 4, be32(value));
      write_file(path, bad);
      Stream s(path, "rb");
      int length = -1, rc = -1;
      PartRecord *part = cspgetrc(s.f, 0, &length, &rc);
      EXPECT_EQ(part != nullptr, rc == 0) << word << " " << value;
      if (part) cspgfre(part);
      if (word == 0 && value != 62) { EXPECT_EQ(length, 0) << value; }
    }
}

// Records from 60 bytes to 8 KiB, short ones first: each is read whole
// whatever was read before it, also when it ends the file, and one cut by a
// byte is a read failure.
TEST_F(CatalogRecord, RecordsOfEveryLengthReadWhole) {
  const int counts[] = {1, 300, 1, 700, 2, 1100, 1, 2000, 1};
  const std::string path = dir_.path("c.cat");
  std::string bytes;
  for (int count : counts) {
    const int at = static_cast<int>(bytes.size());
    const Part part = sample_part("P" + std::to_string(count), 1.5, count);
    bytes += catalog_record(part);
    for (size_t cut : {size_t{0}, size_t{1}}) {
      write_file(path, bytes.substr(0, bytes.size() - cut));
      Stream s(path, "rb");
      int length = -1, rc = -1;
      PartRecord *read = cspgetrc(s.f, at, &length, &rc);
      ASSERT_EQ(read != nullptr, cut == 0) << count;
      EXPECT_RC(cut == 0 ? 0 : 1, rc);
      if (!read) continue;
      EXPECT_EQ(length, static_cast<int>(bytes.size()) - at);
      EXPECT_EQ(values_of(read, "DIMS", "SIZES"), part[0].attrs[1].values) << count;
      cspgfre(read);
    }
  }
}

// Records of one shape with their own values, read in turn (the walk of
// the first serves the others), and one of the same size whose value
// count is damaged.
TEST_F(CatalogRecord, RecordsOfOneShapeReadTheirOwnValues) {
  const std::string path = dir_.path("c.cat");
  std::vector<Part> parts;
  std::string bytes;
  for (double size : {1.5, 2.5, 3.5}) {
    parts.push_back(sample_part("P" + std::to_string(static_cast<int>(size)), size, 3));
    bytes += catalog_record(parts.back());
  }
  const size_t one = bytes.size() / 3;
  std::string damaged = bytes.substr(0, one);
  damaged.replace(damaged.find(field("SIZES")) + 8, 4, be32(1 << 20));
  write_file(path, bytes + damaged);
  Stream s(path, "rb");
  for (size_t i : {0, 1, 2, 3, 0}) {
    int length = -1, rc = -1;
    PartRecord *read = cspgetrc(s.f, static_cast<int>(i * one), &length, &rc);
    EXPECT_EQ(read != nullptr, i < 3) << i;
    if (!read) continue;
    if (i < 3) EXPECT_EQ(values_of(read, "DIMS", "SIZES"), parts[i][0].attrs[1].values) << i;
    cspgfre(read);
  }
}

TEST_F(CatalogRecord, ShortWritesGiveTheirCodes) {
  PartRecord *part = make_part(sample_part("TEE", 1.0, 2));
  const std::string expected = catalog_record(sample_part("TEE", 1.0, 2));
  std::vector<int> codes;
  for (int nth = 1;; ++nth) {
    for (size_t keep : {size_t{0}, size_t{3}}) {
      Stream s(dir_.path("w.cat"), "w+b");
      io::test_reset();
      io::test_fail_write(nth, keep);
      host::clear_reports();
      int rc = -1;
      int written = cspgwrt(part, s.f, &rc);
      if (io::test_injected() == 0) {
        EXPECT_RC(0, rc);
        EXPECT_EQ(written, static_cast<int>(expected.size()));
        cspgfre(part);
        EXPECT_EQ(codes.front(), PCS_SHORT_WRITE);  // the header
        EXPECT_EQ(codes.back(), PCS_SHORT_WRITE);   // the closing newline
        EXPECT_NE(std::find(codes.begin(), codes.end(), 4), codes.end());
        return;
      }
      EXPECT_TRUE(rc == PCS_SHORT_WRITE || rc == 4) << rc;
      EXPECT_LE(written, static_cast<int>(expected.size()));
      ASSERT_EQ(host::reports().size(), 1u);
      if (keep == 0) codes.push_back(rc);
    }
  }
}

TEST_F(CatalogRecord, KeyScanCollectsMatchingValues) {
  const std::string path = dir_.path("c.cat");
  write_file(path, catalog_record(sample_part("A", 1, 2)) + catalog_record(sample_part("B", 2, 2), 1) +
                       catalog_record(kSixtyOne) + catalog_record(sample_part("C", 3, 3)) +
                       catalog_record(sample_part("D", 4, 2)) + be32(0) + be32(0));
  Stream s(path, "rb");
  int stack = 0, rc = -1, size = 8, count = 0;
  gusini(&size, &stack, &rc);
  QuietErrors quiet;  // the record without the attribute is reported
  EXPECT_RC(0, (cspgkey(&s.f, &size, field("PART").c_str(), field("NAME").c_str(), &stack, &rc), rc));
  gusinf(&stack, &size, &count, &rc);
  ASSERT_EQ(count, 3);  // A, C, D: B is deleted; the zero length ends the scan
  char name[8];
  for (int i = 1; i <= 3; ++i) {
    gusrea(&stack, &i, name, &rc);
    EXPECT_EQ(std::string(name, 8), field(std::string(1, "ACD"[i - 1])));
  }
  size = 12;
  cspgkey(&s.f, &size, field("DIMS").c_str(), field("SIZES").c_str(), &stack, &rc);
  gusinf(&stack, &size, &count, &rc);
  EXPECT_EQ(count, 4);  // C only: 3 values of 4 bytes
  size = 5;
  EXPECT_RC(0, (cspgkey(&s.f, &size, field("DIMS").c_str(), field("SIZES").c_str(), &stack, &rc), rc));
  gusend(&stack, &rc);
}

// Records laid into memory for bulk appends: the bytes cspgwrt appends,
// the flag word set for a deleted record, nothing laid without room or past
// the 2^31 offsets an index holds.
TEST_F(CatalogRecord, LaidRecordsMatchHandBuiltBytes) {
  const Part two = {{"B", {{"Z", 2, 8, "12345678abcdefgh"}}}, {"A", {{"Y", 1, 4, be32(7)}}}};
  PartRecord *part = make_part(two), *empty = nullptr;
  int rc = -1;
  cspgcre(&empty, &rc);
  const std::string live = catalog_record({{"A", {{"Y", 1, 4, be32(7)}}}, {"B", {{"Z", 2, 8, "12345678abcdefgh"}}}});
  const long long size = static_cast<long long>(live.size());
  struct Case {
    PartRecord *record;
    int deleted;
    long long at, room;
    long long length;
    int rc;
    std::string laid;  // "" when nothing is laid
  } cases[] = {
      {part, 0, 0, 200, size, 0, live},
      {part, 1, 1000, 200, size, 0, live.substr(0, 4) + be32(1) + live.substr(8)},
      {part, 0, 0, size - 1, size, 0, ""},
      {part, 0, INT32_MAX - size, 200, size, 0, live},
      {part, 0, INT32_MAX - size + 1, 200, size, PCS_SHORT_WRITE, ""},
      {empty, 0, 0, 200, 0, 0, ""},
  };
  for (const Case &c : cases) {
    std::string out(200, '\0');
    rc = -1;
    const long long length =
        cspgenc(c.record, c.deleted, c.at, reinterpret_cast<unsigned char *>(out.data()), c.room, &rc);
    EXPECT_EQ(length, c.length) << c.at;
    EXPECT_RC(c.rc, rc);
    EXPECT_EQ(out.substr(0, c.laid.size()), c.laid) << c.at;
    EXPECT_EQ(out.find_first_not_of('\0', c.laid.size()), std::string::npos) << c.at;
  }
  cspgfre(part);
  cspgfre(empty);
}

// The attributes of record bytes in memory, in directory order, with the
// checks of cspgetrc, also for records shaped like the one before.
TEST_F(CatalogRecord, VisitWalksRecordBytes) {
  const std::string rec = catalog_record({{"B", {{"Z", 2, 3, "abcdef"}, {"X", 1, 4, be32(9)}}}, {"A", {{"Y", 1, 1, "y"}}}}, 1);
  std::vector<std::string> seen;
  PcsAttributeVisit note = [](void *to, const char *group, const char *attribute, int count, int length,
                              const unsigned char *values) {
    static_cast<std::vector<std::string> *>(to)->push_back(
        std::string(group, 8) + std::string(attribute, 8) + std::to_string(count) + "x" + std::to_string(length) +
        "=" + std::string(reinterpret_cast<const char *>(values), static_cast<size_t>(count * length)));
    return count == 9 || std::memcmp(values, "STOP", std::min(4, count * length)) == 0 ? 5 : 0;
  };
  const auto *bytes = reinterpret_cast<const unsigned char *>(rec.data());
  EXPECT_EQ(cspgvisit(bytes, static_cast<long long>(rec.size()), note, &seen), 0);
  EXPECT_EQ(seen, (std::vector<std::string>{field("B") + field("Z") + "2x3=abcdef",
                                             field("B") + field("X") + "1x4=" + be32(9),
                                             field("A") + field("Y") + "1x1=y"}));
  std::string counted = rec;
  counted.replace(counted.find(field("Y")) + 8, 4, be32(9));  // 9 values of 1 byte: past the record
  std::string stopped = catalog_record({{"A", {{"Y", 9, 1, "123456789"}}}});
  const std::pair<std::string, int> cases[] = {
      {rec.substr(0, 15), 1}, {rec.substr(0, rec.size() - 8), 1}, {counted, 1}, {stopped, 5}};
  for (const auto &[record, result] : cases) {
    seen.clear();
    EXPECT_EQ(cspgvisit(reinterpret_cast<const unsigned char *>(record.data()), static_cast<long long>(record.size()),
                        note, &seen),
              result)
        << record.size();
  }
  EXPECT_EQ(cspgvisit(nullptr, 0, note, &seen), 1);
  // Values change, the shape stays: visited as walked, stopped where the
  // visitor says.
  const auto shaped = [&](const std::string &z, const std::string &y) {
    return catalog_record({{"B", {{"Z", 2, 3, z}, {"X", 1, 4, be32(9)}}}, {"A", {{"Y", 1, 1, y}}}}, 1);
  };
  const std::pair<std::string, size_t> same_shape[] = {
      {shaped("abcdef", "y"), 3}, {shaped("uvwxyz", "q"), 3}, {shaped("STOPxx", "q"), 1},
      {shaped("uvwxyz", "r"), 3}};
  for (const auto &[record, visited] : same_shape) {
    seen.clear();
    const int result = cspgvisit(reinterpret_cast<const unsigned char *>(record.data()),
                                 static_cast<long long>(record.size()), note, &seen);
    EXPECT_EQ(result, visited == 3 ? 0 : 5);
    ASSERT_EQ(seen.size(), visited);
    EXPECT_EQ(seen[0], field("B") + field("Z") + "2x3=" + record.substr(record.find(field("Z")) + 16, 6));
    if (visited == 3) EXPECT_EQ(seen[2].back(), record[record.find(field("Y")) + 16]);
  }
  // A record of that size whose counts differ is walked, and refused.
  seen.clear();
  EXPECT_EQ(cspgvisit(reinterpret_cast<const unsigned char *>(counted.data()),
                      static_cast<long long>(counted.size()), note, &seen),
            1);
}

}  // namespace
}  // namespace pcs::test_catalog
