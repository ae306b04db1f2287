// Lazy binding of the host services. Each service the library calls has a
// stub of the service's own name (hidden, so calls inside the library reach
// it and the host's exported function stays visible to the dynamic linker).
// The stub reads its import slot and the cell the slot leads to and jumps to
// the cell's address with the caller's arguments untouched; an empty cell
// sends it to `vomheadbind`, which asks the host's binder (when the loader
// installed one in the binder cell) or the dynamic linker, then jumps to the
// service. A slot is bound once; later calls cost two loads and a test.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "host/module/module.h"

namespace pcs::module {
namespace {

// Cells of the services found through the dynamic linker.
void *bound_cells[kImportCount];

// Finds the service of an import record by its lower-case name.
void **bind_by_name(void **slot_field) {
  auto *record = reinterpret_cast<ImportRecord *>(slot_field);
  char name[9] = {};
  for (int i = 0; i < 8 && record->name.chars[i] != ' '; ++i)
    name[i] = static_cast<char>(record->name.chars[i] | 0x20);
  void *entry = dlsym(RTLD_DEFAULT, name);
  if (entry == nullptr) {
    std::fprintf(stderr, "pcs: the host provides no service \"%s\"\n", name);
    std::abort();
  }
  void **cell = &bound_cells[record - pcs_module_header.imports];
  __atomic_store_n(cell, entry, __ATOMIC_RELEASE);
  __atomic_store_n(&record->slot, cell, __ATOMIC_RELEASE);
  return slot_field;
}

}  // namespace
}  // namespace pcs::module

// Called by vomheadbind with the slot field of an unbound import record;
// answers the service's entry address.
extern "C" __attribute__((visibility("hidden"), used)) void *pcs_resolve_import(
    void **slot_field, void *global_table) {
  pcs::module::Binder binder = pcs_module_header.binder_cell;
  void **answer = binder != nullptr ? binder(slot_field, global_table)
                                    : pcs::module::bind_by_name(slot_field);
  return *static_cast<void **>(*answer);
}

#if defined(__x86_64__)

// Saves every register that can carry an argument (rdi, rsi, rdx, rcx, r8,
// r9, rax, r10 and xmm0-7), resolves the slot whose field address the stub
// left in r11, restores them and jumps to the service.
extern "C" __attribute__((naked, visibility("hidden"))) void vomheadbind() {
  asm volatile(
      "pushq %%rbp\n\t"
      "movq %%rsp, %%rbp\n\t"
      "subq $192, %%rsp\n\t"
      "movq %%rdi, 0(%%rsp)\n\t"
      "movq %%rsi, 8(%%rsp)\n\t"
      "movq %%rdx, 16(%%rsp)\n\t"
      "movq %%rcx, 24(%%rsp)\n\t"
      "movq %%r8, 32(%%rsp)\n\t"
      "movq %%r9, 40(%%rsp)\n\t"
      "movq %%rax, 48(%%rsp)\n\t"
      "movq %%r10, 56(%%rsp)\n\t"
      "movdqu %%xmm0, 64(%%rsp)\n\t"
      "movdqu %%xmm1, 80(%%rsp)\n\t"
      "movdqu %%xmm2, 96(%%rsp)\n\t"
      "movdqu %%xmm3, 112(%%rsp)\n\t"
      "movdqu %%xmm4, 128(%%rsp)\n\t"
      "movdqu %%xmm5, 144(%%rsp)\n\t"
      "movdqu %%xmm6, 160(%%rsp)\n\t"
      "movdqu %%xmm7, 176(%%rsp)\n\t"
      "movq %%r11, %%rdi\n\t"
      "leaq _GLOBAL_OFFSET_TABLE_(%%rip), %%rsi\n\t"
      "call %P0\n\t"
      "movq %%rax, %%r11\n\t"
      "movq 0(%%rsp), %%rdi\n\t"
      "movq 8(%%rsp), %%rsi\n\t"
      "movq 16(%%rsp), %%rdx\n\t"
      "movq 24(%%rsp), %%rcx\n\t"
      "movq 32(%%rsp), %%r8\n\t"
      "movq 40(%%rsp), %%r9\n\t"
      "movq 48(%%rsp), %%rax\n\t"
      "movq 56(%%rsp), %%r10\n\t"
      "movdqu 64(%%rsp), %%xmm0\n\t"
      "movdqu 80(%%rsp), %%xmm1\n\t"
      "movdqu 96(%%rsp), %%xmm2\n\t"
      "movdqu 112(%%rsp), %%xmm3\n\t"
      "movdqu 128(%%rsp), %%xmm4\n\t"
      "movdqu 144(%%rsp), %%xmm5\n\t"
      "movdqu 160(%%rsp), %%xmm6\n\t"
      "movdqu 176(%%rsp), %%xmm7\n\t"
      "leave\n\t"
      "jmp *%%r11\n\t" ::"i"(pcs_resolve_import));
}

// The stub of one service: slot, cell, test, jump.
#define PCS_STUB_(service)                                                          \
  extern "C" __attribute__((naked, visibility("hidden"))) void service() {          \
    asm volatile(                                                                   \
        "movq %P0(%%rip), %%r11\n\t"                                                \
        "movq (%%r11), %%r11\n\t"                                                   \
        "testq %%r11, %%r11\n\t"                                                    \
        "jz 1f\n\t"                                                                 \
        "jmp *%%r11\n"                                                              \
        "1:\n\t"                                                                    \
        "leaq %P0(%%rip), %%r11\n\t"                                                \
        "jmp %P1\n\t" ::"i"(&pcs_module_header.imports[pcs::module::kImport_##service] \
                                 .slot),                                            \
        "i"(vomheadbind));                                                          \
  }
PCS_IMPORTS(PCS_STUB_)

#endif  // elsewhere the dynamic linker binds the host services directly
