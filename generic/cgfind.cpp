// Searching sorted stacks and catalog indexes: the binary search of a
// sorted stack (cgfind), every match of a key around the found position
// (cgqprmt2), the record positions a catalog index lists under a key
// (cgqprmt), and the diagnostic print of a stack (cgstackp).
#include <cstdio>
#include <cstring>

#include "catalog/catalog.h"
#include "common/memory.h"
#include "common/report.h"
#include "host/host_services.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

int find(const int *stack, const void *key, int key_length, CgCompare compare, int *found) {
  *found = 0;
  int size = 0, count = 0, rc = 0;
  gusinf(stack, &size, &count, &rc);
  if (rc != 0 || size < key_length) return rc;
  HostPtr<unsigned char> element = host_buffer(static_cast<size_t>(size));
  if (!element) return PCS_GEN_NO_MEMORY;
  for (int lo = 1, hi = count; lo <= hi;) {
    int mid = lo + (hi - lo) / 2;
    gusrea(stack, &mid, element.get(), &rc);
    if (rc != 0) return rc;
    const int order = compare(element.get(), key, &key_length);
    if (order == 0) {
      *found = mid;
      return 0;
    }
    if (order == -1)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return 0;
}

// Pushes the record position (the last 4 bytes of a `size`-byte element)
// of the element at `position` when its key equals `key` exactly; *equal
// tells whether it did.
int push_if_equal(const int *stack, int position, const char *key, int key_length, int size,
                  unsigned char *element, const int *matches, bool *equal) {
  int rc = 0, pushed = 0;
  gusrea(stack, &position, element, &rc);
  *equal = rc == 0 && std::strncmp(reinterpret_cast<char *>(element), key,
                                   static_cast<size_t>(key_length)) == 0;
  if (*equal) guspus(matches, element + size - 4, &pushed, &rc);
  return rc;
}

int collect(const char *key, int key_length, const int *stack, int *matches) {
  int found = 0, rc = find(stack, key, key_length, cgcmpsrt, &found);
  if (rc != 0 || found == 0) return rc;
  int size = 0, count = 0;
  gusinf(stack, &size, &count, &rc);
  if (rc != 0 || size < key_length + 4) return rc;
  HostPtr<unsigned char> element = host_buffer(static_cast<size_t>(size));
  if (!element) return PCS_GEN_NO_MEMORY;
  const int four = 4;
  gusini(&four, matches, &rc);
  int pushed = 0;
  if (rc == 0) gusrea(stack, &found, element.get(), &rc);
  if (rc == 0) guspus(matches, element.get() + size - 4, &pushed, &rc);
  bool equal = true;
  for (int i = found + 1; rc == 0 && equal && i <= count; ++i)
    rc = push_if_equal(stack, i, key, key_length, size, element.get(), matches, &equal);
  for (int i = found - 1; rc == 0 && i >= 1; --i)
    rc = push_if_equal(stack, i, key, key_length, size, element.get(), matches, &equal);
  return rc;
}

int index_matches(const char *key, FILE *index, int *matches) {
  catalog::IndexHeader header{};
  int32_t count = 0, first = 0;
  if (!index || !key || !read_index_header(index, &header) ||
      !index_lookup(index, header, key, &count, &first))
    return 0;
  int rc = 0, pushed = 0;
  const int four = 4;
  gusini(&four, matches, &rc);
  for (int32_t k = 1; rc == 0 && k <= count; ++k) {
    int32_t offset = 0;
    if (!index_data_offset(index, header, first, k, &offset)) return PCS_INPUT_ENDED;
    guspus(matches, &offset, &pushed, &rc);
  }
  return rc;
}

void print_stack(const int *stack, int mode, int width) {
  int size = 0, count = 0, rc = 0;
  gusinf(stack, &size, &count, &rc);
  if (rc != 0 || (mode != 0 && mode != 1)) return;
  HostPtr<unsigned char> element = host_buffer(static_cast<size_t>(size < 4 ? 4 : size));
  if (!element) return;
  const int shown = width > 0 && width < size ? width : size;
  for (int i = 1; i <= count; ++i) {
    std::memset(element.get(), 0, 4);
    gusrea(stack, &i, element.get(), &rc);
    if (rc != 0) return;
    if (mode == 0) {
      int32_t value;
      std::memcpy(&value, element.get(), sizeof value);
      std::fprintf(stderr, "%d >%d< \n", i, value);
      continue;
    }
    std::fprintf(stderr, "%d >", i);
    for (int k = 0; k < shown; ++k) std::fprintf(stderr, "%c", element.get()[k]);
    std::fputs("< \n", stderr);
  }
}

// Ends a stack a failed call made, leaving the caller's handle 0.
int end_on_failure(int rc, int *stack) {
  if (rc != 0 && *stack != 0) {
    int ignored = 0;
    gusend(stack, &ignored);
    *stack = 0;
  }
  return rc;
}

}  // namespace

int find_key(const int *stack, const void *key, int key_length, CgCompare compare, int *found) {
  return find(stack, key, key_length, compare, found);
}

int collect_matches(const char *key, int key_length, const int *stack, int *matches) {
  *matches = 0;
  return end_on_failure(collect(key, key_length, stack, matches), matches);
}

}  // namespace pcs::generic

using namespace pcs::generic;

extern "C" {

void cgfind(const int *stack, const void *key, const int *key_length, CgCompare compare,
            int *found, int *rc) {
  *rc = find_key(stack, key, *key_length, compare, found);
}

void cgqprmt2(const char *key, const int *key_length, const int *stack, int *matches, int *rc) {
  *rc = collect_matches(key, *key_length, stack, matches);
}

void cgqprmt(const char *key, FILE *index, int *matches, int *rc) {
  *matches = 0;
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { *rc = end_on_failure(index_matches(key, index, matches), matches); });
}

void cgstackp(const int *stack, int mode, int width) { print_stack(stack, mode, width); }

}  // extern "C"
