// Writing generic part files: a query part appended as a live record in the
// keyed layout (cggput), assembled whole in memory and handed to the file in
// one write, so that a kill leaves at most the start of it after the old
// bytes; one group block at a time (cgptagrp): each group's attribute
// blocks, then its header. Types, generic flags and match flags are not
// stored. A failed append cuts the file back to where the record began.

#include <climits>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "common/record_codec.h"
#include "common/report.h"
#include "generic/generic_parts.h"

namespace pcs::generic {
namespace {

int write_group(FILE *stream, const CgGroup *group, int32_t *offset, int32_t *header) {
  int32_t count = 0;
  const int64_t size = codec::keyed_block_size(group, &count);
  if (size < 0 || *offset + size > INT32_MAX) return PCS_INPUT_ENDED;
  HostPtr<unsigned char> block = host_buffer(static_cast<size_t>(size));
  if (!block) return PCS_GEN_NO_MEMORY;
  const int32_t at = codec::encode_keyed_block(group, count, *offset, block.get());
  if (io::write(stream, block.get(), static_cast<size_t>(size)) != static_cast<size_t>(size))
    return PCS_SHORT_WRITE;
  *header = at;
  *offset += static_cast<int32_t>(size);
  return 0;
}

}  // namespace

int write_part(FILE *stream, const CgGroup *part) {
  if (!part || !stream) return PCS_INPUT_ENDED;
  const int64_t size = keyed::record_size(part);
  if (size < 0) return PCS_INPUT_ENDED;
  if (io::seek(stream, 0, SEEK_END) != 0) return PCS_SHORT_WRITE;
  const int64_t start = io::tell(stream);
  if (start < 0) return PCS_SHORT_WRITE;
  if (start + size > INT32_MAX) return PCS_INPUT_ENDED;
  HostPtr<unsigned char> record = host_buffer(static_cast<size_t>(size));
  if (!record) return PCS_GEN_NO_MEMORY;
  keyed::encode_record(part, record.get());
  const auto bytes = static_cast<size_t>(size);
  if (io::write(stream, record.get(), bytes) == bytes && io::flush(stream) == 0) return 0;
  io::truncate(stream, start);  // the file stays walkable
  return PCS_SHORT_WRITE;
}

}  // namespace pcs::generic

extern "C" {

void cggput(FILE *stream, CgGroup **part, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    *rc = pcs::generic::write_part(stream, part ? *part : nullptr);
  });
}

void cgptagrp(FILE *stream, CgGroup *group, int *offset, int *header, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    int32_t running = *offset, at = 0;
    *rc = pcs::generic::write_group(stream, group, &running, &at);
    if (*rc != 0) return;
    *offset = running;
    *header = at;
  });
}

}  // extern "C"
