// Big-endian 32-bit words and fixed-width name fields: append-style writers
// and bounds-checked readers used by every file format of the library.
#ifndef PCS_COMMON_CODING_H
#define PCS_COMMON_CODING_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace pcs {

inline void put_be32(unsigned char *out, int32_t value) {
  auto v = static_cast<uint32_t>(value);
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
}

inline int32_t get_be32(const unsigned char *in) {
  uint32_t v = (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) |
               uint32_t{in[3]};
  return static_cast<int32_t>(v);
}

// The first eight bytes of a key as a big-endian word, every byte from its
// terminating zero on (or from byte `length` on) as zero: unequal prefixes
// of two keys order them as strncmp over `length` bytes does.
inline uint64_t key_prefix(const char *key, size_t length) {
  uint64_t word = 0;
  size_t i = 0;
  for (; i < 8 && i < length && key[i] != '\0'; ++i)
    word = word << 8 | static_cast<unsigned char>(key[i]);
  return i == 0 ? 0 : word << (8 * (8 - i));
}

// The first eight bytes of a key (the `length` there are, when fewer) as a
// big-endian word, zeros after them: unequal prefixes of two keys order them
// as memcmp over `length` bytes does, and keys of at most eight bytes are
// equal where their prefixes are.
inline uint64_t byte_prefix(const unsigned char *key, size_t length) {
  uint64_t word = 0;
  const size_t n = std::min<size_t>(length, 8);
  for (size_t i = 0; i < n; ++i) word = word << 8 | key[i];
  return n == 0 ? 0 : word << (8 * (8 - n));
}

// The number of leading bytes (none of them 0, at most `limit`) that the
// keys key_at(0) .. key_at(n - 1) all start with: bytes that decide no
// comparison between them, so key prefixes are taken after them.
template <class KeyAt>
size_t shared_beginning(size_t n, size_t limit, KeyAt &&key_at) {
  if (n == 0) return 0;
  const char *first = key_at(size_t{0});
  size_t shared = strnlen(first, limit);
  for (size_t i = 1; i < n && shared > 0; ++i)
    shared = static_cast<size_t>(std::mismatch(first, first + shared, key_at(i)).first - first);
  return shared;
}

// An in-memory value of this machine (an attribute's I or R value) from
// bytes that need not be aligned.
template <class T>
inline T load_value(const unsigned char *bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// Appends a big-endian word to a byte string (used to build records).
inline void append_be32(std::string &out, int32_t value) {
  unsigned char word[4];
  put_be32(word, value);
  out.append(reinterpret_cast<const char *>(word), 4);
}

// A read-only view of a byte buffer whose every access is checked against
// its size. Offsets come from files and may be anything.
class ByteView {
 public:
  ByteView(const unsigned char *data, size_t size) : data_(data), size_(size) {}

  size_t size() const { return size_; }
  const unsigned char *data() const { return data_; }

  // True when [offset, offset + length) lies inside the view.
  bool has(int64_t offset, int64_t length) const {
    return offset >= 0 && length >= 0 && static_cast<uint64_t>(offset) <= size_ &&
           static_cast<uint64_t>(length) <= size_ - static_cast<uint64_t>(offset);
  }

  bool be32(int64_t offset, int32_t *out) const {
    if (!has(offset, 4)) return false;
    *out = get_be32(data_ + offset);
    return true;
  }

  // Address of `length` bytes at `offset`, or null when they are not inside.
  const unsigned char *bytes(int64_t offset, int64_t length) const {
    return has(offset, length) ? data_ + offset : nullptr;
  }

 private:
  const unsigned char *data_;
  size_t size_;
};

// Compares two name fields over n bytes as strncmp does (unsigned bytes,
// stopping at a 0 byte).
inline int compare_field(const void *first, const void *second, size_t n) {
  return std::strncmp(static_cast<const char *>(first), static_cast<const char *>(second), n);
}

// Copies a blank-padded field of `width` characters into a std::string,
// without its trailing blanks.
inline std::string field_to_string(const char *field, size_t width) {
  size_t n = width;
  while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0')) --n;
  return std::string(field, n);
}

// Copies a field up to its first blank or 0 byte into `out` (limit + 1
// bytes), 0-terminated. False, with `out` empty, when the field holds more
// than `limit` characters: a path is never cut short. A null field gives
// the empty string.
inline bool field_text(const char *field, size_t limit, char *out) {
  size_t n = 0;
  while (field && n <= limit && field[n] != ' ' && field[n] != '\0') ++n;
  const bool whole = n <= limit;
  if (!whole) n = 0;
  if (n > 0) std::memcpy(out, field, n);
  out[n] = '\0';
  return whole;
}

// Fills a field of `width` characters with `text`, blank-padded or cut.
inline void string_to_field(const std::string &text, char *field, size_t width) {
  size_t n = text.size() < width ? text.size() : width;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, ' ', width - n);
}

}  // namespace pcs

#endif
