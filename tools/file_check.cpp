// The checks of `pcs check`: walks over catalogs, index files and keyed
// group files that note every damaged place with its offset.
#include "tools/file_check.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "include/pcs.h"
#include "tools/index_check.h"
#include "tools/progress.h"

namespace pcs::tools {

void Findings::at(int64_t offset, const std::string &what) {
  if (out_)
    std::fprintf(out_, "%s: offset %lld: %s\n", file_.c_str(), static_cast<long long>(offset),
                 what.c_str());
  else
    places_.emplace_back(offset, what);
  ++count_;
}

void Findings::refused(int64_t offset, const std::string &what) {
  long long where_at = 0;
  const char *where = csdamage(&where_at);
  if (verbose_ && where)
    at(offset, what + "; the reader refused the bytes at offset " + std::to_string(where_at) +
                   " (" + where + ")");
  else
    at(offset, what);
}

void Findings::end(const WalkEnd &end) {
  if (end.kind != WalkEnd::clean) at(end.offset, end.reason());
}

bool looks_like_index(const std::string &path) {
  char header[PCS_INDEX_HEADER] = {};
  FILE *file = std::fopen(path.c_str(), "rb");
  const size_t got = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  if (got != sizeof header || header[PCS_INDEX_HEADER - 1] != '\n') return false;
  return std::strspn(header, " -0123456789") == PCS_INDEX_HEADER - 1;
}

bool ends_with_newline(FILE *stream, const RecordStep &at) {
  std::fseek(stream, static_cast<long>(at.offset + at.length - 1), SEEK_SET);
  return std::fgetc(stream) == '\n';
}

Starts check_catalog(const std::string &path, Findings &found) {
  Starts starts;
  found.end(walk_records(path, 16, [&](FILE *stream, const RecordStep &at) {
    starts.insert(at.offset);
    if (at.flag != 0 && at.flag != 1)
      found.at(at.offset,
               "flag word " + std::to_string(at.flag) + " is neither 0 (live) nor 1 (deleted)");
    if (!ends_with_newline(stream, at))
      found.at(at.offset, "the record does not end with a newline");
    int length = 0, rc = 0;
    csdamage(nullptr);  // forget a refusal of an earlier file
    PartRecord *part =
        at.flag == 0 ? cspgetrc(stream, static_cast<int>(at.offset), &length, &rc) : nullptr;
    if (at.flag == 0 && !part)
      found.refused(at.offset,
                    "an offset, count or size of the record leaves it (or memory ran out)");
    cspgfre(part);
  }));
  return starts;
}

namespace {

// The records of one key in an index, checked when the key changes.
struct Run {
  std::string key;
  int64_t first = 0;
  std::vector<std::pair<int64_t, int>> counts;  // offset, count field
  bool unreadable = false;                      // a record inside it could not be read
};

void check_run(FILE *index, const Run &run, Findings &found) {
  if (run.counts.empty() || run.unreadable) return;
  const int records = static_cast<int>(run.counts.size());
  for (const auto &[offset, count] : run.counts) {
    if (count != records)
      found.at(offset, "count field " + std::to_string(count) + ", but the key has " +
                           std::to_string(records) + " record(s)");
  }
  int count = 0, first = 0, rc = 0;
  csalku(&index, run.key.data(), &count, &first, &rc);
  if (rc != 0 || first != run.first)
    found.at(run.first, "the key's first-record field does not point at its first record");
}

}  // namespace

void check_index(const std::string &path, const std::string &catalog, const Starts &starts,
                 const RecordKeys *keys, Findings &found) {
  FILE *index = std::fopen(path.c_str(), "rb");
  if (!index) fail(path + ": cannot open the file: " + std::strerror(errno));
  int record_length = 0, rc = 0;
  csailn(&index, &record_length, &rc);
  if (rc != 0) {
    found.at(0, "the header's record count and key length do not match the file's size");
    std::fclose(index);
    return;
  }
  const size_t key_length = static_cast<size_t>(record_length - PCS_INDEX_OVERHEAD);
  if (keys && !keys->empty() && keys->begin()->second.size() != key_length) {
    found.at(0, "the key length " + std::to_string(key_length) + " is not that of the key fields");
    keys = nullptr;
  }
  std::string key(key_length, ' ');
  // Without key fields, each key is checked against the record's attributes.
  FILE *records = keys ? nullptr : std::fopen(catalog.c_str(), "rb");
  std::set<int64_t> indexed;
  Run run;
  std::fseek(index, 0, SEEK_END);
  const long end = std::ftell(index);
  ProgressBar bar("checking " + path, end);
  for (int at = csidxfst(); at < end; at += record_length) {
    bar.update(at);
    int data = 0;
    const int count = cspgread(index, at, &data, key.data(), &rc);
    if (rc != 0) {
      found.at(at, "the number fields are not numbers");
      run.unreadable = true;
      continue;
    }
    if (!ends_with_newline(index, {at, record_length, 0}))
      found.at(at, "the index record does not end with a newline");
    indexed.insert(data);
    if (starts.count(data) == 0)
      found.at(at, "catalog offset " + std::to_string(data) + " is not the start of a record of " +
                       catalog);
    if (const auto record = keys ? keys->find(data) : RecordKeys::const_iterator();
        keys && record != keys->end() && record->second != key)
      found.at(at, "the key is not that of the record at catalog offset " + std::to_string(data) +
                       ": the index is stale");
    else if (!keys && starts.count(data) != 0 && records)
      if (const std::string problem = index_target_problem(records, data, key, {}); !problem.empty())
        found.at(at, "the record at catalog offset " + std::to_string(data) + " " + problem +
                         ": the index is stale");
    if (!run.counts.empty() && key != run.key) {
      if (std::memcmp(key.data(), run.key.data(), key_length) < 0)
        found.at(at, "the key is below the key before it: the index is not sorted");
      check_run(index, run, found);
      run = Run{};
    }
    if (run.counts.empty()) run = Run{key, at, {}};
    run.counts.emplace_back(at, count);
  }
  check_run(index, run, found);
  std::fclose(index);
  if (records) std::fclose(records);
  // Every live record of the catalog has its index record; an empty or
  // stale index lacks some.
  int64_t missing = 0, first = -1;
  walk_records(catalog, 16, [&](FILE *, const RecordStep &at) {
    if (at.flag != 0 || indexed.count(at.offset)) return;
    if (missing++ == 0) first = at.offset;
  });
  if (missing > 0)
    found.at(0, std::to_string(missing) + " live record(s) of " + catalog +
                    " are not in the index (the first at catalog offset " +
                    std::to_string(first) + "): the index is stale or empty; rebuild it");
}

namespace {

// The key of the keyed record at `offset` whatever its status word: its
// bytes are read as a live record from a copy with the status cleared.
// False when the record cannot be read.
bool key_of_any(FILE *stream, int64_t offset, int32_t length,
                const std::vector<KeyField> &fields, std::string *key) {
  std::string bytes(static_cast<size_t>(length), '\0');
  if (std::fseek(stream, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fread(bytes.data(), 1, bytes.size(), stream) != bytes.size())
    return false;
  std::memset(bytes.data() + 4, 0, 4);
  FILE *copy = std::tmpfile();
  if (!copy) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), copy) != bytes.size() || std::fflush(copy) != 0) {
    std::fclose(copy);
    return false;
  }
  KeyedGroup *list = nullptr;
  int position = 0, read_length = 0, rc = 0;
  cspgtr(&copy, &position, &read_length, &list, &rc);
  bool complete = true;
  if (rc == 0) *key = keyed_key(fields, &list, &complete);
  cspfre(&list);
  std::fclose(copy);
  return rc == 0;
}

}  // namespace

