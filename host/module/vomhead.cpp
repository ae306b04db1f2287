// The module header `vomhead` in the library's writable data: the build
// stamp, the export directory of every public entry point (generated from
// the public header, sorted by name), the module properties and one import
// record per host service, each slot leading to the unbound cell until the
// service is bound (host/module/vomheadbind.cpp).
#include <cstddef>

#include "host/module/module.h"
#include "include/pcs.h"

namespace pcs::module {
namespace {

constexpr Word be(uint32_t v) {
  return {{static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
           static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)}};
}

constexpr Name name8(const char *text) {
  Name n{};
  size_t i = 0;
  for (; i < 8 && text[i] != 0; ++i) n.chars[i] = text[i];
  for (; i < 8; ++i) n.chars[i] = ' ';
  return n;
}

constexpr char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr Name upper_name(const char *text) {
  Name n = name8(text);
  for (char &c : n.chars) c = upper(c);
  return n;
}

constexpr Stamp stamp(const char *text) {
  Stamp s{};
  for (size_t i = 0; i < 16 && text[i] != 0; ++i) s.chars[i] = text[i];
  return s;
}

template <size_t N>
constexpr void copy(char (&to)[N], const char *from) {
  for (size_t i = 0; i < N && from[i] != 0; ++i) to[i] = from[i];
}

// "mm/dd/yy hh.mm.ss" from the compiler's __DATE__ ("Mmm dd yyyy") and
// __TIME__ ("hh:mm:ss").
constexpr Property<17> build_time(const void *link) {
  constexpr const char *months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  const char *date = __DATE__, *time = __TIME__;
  int month = 1;
  for (int m = 0; m < 12; ++m)
    if (date[0] == months[3 * m] && date[1] == months[3 * m + 1] && date[2] == months[3 * m + 2])
      month = m + 1;
  Property<17> p{link, name8("TIMSTAMP"), be(17), {}};
  const char text[17] = {static_cast<char>('0' + month / 10), static_cast<char>('0' + month % 10),
                         '/', date[4] == ' ' ? '0' : date[4], date[5], '/', date[9], date[10],
                         ' ', time[0], time[1], '.', time[3], time[4], '.', time[6], time[7]};
  for (int i = 0; i < 17; ++i) p.value[i] = text[i];
  return p;
}

constexpr Property<8> property(const void *link, const char *key, const char *value) {
  Property<8> p{link, name8(key), be(8), {}};
  copy(p.value, name8(value).chars);
  return p;
}

// The host module that provides every service to the host's binder: load
// name, two binder keywords, and the module name with its class letter.
constexpr ImportRecord import_record(const char *service) {
  ImportRecord r{&pcs_module_header.unbound_cell, be(2), upper_name(service), {}};
  const char module[49] = "PCSHOST LAZY    BYNAME  PCSHOST                S";
  for (int i = 0; i < 48; ++i) r.module[i] = module[i];
  return r;
}

// The offsets that docs/formats.md gives for 8-byte addresses.
static_assert(sizeof(void *) != 8 ||
              (offsetof(Header, property_field) == 32 && offsetof(Header, binder) == 48 &&
               offsetof(Header, zero1) == 64 && offsetof(Header, binder_cell) == 96 &&
               offsetof(Header, unbound_cell) == 120 && offsetof(Header, exports) == 136 &&
               sizeof(ExportEntry) == 24 && sizeof(ImportRecord) == 72 &&
               sizeof(Properties) == 168 &&
               offsetof(Header, properties) == 152 + 24 * kExportCount &&
               sizeof(Header) == 5000 + 24 * kExportCount));

constexpr const char kModuleName[] = "DO3RUDI";
constexpr uint32_t kHeaderLength =
    offsetof(Header, properties) - offsetof(Header, zero1);

}  // namespace
}  // namespace pcs::module

using namespace pcs::module;
#define PCS_EXPORT_ENTRY_(function, upper) \
  ExportEntry{name8(upper), reinterpret_cast<const void *>(&function), 0},
#define PCS_IMPORT_RECORD_(service) import_record(#service),

extern "C" {

PcsModuleHeader pcs_module_header = {
    {},
    stamp(PCS_BUILD_STAMP),
    be(0x02000000),
    &pcs_module_header.first_property,
    &pcs_module_header.properties.timstamp,
    name8("BINDER"),
    be(kHeaderLength),
    be(0x20000000),
    {},
    &pcs_module_header.imports_n,
    &pcs_module_header.exports_n,
    nullptr,
    nullptr,
    {},
    {},
    nullptr,
    be(kExportCount),
    {},
    {PCS_EXPORTS(PCS_EXPORT_ENTRY_)},
    be(kImportCount),
    {},
    {},
    {build_time(&pcs_module_header.properties.loginame),
     property(&pcs_module_header.properties.mdfname, "LOGINAME", kModuleName),
     property(&pcs_module_header.properties.loadname, "MDFNAME", kModuleName),
     property(&pcs_module_header.properties.prodname, "LOADNAME", kModuleName),
     property(nullptr, "PRODNAME", "PCS")},
    {PCS_IMPORTS(PCS_IMPORT_RECORD_)},
};

// The exported name of the header, the symbol the host's loader looks for.
__attribute__((alias("pcs_module_header"), visibility("default"))) extern PcsModuleHeader vomhead;

}  // extern "C"
