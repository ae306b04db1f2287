// The module header as the host's loader reads it from the loaded library,
// checked field by field at the offsets of docs/formats.md, and the lazy
// binding of host services through a binder in the binder cell.
#include <dlfcn.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_model.h"
#include "include/pcs.h"
#include "tests/support/support.h"

namespace {

using Bytes = const unsigned char *;

// Offsets of the header with 8-byte addresses.
constexpr size_t kExports = 136, kExportSize = 24, kRecordSize = 72;
constexpr size_t kBinderCell = 96, kUnboundCell = 120, kSlot = 0, kFlag = 8, kName = 12;

const char kImports[] =
    "pr0ini pu3cnam pu3catn pr0end pladata pr0vws sufscs sucsfs pu4fcsk sulbrm pclenv pu2cpo "
    "pclrng gtbwvg gtbmae gtbrae gtbrui gtbsas gtbsui gtbaae gtbcpo glrfam gldobj psussm g7mswm "
    "pparysiz pparynew pparyfre pparyget pplsttrs pplstnxt pplstins pplstgtd pplstfre pplstfnd "
    "pplstdel pparystr guemod guepar gueuse gueror gueact gufswr guerjo gusend gusrea guspus "
    "guspop gusini gusinf girealoc gusemp gimaloc gifree gicaloc gimcrw gj0puo gj0aii gj0erx "
    "gj0frd gj0swm ibafr7 gj0art gj0asa gj0pig";

std::vector<std::string> words(const char *text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

uint32_t word(Bytes p) { return uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
Bytes address(Bytes p) {
  Bytes a;
  std::memcpy(&a, p, sizeof a);
  return a;
}
std::string text(Bytes p, size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }
std::string lower(std::string name) {
  name.erase(name.find_last_not_of(' ') + 1);
  for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// A property: link, key, length, value padded to the address size.
size_t property_size(Bytes p) { return (20 + word(p + 16) + 7) / 8 * 8; }

// The first import record: after the last module property.
unsigned char *import_records(unsigned char *header) {
  Bytes p = address(header + 40);
  while (address(p) != nullptr) p = address(p);
  return header + (p - header) + property_size(p);
}

unsigned char *own_header() { return reinterpret_cast<unsigned char *>(&vomhead); }

TEST(ModuleHeader, LoadedLibraryHeaderHasEveryField) {
  ASSERT_EQ(sizeof(void *), 8u) << "offsets below are those of 8-byte addresses";
  void *library = dlopen(PCS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto h = static_cast<Bytes>(dlsym(library, "vomhead"));
  ASSERT_NE(h, nullptr);
  const uint32_t n = word(h + 128);
  EXPECT_EQ(n, static_cast<uint32_t>(PCS_ENTRY_POINT_COUNT));
  const size_t count_at = kExports + kExportSize * n, first = count_at + 16;

  struct Field {
    size_t offset;
    std::string bytes;
  };
  const std::string zeros(16, '\0');
  for (const Field &f : std::vector<Field>{{0, zeros.substr(0, 12)},
                                           {28, std::string("\2\0\0\0", 4)},
                                           {48, "BINDER  "},
                                           {56, be32(static_cast<int>(first - 64))},
                                           {60, std::string("\x20\0\0\0", 4)},
                                           {64, zeros.substr(0, 8)},
                                           {88, zeros.substr(0, 8)},
                                           {kBinderCell, zeros.substr(0, 8)},
                                           {104, zeros.substr(0, 12)},
                                           {kUnboundCell, zeros.substr(0, 8)},
                                           {count_at, be32(65) + zeros.substr(0, 8)}})
    EXPECT_EQ(text(h + f.offset, f.bytes.size()), f.bytes) << "offset " << f.offset;
  EXPECT_TRUE(std::regex_match(text(h + 12, 16), std::regex(R"(\d{3}\.\d{3}\.\d{3}\.\d{4})")));
  for (auto [at, target] : std::vector<std::pair<size_t, size_t>>{
           {32, 40}, {40, first}, {72, count_at}, {80, 128}})
    EXPECT_EQ(address(h + at), h + target) << "address at " << at;

  std::string previous;
  for (uint32_t i = 0; i < n; ++i) {
    Bytes e = h + kExports + kExportSize * i;
    const std::string name = text(e, 8);
    EXPECT_LT(previous, name) << "export directory out of order";
    EXPECT_EQ(address(e + 8), dlsym(library, lower(name).c_str())) << name;
    EXPECT_EQ(address(e + 16), nullptr) << name;
    previous = name;
  }

  struct Expected {
    const char *key;
    uint32_t length;
    const char *value;  // a pattern
  };
  Bytes p = h + first;
  for (const Expected &x : std::vector<Expected>{{"TIMSTAMP", 17, R"(\d\d/\d\d/\d\d \d\d\.\d\d\.\d\d)"},
                                                 {"LOGINAME", 8, "DO3RUDI "},
                                                 {"MDFNAME ", 8, "DO3RUDI "},
                                                 {"LOADNAME", 8, "DO3RUDI "},
                                                 {"PRODNAME", 8, "[ -~]{8}"}}) {
    EXPECT_EQ(text(p + 8, 8), x.key);
    EXPECT_EQ(word(p + 16), x.length) << x.key;
    EXPECT_TRUE(std::regex_match(text(p + 20, x.length), std::regex(x.value))) << x.key;
    Bytes next = address(p);
    if (std::string(x.key) != "PRODNAME") EXPECT_EQ(next, p + property_size(p)) << x.key;
    p = next != nullptr ? next : p;
  }
  EXPECT_EQ(address(p), nullptr);

  const std::vector<std::string> imports = words(kImports);
  ASSERT_EQ(imports.size(), 65u);
  Bytes records = p + property_size(p);
  for (size_t i = 0; i < imports.size(); ++i) {
    Bytes r = records + kRecordSize * i;
    EXPECT_EQ(address(r + kSlot), h + kUnboundCell) << imports[i];
    EXPECT_EQ(word(r + kFlag), 2u) << imports[i];
    EXPECT_EQ(lower(text(r + kName, 8)), imports[i]);
  }
  dlclose(library);
}

// A host binder for the tests: binds each service to a fake when there is
// one, else to the host's function, and counts its calls per slot.
struct TestBinder {
  static inline std::map<std::string, void *> fakes;
  static inline std::map<std::string, int> calls;
  static inline std::set<void *> tables;
  static inline void *cells[65];

  static void **bind(void **slot, void *global_table) {
    auto *record = reinterpret_cast<unsigned char *>(slot);
    const std::string name = lower(text(record + kName, 8));
    ++calls[name];
    tables.insert(global_table);
    void **cell = &cells[(record - import_records(own_header())) / kRecordSize];
    *cell = fakes.count(name) ? fakes[name] : dlsym(RTLD_DEFAULT, name.c_str());
    *slot = cell;
    return slot;
  }
};

// Leads every slot of this program's own header back to the unbound cell and
// installs `binder` (null: the dynamic linker binds).
void unbind_all(void **(*binder)(void **, void *)) {
  unsigned char *h = own_header();
  std::memcpy(h + kBinderCell, &binder, sizeof binder);
  unsigned char *unbound = h + kUnboundCell;
  for (int i = 0; i < 65; ++i)
    std::memcpy(import_records(h) + kRecordSize * i + kSlot, &unbound, sizeof unbound);
}

struct GtbcpoCall {
  const int *ws;
  const char *type, *name;
  int *handle, *rc;
  int type_length, name_length;
};
GtbcpoCall seen;
int fake_gtbcpo(const int *ws, const char *type, const char *name, int *handle, int *rc,
                int type_length, int name_length) {
  seen = {ws, type, name, handle, rc, type_length, name_length};
  *handle = 77;
  *rc = 0;
  return 1;
}

class Binding : public HostTest {
 protected:
  void TearDown() override {
    unbind_all(nullptr);
    HostTest::TearDown();
  }
};

TEST_F(Binding, BinderBindsEachSlotOnceAndArgumentsPassUnchanged) {
  TestBinder::fakes = {{"gtbcpo", reinterpret_cast<void *>(&fake_gtbcpo)}};
  TestBinder::calls.clear();
  unbind_all(&TestBinder::bind);
  const int ws = 1;
  int handle = 0, rc = -1;
  const std::string name = field("PUMP", 72);
  for (int round = 0; round < 2; ++round) {
    seen = {};
    EXPECT_EQ(gtbcpo(&ws, "PROCESS ", name.c_str(), &handle, &rc, 8, 72), 1);
    EXPECT_TRUE(seen.ws == &ws && std::string(seen.type) == "PROCESS " &&
                seen.name == name.c_str() && seen.handle == &handle && seen.rc == &rc);
    EXPECT_EQ(seen.type_length, 8);
    EXPECT_EQ(seen.name_length, 72);
    EXPECT_EQ(handle, 77);
  }
  for (int round = 0; round < 2; ++round) {
    PartRecord *part = nullptr;
    cspgcre(&part, &rc);
    ASSERT_RC(PCS_OK, rc);
    cspgadd(part, "DIMS    ", "OD      ", 1, 4, &ws, &rc);
    cspgfre(part);
  }
  EXPECT_GE(TestBinder::calls.size(), 3u);
  for (const auto &[service, n] : TestBinder::calls) EXPECT_EQ(n, 1) << service;
  EXPECT_EQ(TestBinder::tables.size(), 1u);
  EXPECT_EQ(TestBinder::tables.count(nullptr), 0u);
}

TEST_F(Binding, WithoutBinderTheDynamicLinkerBindsOnFirstCall) {
  unbind_all(nullptr);
  void *array = pparynew(3);
  EXPECT_EQ(pparysiz(array), 3);
  pparyfre(array);
  unsigned char *records = import_records(own_header());
  for (auto [index, service] : std::vector<std::pair<int, const char *>>{
           {26, "pparynew"}, {25, "pparysiz"}, {27, "pparyfre"}}) {
    void **cell = *reinterpret_cast<void ***>(records + kRecordSize * index);
    ASSERT_NE(static_cast<void *>(cell), own_header() + kUnboundCell) << service;
    EXPECT_EQ(*cell, dlsym(RTLD_DEFAULT, service)) << service;
  }
}

}  // namespace
