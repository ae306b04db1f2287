// The checks of `pcs check`: each walks one file and notes every damaged
// place with its offset. Files that cannot be read fail the command.
#ifndef PCS_TOOLS_FILE_CHECK_H
#define PCS_TOOLS_FILE_CHECK_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/catalog_scan.h"

namespace pcs::tools {

// Damage found in one file, printed to `out` as it is found:
// "<file>: offset <n>: <what>", or kept for places() when `out` is null. With `verbose`, a record that the library's
// reader refused also says where the reader stopped.
class Findings {
 public:
  Findings(std::string file, FILE *out, bool verbose = false)
      : file_(std::move(file)), out_(out), verbose_(verbose) {}
  void at(int64_t offset, const std::string &what);
  // at(), adding with `verbose` the library's note of the refused bytes.
  void refused(int64_t offset, const std::string &what);
  // The walk's end when it stopped at damage.
  void end(const WalkEnd &end);
  int count() const { return count_; }
  // The damaged places, offset and what, when `out` is null.
  const std::vector<std::pair<int64_t, std::string>> &places() const { return places_; }

 private:
  std::string file_;
  FILE *out_;
  bool verbose_;
  int count_ = 0;
  std::vector<std::pair<int64_t, std::string>> places_;
};

// Index files start with a text header "%12d%4d\n"; catalogs with a binary
// length word.
bool looks_like_index(const std::string &path);

// True when the record's last byte is a newline.
bool ends_with_newline(FILE *stream, const RecordStep &at);

// Record starts of a checked catalog.
using Starts = std::set<int64_t>;

// Flag words, closing newlines, live records the reader refuses, and where
// the walk had to stop. Returns the record starts.
Starts check_catalog(const std::string &path, Findings &found);

// Keys of the live records of a catalog by offset, as an index holds them.
using RecordKeys = std::map<int64_t, std::string>;

// The header against the file size, each record's fields and newline, its
// catalog offset against `starts` (of `catalog`), key order, and each key's
// count and first-record fields; with `keys`, each key against the key of
// the live record it points at.
void check_index(const std::string &path, const std::string &catalog, const Starts &starts,
                 const RecordKeys *keys, Findings &found);

// Records the keyed reader refuses, live records without the key fields,
// and live records that share a key.
void check_keyed(const std::string &path, const std::vector<KeyField> &fields, Findings &found);

}  // namespace pcs::tools

#endif
