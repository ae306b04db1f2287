// The line splitters of the table text formats (dump entry lines,
// comma-separated table lines, encoded-table entries), line reading and the
// converters' text output.
#include <cstring>
#include <new>

#include "common/fileio.h"
#include "generators/generators.h"
#include "include/pcs.h"

namespace pcs::generators {
namespace {

constexpr size_t kFieldMax = kFieldSize - 1;

void clear_from(Fields fields, int k) {
  for (; k < kFields; ++k) fields[k][0] = '\0';
}

// One dump value from p: copies until a blank, the end, a newline or column
// 72, stopping right after a character that a comma follows.
size_t copy_dump_value(const char *line, size_t *p, char *out) {
  size_t n = 0;
  if (line[*p] == ',') return 0;
  while (line[*p] != ' ' && line[*p] != '\0' && line[*p] != '\n' && *p < kCardEnd) {
    out[n++] = line[(*p)++];
    if (line[*p] == ',') break;
  }
  return n;
}

}  // namespace

void SplitDumpLine(const char *line, Fields fields) {
  size_t p = 0, n = 0;
  while (line[p] == ' ') ++p;
  while (line[p] != ' ' && line[p] != '\0' && n < kFieldMax) fields[0][n++] = line[p++];
  fields[0][n] = '\0';
  int k = 1;
  if (line[p] != '\n' && p < kCardEnd) {
    do {
      while (line[p] == ' ') ++p;
      n = copy_dump_value(line, &p, fields[k]);
      fields[k++][n] = '\0';
      if (line[p] == '\0') break;
      ++p;
    } while (line[p] != '\n' && p < kCardEnd && k < kFields);
  }
  clear_from(fields, k);
}

void SplitCsvLine(const char *line, Fields fields) {
  int k = 0;
  if (line[0] != '\n') {
    size_t p = 0;
    auto ends_field = [&] { return p >= kLineSize || line[p] == '\0' || line[p] == '\n'; };
    do {
      size_t n = 0;
      if (line[p] != ',') {
        while (!ends_field() && n < kFieldMax) {
          fields[k][n++] = line[p++];
          if (p < kLineSize && line[p] == ',') break;
        }
      }
      fields[k++][n] = '\0';
      if (ends_field()) break;
      ++p;
    } while (p < kLineSize && line[p] != '\n' && k < kFields);
  }
  clear_from(fields, k);
}

void SplitEncodedEntry(const char *line, char *name, char *code, char *description) {
  name[0] = code[0] = description[0] = '\0';
  const char *p = line;
  while (*p != '\0' && !(*p >= 'A' && *p <= 'Z')) ++p;
  if (*p == '\0') return;
  size_t n = 0;
  while (*p != '\0' && *p != ' ' && n < kFieldMax) name[n++] = *p++;
  name[n] = '\0';
  while (*p == ' ') ++p;
  n = 0;
  if (*p != ',')
    while (*p != '\0' && *p != ',' && n < kFieldMax) code[n++] = *p++;
  code[n] = '\0';
  while (*p == ' ' || *p == ',') ++p;
  n = 0;
  for (; *p != '\0' && n < 40; ++p)
    if (!std::strchr(",'\r\n|", *p)) description[n++] = *p;
  description[n] = '\0';
}

FILE *LargeBuffer::serve(FILE *stream) {
  constexpr size_t kBytes = size_t{1} << 20;
  if (stream && !bytes_) bytes_.reset(new (std::nothrow) char[kBytes]);
  if (stream && bytes_) std::setvbuf(stream, bytes_.get(), _IOFBF, kBytes);
  return stream;
}

bool read_line(FILE *input, char *line) {
  std::memset(line, 0, kLineSize);
  return io::read_line(input, line, kLineSize) != nullptr;
}

int Output::end_line() {
  line_.push_back('\n');
  const bool written = file_ && io::write(file_, line_.data(), line_.size()) == line_.size();
  line_.clear();
  if (!written) file_ = nullptr;
  return written ? 0 : PCS_SHORT_WRITE;
}

int join_path(const char *dir, std::string_view name, char *path) {
  const size_t d = std::strlen(dir);
  if (d + 1 + name.size() > kPathMax) return PCS_PATH_TOO_LONG;
  std::memcpy(path, dir, d);
  path[d] = '/';
  std::memcpy(path + d + 1, name.data(), name.size());
  path[d + 1 + name.size()] = '\0';
  return 0;
}

}  // namespace pcs::generators
