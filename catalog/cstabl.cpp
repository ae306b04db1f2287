// The table text tool (cstabl): splits a positional dump of several tables
// into one text file per table. A table's lines share the name field in
// columns 10 to 18; each becomes a 51-byte output line made of columns 19 to
// 68 without apostrophes, blank-padded, and a newline. The table files
// replace the old ones together once the whole dump is split.
#include <cstdio>
#include <cstring>

#include "common/coding.h"
#include "common/fileio.h"
#include "common/report.h"
#include "common/sequential_read.h"

namespace pcs::catalog {
namespace {

constexpr int kDone = 0;
constexpr int kCannotOpen = PCS_TABLE_CANNOT_OPEN;
constexpr int kNoHeader = PCS_TABLE_NO_HEADER;

constexpr size_t kLineBuffer = 100;  // fgets buffer: 99 characters at most
constexpr size_t kInputMax = 45;
constexpr size_t kDirectoryMax = 40;
constexpr size_t kPathMax = 44;
constexpr size_t kPathBuffer = kDirectoryMax + 1 + kLineBuffer;
constexpr size_t kNameField = 9;     // columns 10 to 18
constexpr size_t kSliceStart = 18;   // column 19
constexpr size_t kSliceWidth = 50;   // columns 19 to 68
constexpr size_t kTableLineMin = 19;

bool header_line(const char *line) {
  return std::strlen(line) > 20 && line[0] != '*' && std::memcmp(line + 12, "HEAD", 4) == 0;
}

// The output path: directory, "/" unless it ends with one, and the table
// name (column 10 up to the next blank); an empty directory is the current
// one. False when the path is longer than 44 characters (it is never cut:
// two tables would share a file) or the name is empty, ".", ".." or holds a
// "/" (such a name would leave the directory).
bool table_path(const char *directory, const char *line, char *path) {
  char name[kLineBuffer] = {};
  size_t n = 0;
  for (size_t i = kNameField; i < kLineBuffer - 1; ++i) {
    const char c = line[i];
    if (c == ' ' || c == '\n' || c == '\0') break;
    name[n++] = c;
  }
  const size_t length = std::strlen(directory);
  const bool slash = length > 0 && directory[length - 1] != '/';
  const int size = std::snprintf(path, kPathBuffer, "%s%s%s", directory, slash ? "/" : "", name);
  return n > 0 && size <= static_cast<int>(kPathMax) && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         std::strchr(name, '/') == nullptr;
}

// Columns 19 to 68 without apostrophes, blank-padded to 50, and a newline.
void output_line(const char *line, char *out) {
  std::memset(out, ' ', kSliceWidth);
  out[kSliceWidth] = '\n';
  const size_t length = std::strlen(line);
  size_t n = 0;
  for (size_t i = kSliceStart; i < kSliceStart + kSliceWidth && i < length; ++i) {
    if (line[i] == '\n') break;
    if (line[i] != '\'') out[n++] = line[i];
  }
}

class Splitter {
 public:
  Splitter(FILE *input, const char *directory) : reader_(input), directory_(directory) {}

  // Splits the input; the table files are put in place together, and only
  // when every one was written whole.
  int run() {
    const int rc = split_tables();
    return rc == kDone && !tables_.commit() ? kCannotOpen : rc;
  }

 private:
  int split_tables() {
    do {
      if (!reader_.gets(line_, kLineBuffer)) {
        std::printf(" file is empty \n");
        return kNoHeader;
      }
    } while (!header_line(line_));
    if (!reader_.gets(line_, kLineBuffer)) return kDone;
    for (;;) {
      if (int rc = write_table(); rc != kDone || at_end_) return rc;
      if (std::strncmp(line_ + kNameField, "CTFTBEN", 7) == 0) return kDone;
    }
  }

  // Writes the table that starts with the current line; leaves the first
  // line of the next table (or the end) behind.
  int write_table() {
    char path[kPathBuffer];
    const bool valid = table_path(directory_, line_, path);
    std::printf(" open file %s\n", path);
    FILE *table = valid ? tables_.begin(path) : nullptr;
    if (!table) {
      std::printf(" open output file failed \n");
      return kCannotOpen;
    }
    char name[kNameField];
    std::memcpy(name, line_ + kNameField, kNameField);
    bool written = true;
    do {
      char out[kSliceWidth + 1];
      output_line(line_, out);
      written = written && io::write(table, out, sizeof out) == sizeof out;
      at_end_ = !next_table_line();
    } while (!at_end_ && std::memcmp(line_ + kNameField, name, kNameField) == 0);
    return written ? kDone : kCannotOpen;
  }

  // The next line of at least 19 characters; false at the end.
  bool next_table_line() {
    while (reader_.gets(line_, kLineBuffer))
      if (std::strlen(line_) >= kTableLineMin) return true;
    return false;
  }

  ChunkReader reader_;
  io::Replacements tables_;
  const char *directory_;
  char line_[kLineBuffer] = {};
  bool at_end_ = false;
};

int split(const char *input_field, const char *directory_field) {
  char input[kInputMax + 1];
  char directory[kDirectoryMax + 1];
  if (!field_text(directory_field, kDirectoryMax, directory)) {
    std::printf(" open output file failed \n");
    return kCannotOpen;
  }
  FILE *stream = field_text(input_field, kInputMax, input) ? io::open(input, "r") : nullptr;
  if (!stream) {
    std::printf(" open input file failed \n");
    return kCannotOpen;
  }
  int rc = Splitter(stream, directory).run();
  io::close(stream);
  return rc;
}

}  // namespace
}  // namespace pcs::catalog

extern "C" {

PCS_API void cstabl(const char *input, const char *directory, int *rc) {
  if (!rc) return;
  pcs::guarded(rc, PCS_TABLE_CANNOT_OPEN, [&] { *rc = pcs::catalog::split(input, directory); });
}

}  // extern "C"
