// The record walker over any bytes: the first byte picks the layout, the
// next two a group header offset, the rest is the record (in a buffer of
// its exact size, so any read outside it is caught). A whole-record walk
// and a walk from the chosen header must end in 0 or damage, never visit
// an attribute whose values lie outside the record, and a keyed decode
// must release everything. A shape learnt from a clean record accepts a
// changed copy only when the copy walks the same way.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/record_codec.h"
#include "host/inprocess/testing.h"
#include "keyed/keyed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  pcs::host::reset();
  const long blocks = pcs::host::memory().live_blocks;
  const pcs::codec::Layout &layout =
      (data[0] & 1) ? pcs::codec::kKeyedLayout : pcs::codec::kCatalogLayout;
  const int64_t header = (data[1] << 8 | data[2]) - 4;
  const size_t n = size - 3;
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[n ? n : 1]);
  if (n) std::memcpy(bytes.get(), data + 3, n);
  const pcs::ByteView record(bytes.get(), n);
  auto inside = [&](const pcs::codec::AttributeBytes &a) {
    if (a.values < bytes.get() || a.values + a.value_bytes() > bytes.get() + n) std::abort();
    return 0;
  };
  const int whole = pcs::codec::walk_record(record, layout, pcs::codec::kSkip, inside);
  if (whole != 0 && whole != pcs::codec::kDamaged) std::abort();
  int rc = pcs::codec::Walk(record, layout).group(header, pcs::codec::kSkip, inside);
  if (rc != 0 && rc != pcs::codec::kDamaged) std::abort();
  // A record the learnt shape accepts after one byte changed walks as the
  // learnt one did: clean, past the same attribute headers.
  pcs::codec::Shape shape;
  if (whole == 0 && shape.learn(record, layout)) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[n]);
    std::memcpy(copy.get(), bytes.get(), n);
    copy[static_cast<size_t>(header + 4) % n] ^= static_cast<unsigned char>(data[2] | 1);
    const pcs::ByteView changed(copy.get(), n);
    if (shape.matches(changed)) {
      std::string before, after;
      auto path = [](std::string *out, const unsigned char *base) {
        return [out, base](const pcs::codec::AttributeBytes &a) {
          *out += std::to_string(a.name - base) + "," + std::to_string(a.value_bytes()) + ";";
          return 0;
        };
      };
      pcs::codec::walk_record(record, layout, pcs::codec::kSkip, path(&before, bytes.get()));
      if (pcs::codec::walk_record(changed, layout, pcs::codec::kSkip, path(&after, copy.get())) != 0 ||
          before != after)
        std::abort();
    }
  }
  KeyedGroup *list = nullptr;
  rc = pcs::keyed::decode_record(record, &list);
  if ((rc == 0) != pcs::codec::record_valid(record, pcs::codec::kKeyedLayout)) std::abort();
  KeyedGroup *next = nullptr;
  for (; list; list = next) {
    next = list->NextGroup;
    pcs::keyed::free_group(list);
  }
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
