// The checks of `pcs check`: walks over catalogs, index files and keyed
// group files that note every damaged place with its offset.
#include "tools/file_check.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "include/pcs.h"

namespace pcs::tool {

void Findings::at(int64_t offset, const std::string &what) {
  if (out_)
    std::fprintf(out_, "%s: offset %lld: %s\n", file_.c_str(), static_cast<long long>(offset),
                 what.c_str());
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
  Run run;
  std::fseek(index, 0, SEEK_END);
  const long end = std::ftell(index);
  for (int at = csidxfst(); at < end; at += record_length) {
    int data = 0;
    const int count = cspgread(index, at, &data, key.data(), &rc);
    if (rc != 0) {
      found.at(at, "the number fields are not numbers");
      run.unreadable = true;
      continue;
    }
    if (!ends_with_newline(index, {at, record_length, 0}))
      found.at(at, "the index record does not end with a newline");
    if (starts.count(data) == 0)
      found.at(at, "catalog offset " + std::to_string(data) + " is not the start of a record of " +
                       catalog);
    if (const auto record = keys ? keys->find(data) : RecordKeys::const_iterator();
        keys && record != keys->end() && record->second != key)
      found.at(at, "the key is not that of the record at catalog offset " + std::to_string(data) +
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
}

void check_keyed(const std::string &path, const std::vector<KeyField> &fields, Findings &found) {
  std::map<std::string, int64_t> keys;
  found.end(walk_records(path, 12, [&](FILE *stream, const RecordStep &at) {
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
}

}  // namespace pcs::tool
