// The fixed-column key reader (csrikr, ReadInKeyRecord): one key record per
// line of a text file, each key field copied from a 1-based column of the
// line. GetRecordCount, its record counter, is csgrc.
#include <algorithm>
#include <climits>
#include <cstring>

#include "common/fileio.h"
#include "common/report.h"
#include "maintenance/maintenance.h"

namespace pcs::maintenance {
namespace {

// Characters of a line that are kept; key fields beyond them read as 0
// bytes, as past the end of a shorter line.
constexpr int kLineMax = 1000;

struct Line {
  char text[kLineMax + 1];
  int kept = 0;         // characters in text, then a 0
  int64_t length = 0;   // characters of the whole line
  bool newline = false; // ended by a newline rather than the end of file
};

void read_line(ChunkReader &reader, Line &line) {
  line.kept = 0;
  line.length = 0;
  line.newline = false;
  for (int c; (c = reader.get()) >= 0;) {
    if (c == '\n') {
      line.newline = true;
      break;
    }
    if (line.kept < kLineMax) line.text[line.kept++] = static_cast<char>(c);
    ++line.length;
  }
  line.text[line.kept] = '\0';
}

// Copies each field from its column with strncpy semantics.
void line_key(const Line &line, int fields, const int *columns, const int *widths,
              int key_length, char *key) {
  int position = 0;
  for (int f = 0; f < fields && position < key_length; ++f) {
    const int width = std::clamp(widths[f], 0, key_length - position);
    const int column = columns[f];
    const char *source = column >= 1 && column - 1 <= line.kept ? line.text + column - 1 : "";
    std::strncpy(key + position, source, static_cast<size_t>(width));
    position += width;
  }
  key[key_length] = '\0';
}

int read_fixed_keys(const char *source_path, int fields, const int *columns, const int *widths,
                    int record_count, int key_length, KeyRecord *records, int *filled) {
  FILE *stream = source_path ? io::open(source_path, "r") : nullptr;
  if (!stream) return PCS_KEYS_NO_FILE;
  ChunkReader reader(stream);
  Line line;
  int64_t offset = 0;
  int rc = 0;
  for (int i = 0; i < record_count; ++i) {
    if (offset > INT32_MAX) {
      rc = PCS_KEYS_NO_FILE;
      break;
    }
    read_line(reader, line);
    line_key(line, fields, columns, widths, key_length, records[i].Key);
    records[i].RecordOffset = static_cast<int32_t>(offset);
    offset += line.length + (line.newline ? 1 : 0);
  }
  io::close(stream);
  if (rc == 0) *filled = record_count;
  return rc;
}

}  // namespace

int ReadInKeyRecord(const char *source_path, const int *field_count, void *description,
                    const int *widths, int record_count, int key_length, KeyRecord *records,
                    int *filled) {
  int ignored = 0;
  if (!filled) filled = &ignored;
  *filled = 0;
  const int fields = field_count ? *field_count : 0;
  if (record_count > 0 && (!records || key_length < 0 || (fields > 0 && (!description || !widths))))
    return PCS_KEYS_NO_FILE;
  return guarded_value(static_cast<int>(PCS_KEYS_NO_FILE), [&] {
    return read_fixed_keys(source_path, fields, static_cast<const int *>(description), widths,
                           record_count, key_length, records, filled);
  });
}

}  // namespace pcs::maintenance

extern "C" {

PCS_API int csrikr(const char *source_path, const int *field_count, void *description,
                   const int *widths, int record_count, int key_length, KeyRecord *records,
                   int *filled) {
  return pcs::maintenance::ReadInKeyRecord(source_path, field_count, description, widths, record_count,
                              key_length, records, filled);
}

}  // extern "C"
