// The module header `vomhead`: the layout the host's module loader reads,
// with address fields as wide as this machine's pointers (docs/formats.md
// gives the offsets). Words are big-endian; names are 8 blank-padded
// upper-case characters.
#ifndef PCS_HOST_MODULE_MODULE_H
#define PCS_HOST_MODULE_MODULE_H

#include <cstddef>
#include <cstdint>

#include "host/module/imports.h"
#include "pcs_exports.inc"  // PCS_EXPORTS(X): the header's entry points, generated

namespace pcs::module {

#define PCS_COUNT_ONE_(...) +1
constexpr int kExportCount = 0 PCS_EXPORTS(PCS_COUNT_ONE_);
constexpr int kImportCount = 0 PCS_IMPORTS(PCS_COUNT_ONE_);
#undef PCS_COUNT_ONE_

struct Word {  // a 32-bit big-endian word
  unsigned char bytes[4];
};
struct Name {  // an 8-character blank-padded field
  char chars[8];
};
struct Stamp {  // the build stamp: 16 characters, no terminator
  char chars[16];
};

// The host's binder: given an import record's slot field and the library's
// global address table, answers an address A whose word leads to a cell
// holding the service's entry address, and leaves the slot leading there.
using Binder = void **(*)(void **slot_field, void *global_table);

struct ExportEntry {
  Name name;
  const void *address;
  uintptr_t zero;
};

template <size_t N>
struct Property {
  const void *link;  // the next property, null for the last
  Name key;
  Word length;
  char value[N];     // padded (zero) up to the pointer size
};

struct Properties {
  Property<17> timstamp;
  Property<8> loginame, mdfname, loadname, prodname;
};

struct ImportRecord {
  void **slot;  // the cell the service is called through
  Word flag;
  Name name;
  char module[48];  // the host module providing the service: load name,
                    // two binder keywords, module name and class letter
};

}  // namespace pcs::module

// Declared (incomplete) in the public header as the type of `vomhead`.
struct PcsModuleHeader {
  using Word = pcs::module::Word;
  using Name = pcs::module::Name;
  char zero0[12];
  pcs::module::Stamp stamp;
  Word version;
  const void *property_field;  // address of first_property
  const void *first_property;
  Name binder;
  Word length;  // bytes from zero1 to the first property
  Word marker;
  char zero1[8];
  const void *import_count;
  const void *export_count;
  const void *zero2;
  pcs::module::Binder binder_cell;
  char zero3[12];
  char pad0[4];
  void *unbound_cell;
  Word exports_n;
  char pad1[4];
  pcs::module::ExportEntry exports[pcs::module::kExportCount];
  Word imports_n;
  char zero4[8];
  char pad2[4];
  pcs::module::Properties properties;
  pcs::module::ImportRecord imports[pcs::module::kImportCount];
};

namespace pcs::module {

using Header = ::PcsModuleHeader;

// Import record numbers, in record order.
enum ImportIndex {
#define PCS_IMPORT_INDEX_(name) kImport_##name,
  PCS_IMPORTS(PCS_IMPORT_INDEX_)
#undef PCS_IMPORT_INDEX_
};

}  // namespace pcs::module

// The header under a hidden name, so that the binding stubs can address it
// directly; `vomhead` is the exported name of the same object.
extern "C" __attribute__((visibility("hidden"))) pcs::module::Header pcs_module_header;

#endif