void check_keyed(const std::string &path, const std::vector<KeyField> &fields, Findings &found) {
  std::map<std::string, int64_t> keys;
  std::map<int64_t, int32_t> lengths;               // every record start
  std::vector<std::pair<int64_t, int32_t>> replaced;  // offset, status word
  found.end(walk_records(path, 12, [&](FILE *stream, const RecordStep &at) {
    lengths[at.offset] = at.length;
    if (at.flag != 0 && at.flag != -1) replaced.emplace_back(at.offset, at.flag);
    KeyedGroup *list = nullptr;
    int position = static_cast<int>(at.offset), length = 0, rc = 0;
    csdamage(nullptr);
    cspgtr(&stream, &position, &length, &list, &rc);
    bool complete = true;
    const std::string key = rc == 0 ? keyed_key(fields, &list, &complete) : "";
    cspfre(&list);
    if (rc == 1) fail(path + ": cannot check the file" + code_text(PCS_NO_MEMORY));
    if (rc != 0 && rc != 7)
      found.refused(
          at.offset,
          "the record is damaged (an offset, count or length leaves it, or no closing newline)");
    if (rc != 0) return;
    if (!complete)
      found.at(at.offset, "a key attribute is missing or not as long as its key field");
    else if (const auto [it, added] = keys.emplace(key, at.offset); !added)
      found.at(at.offset,
               "the live record at offset " + std::to_string(it->second) + " has the same key");
  }));
  // A replaced record points to a later record with its key; any other
  // status word hides a record (a flipped bit).
  FILE *stream = replaced.empty() ? nullptr : std::fopen(path.c_str(), "rb");
  for (const auto &[offset, status] : replaced) {
    const auto target = lengths.find(status);
    std::string key, target_key;
    const bool same = status > offset && target != lengths.end() && stream &&
                      key_of_any(stream, offset, lengths[offset], fields, &key) &&
                      key_of_any(stream, status, target->second, fields, &target_key) &&
                      key == target_key;
    if (!same)
      found.at(offset, "status word " + std::to_string(status) +
                           " is neither 0 (live), -1 (deleted) nor the offset of a later record "
                           "with the same key");
  }
  if (stream) std::fclose(stream);
}

}  // namespace pcs::tools
