// Typed helpers over the host memory service. Everything the library hands
// to a caller is allocated here, so the host's allocation failure injector
// reaches every path.
#ifndef PCS_COMMON_MEMORY_H
#define PCS_COMMON_MEMORY_H

#include <cstddef>
#include <cstring>
#include <memory>

#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs {

// A zero-filled object of a plain C type from the host, or null.
template <class T>
T *host_alloc() {
  return static_cast<T *>(gicaloc(1, sizeof(T)));
}

// Releases host memory at the end of a scope.
struct HostFree {
  void operator()(void *block) const { gifree(block); }
};
template <class T>
using HostPtr = std::unique_ptr<T, HostFree>;

// A buffer of `size` bytes from the host (at least one byte is asked for, so
// an empty buffer is still a valid block), or null.
inline HostPtr<unsigned char> host_buffer(size_t size) {
  return HostPtr<unsigned char>(static_cast<unsigned char *>(gimaloc(size ? size : 1)));
}

// An attribute (Attribute or KeyedAttribute: the same leading fields) from
// the host, zero-filled, with its name, counts and a host copy of the first
// `bytes` bytes of `values`; null, with nothing left allocated, when memory
// runs out.
template <class A>
A *host_attribute(const char *name, int count, int length, const void *values, size_t bytes) {
  A *attribute = host_alloc<A>();
  if (!attribute) return nullptr;
  HostPtr<unsigned char> buffer = host_buffer(bytes);
  if (!buffer) {
    gifree(attribute);
    return nullptr;
  }
  std::memcpy(attribute->AttrName, name, PCS_NAME_LEN);
  attribute->nAttrs = count;
  attribute->nAttrLength = length;
  if (bytes > 0) std::memcpy(buffer.get(), values, bytes);
  attribute->AttrValue = buffer.release();
  return attribute;
}

// Asks for huge pages over the 2 MiB pages that lie whole inside the
// `size` bytes at `bytes`, before they are first touched: a large block
// then takes a page fault per 2 MiB instead of per 4 KiB, and accesses far
// apart miss the address translation cache less.
void ask_huge_pages(void *bytes, size_t size);

}  // namespace pcs

#endif
