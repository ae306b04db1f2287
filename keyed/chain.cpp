// The replacement chain of a keyed group file, checked and completed while
// the file is opened: a replaced record's status word must point to a later
// record that carries the same key (so a flipped bit that hides a live
// record is found), and a replacing put that a crash cut short, after its
// new record was appended but before the old record's status word pointed
// to it, is finished (two equal records are left alone: plain appends make
// those).
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "keyed/keyed.h"

namespace pcs::keyed {
namespace {

// The key of the record at `position` whatever its status; kOk, kDamaged or
// kNoMemory.
int key_at(const KeyedFile *file, FILE *stream, int64_t position, int64_t size,
           unsigned char *key) {
  int32_t length = 0;
  HostPtr<unsigned char> bytes;
  switch (codec::read_keyed_record(stream, position, size, &length, &bytes)) {
    case codec::KeyedRead::ok:
    case codec::KeyedRead::not_live:
      return record_key(file, ByteView(bytes.get(), static_cast<size_t>(length)), key) == kOk
                 ? kOk
                 : kDamaged;
    case codec::KeyedRead::no_memory:
      return kNoMemory;
    default:
      return kDamaged;
  }
}

}  // namespace

int check_replaced(const KeyedFile *file, FILE *stream, int64_t position, int32_t status,
                   int64_t size) {
  if (status == kDeleted) return kOk;
  if (status <= position || status >= size) return kDamaged;
  const auto k = static_cast<size_t>(key_length(file));
  auto keys = host_buffer(2 * k);
  if (!keys) return kNoMemory;
  int rc = key_at(file, stream, position, size, keys.get());
  if (rc == kOk) rc = key_at(file, stream, status, size, keys.get() + k);
  if (rc != kOk) return rc;
  return std::memcmp(keys.get(), keys.get() + k, k) == 0 ? kOk : kDamaged;
}

int finish_replacement(KeyedFile *file, IndexElement *stored, ByteView last, int64_t position) {
  // Two equal records are what two plain appends make: no replacement.
  int32_t length = 0;
  HostPtr<unsigned char> earlier;
  const codec::KeyedRead read =
      codec::read_keyed_record(file->Stream, stored->position, position, &length, &earlier);
  if (read == codec::KeyedRead::no_memory) return kNoMemory;
  if (read != codec::KeyedRead::ok ||
      (static_cast<size_t>(length) == last.size() &&
       std::memcmp(earlier.get(), last.data(), last.size()) == 0))
    return kDuplicate;
  unsigned char word[4];
  put_be32(word, static_cast<int32_t>(position));
  if (io::seek(file->Stream, int64_t{stored->position} + 4, SEEK_SET) != 0 ||
      io::write(file->Stream, word, 4) != 4 || io::sync(file->Stream) != 0)
    return kDuplicate;
  std::fprintf(stderr,
               "pcs: %s: the records at offsets %d and %lld carry one key: a replacement was "
               "interrupted; the later, complete record is now the live one\n",
               file->FileName, stored->position, static_cast<long long>(position));
  stored->position = static_cast<int32_t>(position);
  return kOk;
}

}  // namespace pcs::keyed
