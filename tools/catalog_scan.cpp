// Whole-file walks for the commands that look before they act.
#include "tools/catalog_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "tools/catalog_values.h"
#include "tools/command.h"
#include "tools/progress.h"

namespace pcs::tools {
namespace {

int32_t be32(const unsigned char *b) {
  return static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) |
                              (uint32_t{b[2]} << 8) | uint32_t{b[3]});
}

// Largest value the duplicate merge treats as blank.
constexpr int kBlankValueMax = 26;

bool blank(const char *bytes, int length) {
  return length <= kBlankValueMax &&
         std::all_of(bytes, bytes + length, [](char c) { return c == ' '; });
}

// The values of one attribute as the key field holds them.
void copy_field(PartRecord *part, const KeyField &f, bool collapse, char *field) {
  const std::string group = name_field(f.group), attribute = name_field(f.attribute);
  int count = 0, length = 0, rc = 0;
  cspgretn(part, group.c_str(), attribute.c_str(), &count, &length, &rc);
  if (rc != 0) return;
  std::string values(static_cast<size_t>(count) * static_cast<size_t>(length), ' ');
  cspgretv(part, group.c_str(), attribute.c_str(), values.data(), &rc);
  if (rc != 0) return;
  if (collapse && count > 1) {
    char *first = values.data(), *second = first + length;
    for (int i = 1; i < count; ++i) {
      const char *v = first + static_cast<size_t>(i) * static_cast<size_t>(length);
      if (!blank(v, length) && std::strncmp(v, first, static_cast<size_t>(length)) != 0) {
        std::memmove(second, v, static_cast<size_t>(length));
        break;
      }
    }
    if (std::strncmp(second, first, static_cast<size_t>(length)) == 0)
      std::memset(second, ' ', static_cast<size_t>(length));
  }
  std::memcpy(field, values.data(), std::min(values.size(), static_cast<size_t>(f.length)));
}

bool carries(PartRecord *part, const KeyField &f) {
  int count = 0, length = 0, rc = 0;
  cspgretn(part, name_field(f.group).c_str(), name_field(f.attribute).c_str(), &count, &length,
           &rc);
  return rc == 0;
}

// Takes the length word of the record at end->offset from its first `got`
// bytes (8 unless the file ends sooner); false, with end->kind set, when
// no record of at least `min_length` bytes fits the file there.
bool record_fits(const unsigned char *head, size_t got, int32_t min_length, WalkEnd *end) {
  end->length = got >= 4 ? be32(head) : 0;
  if (got == 8 && end->length < min_length) {
    end->kind = WalkEnd::short_length;
    return false;
  }
  if (got < 8 || end->length > end->file_size - end->offset) {
    end->kind = WalkEnd::torn;
    return false;
  }
  return true;
}

}  // namespace

std::string WalkEnd::reason() const {
  if (kind == short_length)
    return "length word " + std::to_string(length) +
           " is too small for a record: the records after it cannot be found";
  if (kind == torn)
    return "the record runs past the end of the file (length word " + std::to_string(length) +
           ", " + std::to_string(file_size - offset) + " bytes present): a torn last record";
  return "";
}

std::string WalkEnd::text() const {
  return "record at offset " + std::to_string(offset) + ": " + reason();
}

WalkEnd walk_records(const std::string &path, int32_t min_length,
                     const std::function<void(FILE *, const RecordStep &)> &step) {
  FILE *stream = std::fopen(path.c_str(), "rb");
  if (!stream) fail(path + ": cannot open the file: " + std::strerror(errno));
  // Record heads are read front to back: in large reads (up to 1 MiB, no
  // more than the file holds), not one per record.
  struct stat status {};
  const size_t size = fstat(fileno(stream), &status) == 0 ? static_cast<size_t>(status.st_size) : 0;
  const size_t buffer_size = std::clamp<size_t>(size, BUFSIZ, size_t{1} << 20);
  std::unique_ptr<char[]> buffer(new char[buffer_size]);
  std::setvbuf(stream, buffer.get(), _IOFBF, buffer_size);
  WalkEnd end;
  std::fseek(stream, 0, SEEK_END);
  end.file_size = std::ftell(stream);
  ProgressBar bar("reading " + path, end.file_size);
  for (end.offset = 0; end.offset < end.file_size; end.offset += end.length) {
    bar.update(end.offset);
    unsigned char head[8] = {};
    std::fseek(stream, static_cast<long>(end.offset), SEEK_SET);
    const size_t got = std::fread(head, 1, sizeof head, stream);
    if (!record_fits(head, got, min_length, &end)) break;
    step(stream, {end.offset, end.length, be32(head + 4)});
  }
  const int error = errno;
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) fail(path + ": cannot read the file: " + std::strerror(error));
  return end;
}

namespace {

// A catalog read front to back in large blocks, each record's bytes whole
// in memory in turn.
class BlockReader {
 public:
  BlockReader(FILE *stream, int64_t size) : stream_(stream), size_(size) {}
  // The file bytes [at, at + n), which the caller has checked lie inside
  // the file; null when they cannot be read.
  const unsigned char *bytes(int64_t at, size_t n) {
    if (at < start_ || at + static_cast<int64_t>(n) > start_ + static_cast<int64_t>(held_)) {
      if (n > buffer_.size()) buffer_.resize(n);
      start_ = at;
      held_ = 0;
      const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer_.size()), size_ - at));
      if (std::fseek(stream_, static_cast<long>(at), SEEK_SET) != 0) return nullptr;
      held_ = std::fread(buffer_.data(), 1, want, stream_);
      if (held_ < n) return nullptr;
    }
    return buffer_.data() + (at - start_);
  }

 private:
  FILE *stream_;
  int64_t size_;
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(size_t{4} << 20);
  int64_t start_ = 0;
  size_t held_ = 0;
};

}  // namespace

