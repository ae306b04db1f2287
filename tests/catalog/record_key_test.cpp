// Keys straight from record bytes (record_key) against hand-built records,
// against the part record's way (part_record_key) and against a reader
// that replays the steps of a record of the same shape (RecordKeyReader),
// damaged records included: all must give the same verdict, key and error
// reports.
#include "catalog/catalog.h"
#include "maintenance/maintenance.h"
#include "tests/maintenance/maintenance_util.h"

namespace pcs::test_maint {
using namespace pcs::catalog;
namespace {

using RecordKey = MaintTest;
using Fields = std::vector<std::pair<std::string, std::string>>;

struct Built {
  bool ok;
  std::string key;
  std::vector<int> reports;
};

std::string sample();

enum class Way { kBytes, kPartRecord, kReader };

// The key by one way. The reader reads sample() first, so that a record of
// its shape is answered by replaying sample()'s steps.
Built build(Way way, const std::string &bytes, const Fields &fields,
            const std::vector<int> &widths, bool collapse = false) {
  void *names = description(fields);
  int key_length = 0;
  for (int w : widths) key_length += w;
  std::string key(static_cast<size_t>(key_length), ' ');
  RecordKeyReader reader(collapse, names, widths.data(), key_length);
  const std::string first = sample();
  reader.read(reinterpret_cast<const unsigned char *>(first.data()), first.size(), 0, key.data());
  key.assign(static_cast<size_t>(key_length), ' ');
  host::clear_reports();
  const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
  bool ok = false;
  if (way == Way::kBytes)
    ok = catalog::record_key(data, bytes.size(), collapse, names, widths.data(), key_length,
                             key.data());
  else if (way == Way::kPartRecord)
    ok = catalog::part_record_key(data, bytes.size(), collapse, names, widths.data(), key_length,
                                  key.data());
  else
    ok = reader.read(data, bytes.size(), 0, key.data());
  std::vector<int> codes;
  for (const auto &report : host::reports()) codes.push_back(report.code);
  free_key_description(names);
  return {ok, key, codes};
}

// All ways agree; the record bytes' way's result.
Built both(const std::string &bytes, const Fields &fields, const std::vector<int> &widths,
           bool collapse = false) {
  const Built fast = build(Way::kBytes, bytes, fields, widths, collapse);
  for (Way way : {Way::kPartRecord, Way::kReader}) {
    const Built other = build(way, bytes, fields, widths, collapse);
    EXPECT_EQ(fast.ok, other.ok);
    if (fast.ok && other.ok) {
      EXPECT_EQ(fast.key, other.key);
      EXPECT_EQ(fast.reports, other.reports);
    }
  }
  return fast;
}

std::string sample() {
  return catalog_record({{"PARTDEF", {{"CATEGORY", 1, 6, "ELBOW "}, {"SIZE", 3, 2, "4 4 2 "}}},
                         {"PARTNUM", {{"PARTNO", 1, 12, "P-1234567890"}}}});
}

TEST_F(RecordKey, FieldsCutPaddedAndCollapsed) {
  const Fields fields = {{"PARTNUM", "PARTNO"}, {"PARTDEF", "CATEGORY"}, {"PARTDEF", "SIZE"}};
  Built b = both(sample(), fields, {8, 8, 4});
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.key, "P-123456ELBOW   4 4 ");
  EXPECT_TRUE(b.reports.empty());
  b = both(sample(), fields, {8, 8, 4}, true);
  EXPECT_EQ(b.key, "P-123456ELBOW   4 2 ");
  b = both(sample(), fields, {8, 0, 6}, true);
  EXPECT_EQ(b.key, "P-1234564 2 2 ");
  // A field that starts past the key is not looked up at all.
  b = both(sample(), {{"PARTNUM", "PARTNO"}, {"NOGROUP", "X"}}, {4, 0});
  EXPECT_EQ(b.key, "P-12");
  EXPECT_TRUE(b.reports.empty());
}

TEST_F(RecordKey, MissingFieldsAreBlankAndReported) {
  Built b = both(sample(), {{"PARTNUM", "NONE"}, {"NOGROUP", "PARTNO"}, {"PARTNUM", "PARTNO"}},
                 {3, 3, 3});
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.key, "      P-1");
  EXPECT_EQ(b.reports, (std::vector<int>{PCS_NO_ATTR, PCS_NO_GROUP}));
  // A group without attributes is no group.
  b = both(catalog_record({{"EMPTY", {}}, {"PARTNUM", {{"PARTNO", 1, 2, "AB"}}}}),
           {{"EMPTY", "X"}}, {2});
  EXPECT_EQ(b.key, "  ");
  EXPECT_EQ(b.reports, (std::vector<int>{PCS_NO_GROUP}));
}

