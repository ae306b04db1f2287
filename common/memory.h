// Typed helpers over the host memory service. Everything the library hands
// to a caller is allocated here, so the host's allocation failure injector
// reaches every path.
#ifndef PCS_COMMON_MEMORY_H
#define PCS_COMMON_MEMORY_H

#include <cstddef>
#include <memory>

#include "host/host_services.h"

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

}  // namespace pcs

#endif
