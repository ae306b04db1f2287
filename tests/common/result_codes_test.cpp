// Every small code of every family table, each produced by a case of its
// own; and the entry point guard's mapping of exceptions.
#include <functional>
#include <map>
#include <stdexcept>

#include "common/fileio.h"
#include "common/report.h"
#include "tests/catalog/catalog_files.h"
#include "tests/keyed/keyed_fixture.h"

namespace pcs::test {
namespace {

using test_catalog::Catalog;
using test_catalog::sample_part;
using test_catalog::Stream;

int failing_reader(const char *, const int *, void *, const int *, int, int, KeyRecord *, int *) {
  return 1;
}

class ResultCodes : public KeyedTest {
 protected:
  void SetUp() override {
    KeyedTest::SetUp();
    host::suppress_reports(true);
    std::string bytes;
    std::vector<std::pair<std::string, int>> entries;
    for (const char *name : {"ELBOW", "ELBOW", "PIPE", "TEE"}) {
      entries.push_back({name, static_cast<int>(bytes.size())});
      bytes += catalog_record(sample_part(name, 1.0), name[0] == 'T');
    }
    tee_ = entries.back().second;
    write_file(cat_, bytes);
    write_file(idx_, index_bytes(8, entries));
  }
  // csgbldx over the catalog by PART/NAME of `width` bytes.
  int build(int fields, int width, const std::string &index) {
    int rc = -1;
    csgbldx(&fields, field("PART").c_str(), field("NAME").c_str(), &width, cat_.c_str(),
            index.c_str(), &rc);
    return rc;
  }
  // csbndx over a text file of lines, keyed by column 1 of `width`.
  int build_text(const std::string &lines, int width, KeyReaderFn reader = csrikr) {
    write_file(dir_.path("text"), lines);
    int one = 1, column = 1, rc = -1;
    csbndx(csgrc, reader, &one, &column, &width, dir_.path("text").c_str(), idx_.c_str(), &rc);
    return rc;
  }
  // csgikey over `count` records of `path` by PART/NAME.
  int sort_keys(const std::string &path, int count) {
    std::string names = field("PART") + field("NAME");
    char *fields[] = {names.data()};
    const int one = 1, width = 8;
    std::vector<std::string> buffers(static_cast<size_t>(count), std::string(9, '\0'));
    std::vector<KeyRecord> keys(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) keys[i] = {0, buffers[i].data()};
    return csgikey(path.c_str(), &one, fields, &width, count, nullptr, keys.data());
  }
  int with_allocation_failure(const std::function<int()> &call) {
    host::fail_allocation(1, true);
    const int rc = call();
    host::clear_allocation_failure();
    return rc;
  }