TEST_F(RecordKey, NamesMatchUpToTheirFirstZeroAndGroupsMerge) {
  const std::string group("AB\0xxxxx", 8), attribute("CD\0yyyyy", 8);
  const std::string bytes = catalog_record({{group, {{attribute, 1, 2, "V1"}}},
                                            {"AB", {{"EF", 1, 2, "V2"}}},
                                            {group, {{"GH", 1, 2, "V3"}}}});
  const Built b = both(bytes,
                       {{std::string("AB\0zzzzz", 8), std::string("CD\0wwwww", 8)},
                        {"AB", "EF"},
                        {std::string("AB\0", 3), "GH"}},
                       {2, 2, 2});
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.key, "V1V2V3");
  EXPECT_TRUE(b.reports.empty());
  // The same attribute twice in groups of one name: the record is refused.
  const std::string twice = catalog_record(
      {{group, {{attribute, 1, 2, "V1"}}},
       {std::string("AB\0qqqqq", 8), {{std::string("CD\0q", 4), 1, 2, "V2"}}}});
  EXPECT_FALSE(both(twice, {{"AB", "CD"}}, {2}).ok);
}

TEST_F(RecordKey, ManyAttributesTakeThePartRecordWay) {
  std::vector<Attr> attrs;
  for (int i = 0; i < 60; ++i) {
    std::string name = "A";  // appended, not "A" + ...: gcc 12 warns falsely on that
    name += std::to_string(i);
    attrs.push_back({name, 1, 3, num(i, 3)});
  }
  const std::string bytes = catalog_record({{"MANY", attrs}});
  Built b = both(bytes, {{"MANY", "A59"}, {"MANY", "A0"}}, {3, 3});
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.key, " 59  0");
  attrs.push_back({"A7", 1, 3, "DUP"});
  EXPECT_FALSE(both(catalog_record({{"MANY", attrs}}), {{"MANY", "A0"}}, {3}).ok);
}

TEST_F(RecordKey, DamagedRecords) {
  const Fields fields = {{"PARTNUM", "PARTNO"}, {"PARTDEF", "SIZE"}};
  const std::string good = sample();
  // Every truncation and every changed byte: the two ways agree.
  for (size_t n = 0; n < good.size(); ++n) both(good.substr(0, n), fields, {6, 4});
  for (size_t i = 0; i < good.size(); ++i)
    for (unsigned char x : {0x01, 0x80, 0xFF}) {
      std::string bad = good;
      bad[i] = static_cast<char>(bad[i] ^ x);
      both(bad, fields, {6, 4}, true);
    }
  // Offsets outside the record, negative counts, a count of 0.
  auto with = [&](size_t at, int value) {
    std::string bad = good;
    bad.replace(at, 4, be32(value));
    return bad;
  };
  EXPECT_FALSE(both(with(8, 5000), fields, {6, 4}).ok);       // group count offset
  EXPECT_FALSE(both(with(12, -1), fields, {6, 4}).ok);        // group count
  EXPECT_FALSE(both(with(16, -8), fields, {6, 4}).ok);        // group offset
  EXPECT_FALSE(both(with(24 + 8, 1 << 30), fields, {6, 4}).ok);  // attribute count
  const size_t attribute = 24 + 12 + 8;                        // first attribute
  EXPECT_FALSE(both(with(attribute + 8, 0), fields, {6, 4}).ok);   // value count
  EXPECT_FALSE(both(with(attribute + 12, -2), fields, {6, 4}).ok);  // value length
  EXPECT_FALSE(both(with(attribute + 12, 1 << 20), fields, {6, 4}).ok);
  // n groups that are one group without attributes: ten need more bytes
  // than the record holds, three fit.
  auto same_group = [](int n) {
    std::string bytes = be32(0) + be32(0) + be32(12) + be32(n);
    for (int i = 0; i < n; ++i) bytes += be32(16 + 4 * n);
    bytes += field("G") + be32(0);
    return bytes.replace(0, 4, be32(static_cast<int>(bytes.size())));
  };
  EXPECT_FALSE(both(same_group(10), {{"G", "A"}}, {2}).ok);
  const Built b = both(same_group(3), {{"G", "A"}}, {2});
  EXPECT_TRUE(b.ok);
  EXPECT_EQ(b.reports, (std::vector<int>{PCS_NO_GROUP}));
}

}  // namespace
}  // namespace pcs::test_maint
