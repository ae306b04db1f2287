// Index targets and the check that each is a live record carrying its key.
#include "tools/index_check.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/host_services.h"
#include "tools/catalog_scan.h"

namespace pcs::tools {
namespace {

// The PARTNUM/PARTNO values of a query part cut or padded to `width`, or
// null when the part has none.
bool part_number_is(const CgGroup *part, const std::string &key) {
  for (; part; part = part->next) {
    if (std::strncmp(part->name, "PARTNUM ", PCS_NAME_LEN) != 0) continue;
    for (const CgAttribute *a = part->attributes; a; a = a->next) {
      if (std::strncmp(a->name, "PARTNO  ", PCS_NAME_LEN) != 0 || !a->values) continue;
      std::string value(reinterpret_cast<const char *>(a->values),
                        static_cast<size_t>(a->valueCount) * static_cast<size_t>(a->valueLength));
      value.resize(key.size(), ' ');
      return value == key;
    }
  }
  return false;
}

[[noreturn]] void stale(const std::string &catalog_path, const std::string &index_path,
                        int64_t offset, const std::string &problem, const std::string &how) {
  fail(index_path + ": the index is stale: the record at offset " + std::to_string(offset) +
       " of " + catalog_path + " " + problem + "; nothing changed (" + how + ")");
}

}  // namespace

std::string index_target_problem(FILE *catalog, int64_t offset, const std::string &key,
                                 const std::vector<KeyField> &fields) {
  const std::string other = "does not carry the key '" + trimmed(key) + "'";
  switch (cskeytgt(catalog, offset, key.data(), static_cast<int>(key.size()))) {
    case PCS_KEY_TARGET_DELETED: return "";  // deleting leaves the index as it was
    case PCS_KEY_TARGET_NOT_A_RECORD: return "is not the start of a readable record";
    case PCS_KEY_TARGET_OTHER_KEY: return other;
    default: break;
  }
  if (fields.empty()) return "";
  // Key fields given: the key built from them as the index builder builds it.
  int length = 0, rc = 0;
  PartRecord *part = cspgetrc(catalog, static_cast<int>(offset), &length, &rc);
  if (!part) return "is not the start of a readable record";
  const bool carried = part_key(part, fields, false) == key;
  cspgfre(part);
  return carried ? "" : other;
}

std::vector<IndexTarget> index_targets(const std::string &index_path, const std::string &key,
                                       int number) {
  FILE *index = std::fopen(index_path.c_str(), "rb");
  if (!index) fail(index_path + ": cannot open the file: " + std::strerror(errno));
  int record_length = 0, rc = 0, count = 0, first = 0;
  csailn(&index, &record_length, &rc);
  if (rc != 0) {
    std::fclose(index);
    fail(index_path + ": not an index file (its header does not match its size)");
  }
  const std::string padded = name_field(key, static_cast<size_t>(record_length - PCS_INDEX_OVERHEAD));
  csalku(&index, padded.c_str(), &count, &first, &rc);
  std::vector<IndexTarget> targets;
  for (int n = 1; rc == 0 && n <= count; ++n) {
    int at = first + (n - 1) * record_length, data = 0;
    csaget(&index, &at, &data, &rc);
    if (rc == 0 && (number == 0 || number == n)) targets.push_back({data, padded});
  }
  std::fclose(index);
  if (rc != 0 && count == 0) fail(index_path + ": key '" + key + "' not found");
  if (rc != 0) fail(index_path + ": an index record of key '" + key + "' cannot be read");
  if (number > count)
    fail(index_path + ": key '" + key + "' has no record " + std::to_string(number));
  return targets;
}

void require_index_targets(const std::string &catalog_path, const std::string &index_path,
                           const std::vector<IndexTarget> &targets,
                           const std::vector<KeyField> &fields) {
  FILE *catalog = std::fopen(catalog_path.c_str(), "rb");
  if (!catalog) fail(catalog_path + ": cannot open the file: " + std::strerror(errno));
  for (const IndexTarget &t : targets) {
    const std::string problem = index_target_problem(catalog, t.offset, t.key, fields);
    if (problem.empty()) continue;
    std::fclose(catalog);
    stale(catalog_path, index_path, t.offset, problem,
          "rebuild the index with pcs maint index " + catalog_path + " " + index_path +
              " -k GROUP.ATTR:LENGTH");
  }
  std::fclose(catalog);
}

void require_part_index(const std::string &parts_path, const std::string &index_path) {
  FILE *index = std::fopen(index_path.c_str(), "rb");
  int record_length = 0, rc = 1;
  if (index) csailn(&index, &record_length, &rc);
  FILE *parts = rc == 0 ? std::fopen(parts_path.c_str(), "rb") : nullptr;
  if (!parts) {
    if (index) std::fclose(index);
    return;  // the fold itself says which file it cannot use
  }
  std::string key(static_cast<size_t>(record_length - PCS_INDEX_OVERHEAD), ' '), problem;
  int data = 0, at = PCS_INDEX_HEADER;
  for (; problem.empty() && cspgread(index, at, &data, key.data(), &rc) > 0 && rc == 0;
       at += record_length) {
    CgGroup *part = nullptr;
    int position = data, length = 0;
    FILE *stream = parts;
    cggget(&stream, &position, &length, &part, &rc);
    if (rc != 0) problem = "is not a live part";
    else if (!part_number_is(part, key)) problem = "does not carry the key '" + trimmed(key) + "'";
    cggfre(part);
  }
  std::fclose(parts);
  std::fclose(index);
  if (!problem.empty())
    stale(parts_path, index_path, data, problem,
          "rebuild the index of the reference file by PARTNUM/PARTNO");
}

}  // namespace pcs::tools