  std::string cat_ = dir_.path("c.cat"), idx_ = dir_.path("i.idx");
  int tee_ = 0;
};

TEST_F(ResultCodes, EveryCodeOfEveryFamily) {
  const std::string elbow = field("ELBOW"), none = field("NONE");
  const std::map<std::string, std::function<int()>> cases = {
      {"PCS_RECORD_UNREADABLE", [&] { int n = 0, rc = -1; Stream s(cat_, "rb"); cspgetrc(s.f, 3, &n, &rc); return rc; }},
      {"PCS_RECORD_IS_DELETED", [&] { int n = 0, rc = -1; Stream s(cat_, "rb"); cspgetrc(s.f, tee_, &n, &rc); return rc; }},
      {"PCS_RECORD_SCAN_NO_MEMORY", [&] {
         Stream s(cat_, "rb");
         int size = 8, stack = 0, rc = -1;
         gusini(&size, &stack, &rc);
         with_allocation_failure([&] { cspgkey(&s.f, &size, field("PART").c_str(), field("NAME").c_str(), &stack, &rc); return rc; });
         int ended = 0;
         gusend(&stack, &ended);
         return rc;
       }},
      {"PCS_RECORD_GROUP_SHORT_WRITE", [&] {
         PartRecord *part = test_catalog::make_part(sample_part("X", 1.0));
         Stream out(dir_.path("w.cat"), "w+b");
         int rc = -1;
         io::test_fail_write(2);
         cspgwrt(part, out.f, &rc);
         io::test_reset();
         cspgfre(part);
         return rc;
       }},
      {"PCS_INDEX_NO_KEY", [&] { int c = 0, f = 0, rc = -1; Stream s(idx_, "rb"); csalku(&s.f, none.c_str(), &c, &f, &rc); return rc; }},
      {"PCS_INDEX_BAD_NUMBER", [&] { Catalog c(cat_, idx_); int n = 5, rc = -1; csgdnrc(&c.h, elbow.c_str(), &n, &rc); return rc; }},
      {"PCS_OPEN_NO_MEMORY", [&] { return with_allocation_failure([&] { Catalog c(cat_, idx_); return c.rc; }); }},
      {"PCS_OPEN_NO_CATALOG", [&] { return Catalog(dir_.path("none"), idx_).rc; }},
      {"PCS_OPEN_NO_INDEX", [&] { return Catalog(cat_, dir_.path("none")).rc; }},
      {"PCS_GET_NOT_FOUND", [&] { Catalog c(cat_, idx_); PartRecord *p; int rc; csgget(&c.h, none.c_str(), &p, &rc); return rc; }},
      {"PCS_GET_SEVERAL", [&] { Catalog c(cat_, idx_); PartRecord *p; int rc; csgget(&c.h, elbow.c_str(), &p, &rc); return rc; }},
      {"PCS_GET_UNREADABLE", [&] {
         Catalog c(cat_, idx_);
         PartRecord *p = nullptr;
         int rc = with_allocation_failure([&] { int r; csgget(&c.h, field("PIPE").c_str(), &p, &r); return r; });
         return rc;
       }},
      {"PCS_GET_DELETED", [&] { Catalog c(cat_, idx_); PartRecord *p; int rc; csgget(&c.h, field("TEE").c_str(), &p, &rc); return rc; }},
      {"PCS_GETM_UNREADABLE", [&] {
         Catalog c(cat_, idx_);
         int stack = 0, rc = -1;
         host::fail_stack_call(2, PCS_GUS_NO_MEMORY);  // the first push
         capture_stderr([&] { csggetm(&c.h, elbow.c_str(), &stack, &rc); });
         return rc;
       }},
      {"PCS_GETM_NOT_FOUND", [&] { Catalog c(cat_, idx_); int s = 0, rc; csggetm(&c.h, none.c_str(), &s, &rc); return rc; }},
      {"PCS_PUT_NOT_FOUND", [&] { Catalog c(cat_, idx_); int s = 0, rc; csgputip(&c.h, none.c_str(), &s, &rc); return rc; }},
      {"PCS_PUT_REFUSED", [&] {
         Catalog c(cat_, idx_);
         int size = 1, stack = 0, rc = -1, ended = 0;
         gusini(&size, &stack, &rc);
         csgputip(&c.h, elbow.c_str(), &stack, &rc);
         gusend(&stack, &ended);
         return rc;
       }},
      {"PCS_IKEY_UNREADABLE", [&] { return sort_keys(cat_, 9); }},
      {"PCS_IKEY_NO_FILE", [&] { return sort_keys(dir_.path("none"), 1); }},
      {"PCS_KEYED_NO_MEMORY", [&] { return with_allocation_failure([&] { return open_keyed(path_, key_, &file_); }); }},
      {"PCS_KEYED_DUPLICATE", [&] {
         const std::string r = record_bytes({{"PIPE", {{"SIZE", 1, 4, "0100"}}}});
         write_file(path_, r + r);
         return open_keyed(path_, key_, &file_);
       }},
      {"PCS_KEYED_KEY_SIZE", [&] { open_keyed(path_, key_, &file_, 0); int rc = put({{"PIPE", {{"SIZE", 1, 3, "010"}}}}); close_keyed(&file_); return rc; }},
      {"PCS_KEYED_NOT_FOUND", [&] { open_keyed(path_, key_, &file_, 0); int rc = test("0100"); close_keyed(&file_); return rc; }},
      {"PCS_KEYED_DAMAGED", [&] { write_file(path_, "{}\n"); return open_keyed(path_, key_, &file_); }},
      {"PCS_KEYED_IN_USE", [&] {
         KeyedFile *used = reinterpret_cast<KeyedFile *>(&file_);
         int rc = -1;
         capture_stdout([&] { rc = open_keyed(path_, key_, &used); });
         return rc;
       }},
      {"PCS_KEYED_DEAD", [&] {
         write_file(path_, record_bytes({{"PIPE", {{"SIZE", 1, 4, "0100"}}}}, -1));
         Stream s(path_, "rb");
         int at = 0, length = 0, rc = -1;
         KeyedGroup *list = nullptr;
         cspgtr(&s.f, &at, &length, &list, &rc);
         return rc;
       }},
      {"PCS_GROUP_NOT_FOUND", [&] { KeyedGroup *list = nullptr; int n = 0, rc = 0; cspgtgn(&list, &n, &rc); return rc; }},
      {"PCS_BUILD_NO_SOURCE", [&] { return build_text("", 1); }},
      {"PCS_BUILD_NO_KEY", [&] { return build(0, 8, idx_); }},
      {"PCS_BUILD_NO_MEMORY", [&] { return with_allocation_failure([&] { return build_text("A\n", 1); }); }},
      {"PCS_BUILD_READER_FAILED", [&] { return build_text("A\n", 1, failing_reader); }},
      {"PCS_BUILD_NOT_CREATED", [&] { return build(1, 8, dir_.path("none/i.idx")); }},
      {"PCS_BUILD_SHORT_WRITE", [&] { io::test_fail_write(1, 0, true); int rc = build(1, 8, idx_); io::test_reset(); return rc; }},
      {"PCS_BUILD_KEY_TOO_LONG", [&] { return build(1, PCS_KEY_MAX + 1, idx_); }},
      {"PCS_BUILD_KEY_TOO_WIDE", [&] { return build(1, 10000, idx_); }},
      {"PCS_BUILD_RUN_TOO_LONG", [&] {
         std::string lines;
         for (int i = 0; i < 10000; ++i) lines += "A\n";
         return build_text(lines, 1);
       }},
      {"PCS_NUMBER_TOO_WIDE", [&] { int value = 12345, width = 3, rc = -1; char f[3]; csai2a(&value, &width, f, &rc); return rc; }},
      {"PCS_KEYS_NO_FILE", [&] { int filled = 0; return csgia(dir_.path("none").c_str(), nullptr, nullptr, nullptr, 0, 0, nullptr, &filled); }},
      {"PCS_KEYS_UNREADABLE", [&] {
         write_file(dir_.path("bad.cat"), be32(99) + be32(0) + be32(12));
         KeyRecord record{0, nullptr};
         std::string key(2, '\0');
         record.Key = key.data();
         int width = 1, filled = 0;
         void *description = pparynew(0);
         int rc = csgia(dir_.path("bad.cat").c_str(), nullptr, description, &width, 1, 1, &record, &filled);
         pparyfre(description);
         return rc;
       }},
      {"PCS_COMPRESS_NO_MEMORY", [&] { int rc = -1; capture_stdout([&] { with_allocation_failure([&] { cscprs(cat_.c_str(), &rc); return rc; }); }); return rc; }},
      {"PCS_COMPRESS_FAILED", [&] { int rc = -1; capture_stdout([&] { cscprs(dir_.path("none").c_str(), &rc); }); return rc; }},
      {"PCS_TABLE_CANNOT_OPEN", [&] { int rc = -1; capture_stdout([&] { cstabl(dir_.path("none").c_str(), dir_.root().c_str(), &rc); }); return rc; }},
      {"PCS_TABLE_NO_HEADER", [&] {
         write_file(dir_.path("dump"), "no header here\n");
         int rc = -1;
         capture_stdout([&] { cstabl(dir_.path("dump").c_str(), dir_.root().c_str(), &rc); });
         return rc;
       }},
  };
#define PCS_CODE_ROW_(name, value, text) {#name, value},
  const std::pair<const char *, int> rows[] = {
      PCS_RECORD_FILE_CODES(PCS_CODE_ROW_) PCS_INDEX_CODES(PCS_CODE_ROW_)
      PCS_ACCESS_CODES(PCS_CODE_ROW_) PCS_KEYED_CODES(PCS_CODE_ROW_)
      PCS_GROUP_ACCESS_CODES(PCS_CODE_ROW_) PCS_BUILD_CODES(PCS_CODE_ROW_)
      PCS_KEY_READER_CODES(PCS_CODE_ROW_) PCS_COMPRESS_CODES(PCS_CODE_ROW_)
      PCS_TABLE_TOOL_CODES(PCS_CODE_ROW_)};
#undef PCS_CODE_ROW_
  for (const auto &[name, value] : rows) {
    auto produce = cases.find(name);
    if (produce == cases.end()) {
      ADD_FAILURE() << "no case produces " << name;
      continue;
    }
    EXPECT_EQ(produce->second(), value) << name;
    if (file_) close_keyed(&file_);
  }
}

TEST_F(ResultCodes, GuardMapsExceptions) {
  int rc = 0;
  guarded(&rc, PCS_KEYED_NO_MEMORY, [] { throw std::bad_alloc(); });
  EXPECT_RC(PCS_KEYED_NO_MEMORY, rc);
  guarded(&rc, PCS_KEYED_NO_MEMORY, [] { throw std::runtime_error("broken"); });
  EXPECT_RC(PCS_INTERNAL_ERROR, rc);
}

}  // namespace
}  // namespace pcs::test
