// Writing generic part files: a query part appended as a live record in the
// keyed layout (cggput), one group block at a time (cgptagrp): each group's
// attribute blocks, then its header; the directory and the newline last.
// Types, generic flags and match flags are not stored. A failed append cuts
// the file back to where the record began, so the file stays walkable.

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

// Removes a failed record's bytes from the end of the file.
void cut_back(FILE *stream, int64_t end) { io::truncate(stream, end); }

int write_record(FILE *stream, const CgGroup *part, int64_t start) {
  int32_t groups = 0;
  for (const CgGroup *g = part; g; g = g->next) ++groups;
  HostPtr<unsigned char> directory = host_buffer(4 + 4 * static_cast<size_t>(groups) + 1);
  if (!directory) return PCS_GEN_NO_MEMORY;
  unsigned char header[codec::kHeaderBytes];
  codec::encode_keyed_header(0, -1, 0, header);  // not live until rewritten
  if (io::write(stream, header, sizeof header) != sizeof header) return PCS_SHORT_WRITE;
  int32_t offset = codec::kHeaderBytes;
  put_be32(directory.get(), groups);
  int i = 0;
  for (const CgGroup *g = part; g; g = g->next, ++i) {
    int32_t at = 0;
    if (int rc = write_group(stream, g, &offset, &at); rc != 0) return rc;
    put_be32(directory.get() + 4 + 4 * i, at);
  }
  const size_t tail = 4 + 4 * static_cast<size_t>(groups) + 1;
  if (offset + static_cast<int64_t>(tail) > INT32_MAX) return PCS_INPUT_ENDED;
  directory.get()[tail - 1] = '\n';
  if (io::write(stream, directory.get(), tail) != tail) return PCS_SHORT_WRITE;
  codec::encode_keyed_header(offset + static_cast<int32_t>(tail), 0, offset, header);
  if (io::seek(stream, start, SEEK_SET) != 0 ||
      io::write(stream, header, sizeof header) != sizeof header || io::flush(stream) != 0 ||
      io::seek(stream, 0, SEEK_END) != 0)
    return PCS_SHORT_WRITE;
  return 0;
}

}  // namespace

int write_part(FILE *stream, const CgGroup *part) {
  if (!part || !stream) return PCS_INPUT_ENDED;
  if (io::seek(stream, 0, SEEK_END) != 0) return PCS_SHORT_WRITE;
  const int64_t start = io::tell(stream);
  if (start < 0 || start > INT32_MAX) return PCS_SHORT_WRITE;
  const int rc = write_record(stream, part, start);
  if (rc != 0) cut_back(stream, start);
  return rc;
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