WalkEnd walk_record_bytes(const std::string &path, int32_t min_length,
                          const std::function<void(const RecordStep &, const unsigned char *)> &step) {
  FILE *stream = std::fopen(path.c_str(), "rb");
  if (!stream) fail(path + ": cannot open the file: " + std::strerror(errno));
  std::setvbuf(stream, nullptr, _IONBF, 0);
  WalkEnd end;
  std::fseek(stream, 0, SEEK_END);
  end.file_size = std::ftell(stream);
  BlockReader reader(stream, end.file_size);
  ProgressBar bar("reading " + path, end.file_size);
  bool unread = false;
  for (end.offset = 0; end.offset < end.file_size; end.offset += end.length) {
    bar.update(end.offset);
    const size_t got = static_cast<size_t>(std::min<int64_t>(8, end.file_size - end.offset));
    const unsigned char *head = reader.bytes(end.offset, got);
    if (!head) {
      unread = true;
      break;
    }
    if (!record_fits(head, got, min_length, &end)) break;
    const unsigned char *record = reader.bytes(end.offset, static_cast<size_t>(end.length));
    if (!record) {
      unread = true;
      break;
    }
    step({end.offset, end.length, be32(record + 4)}, record);
  }
  const int error = errno;
  std::fclose(stream);
  if (unread) fail(path + ": cannot read the file: " + std::strerror(error));
  return end;
}

int KeyScan::blank_keys() const {
  return static_cast<int>(
      std::count_if(records.begin(), records.end(), [](const KeyedRecord &r) { return r.blank; }));
}

int KeyScan::duplicates() const {
  // Keys compare up to their first 0 byte, as C strings.
  std::vector<std::string_view> keys;
  keys.reserve(records.size());
  for (const KeyedRecord &r : records) keys.emplace_back(r.key.c_str());
  std::sort(keys.begin(), keys.end());
  int extra = 0;
  for (size_t i = 1; i < keys.size(); ++i) extra += keys[i] == keys[i - 1];
  return extra;
}

std::string part_key(PartRecord *part, const std::vector<KeyField> &fields, bool collapse) {
  size_t key_length = 0;
  for (const KeyField &f : fields) key_length += static_cast<size_t>(std::max(f.length, 0));
  std::string key(key_length, ' ');
  size_t position = 0;
  for (const KeyField &f : fields) {
    copy_field(part, f, collapse, key.data() + position);
    position += static_cast<size_t>(std::max(f.length, 0));
  }
  return key;
}

KeyScan scan_keys(const std::string &catalog, const std::vector<KeyField> &fields, bool collapse) {
  KeyScan scan;
  scan.carried.assign(fields.size(), false);
  scan.end = walk_records(catalog, 16, [&](FILE *stream, const RecordStep &at) {
    if (at.flag != 0) {
      ++scan.deleted;
      return;
    }
    int length = 0, rc = 0;
    PartRecord *part = cspgetrc(stream, static_cast<int>(at.offset), &length, &rc);
    if (!part) {
      ++scan.unreadable;
      return;
    }
    for (size_t i = 0; i < fields.size(); ++i)
      if (carries(part, fields[i])) scan.carried[i] = true;
    const std::string key = part_key(part, fields, collapse);
    cspgfre(part);
    const bool is_blank = key.find_first_not_of(' ') == std::string::npos;
    scan.records.push_back({at.offset, key, is_blank});
  });
  return scan;
}

namespace {

// "GROUP.ATTRIBUTE" of every attribute the live records of a catalog carry.
std::vector<std::string> carried_names(const std::string &catalog) {
  std::set<std::string> names;
  walk_records(catalog, 16, [&](FILE *stream, const RecordStep &at) {
    int length = 0, rc = 0;
    PartRecord *part = at.flag == 0 ? cspgetrc(stream, static_cast<int>(at.offset), &length, &rc) : nullptr;
    for (const Field &f : record_fields(part, Schema()))
      names.insert(f.group + "." + f.attribute);
    if (part) cspgfre(part);
  });
  return {names.begin(), names.end()};
}

}  // namespace

void require_carried(const KeyScan &scan, const std::vector<KeyField> &fields,
                     const std::string &catalog) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (scan.carried[i]) continue;
    const std::string name = fields[i].group + "." + fields[i].attribute;
    const std::string hint = did_you_mean(name, carried_names(catalog));
    fail(catalog + ": no live record carries the key attribute " + name +
         (hint.empty() ? " (check the group and attribute names)" : hint));
  }
}

std::string keyed_key(const std::vector<KeyField> &fields, KeyedGroup **list, bool *complete) {
  std::string key;
  if (complete) *complete = true;
  for (const KeyField &f : fields) {
    const std::string g = name_field(f.group), a = name_field(f.attribute);
    std::string value(static_cast<size_t>(std::max(f.length, 0)), ' ');
    int length = 0, rc = 0;
    cspgtl(g.c_str(), a.c_str(), list, &length, &rc);
    if (rc == 0 && length == f.length) cspgtv(g.c_str(), a.c_str(), list, value.data(), &rc);
    if (complete && (rc != 0 || length != f.length)) *complete = false;
    key += value;
  }
  return key;
}

bool same_file(const std::string &a, const std::string &b) {
  struct stat sa {
  }, sb{};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool has_content(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && status.st_size > 0;
}

}  // namespace pcs::tools
