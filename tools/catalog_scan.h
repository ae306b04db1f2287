// Reading whole files for the commands that must look before they act:
// a walk over the records of a catalog or keyed group file that stops at
// damage it cannot step over, the sort keys of part records as the index
// builder and the duplicate merge build them, and file identity.
#ifndef PCS_TOOLS_CATALOG_SCAN_H
#define PCS_TOOLS_CATALOG_SCAN_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tools {

// Where a walk by length words ended.
struct WalkEnd {
  enum Kind { clean, short_length, torn } kind = clean;
  int64_t offset = 0;  // start of the record that ended the walk, or the file size
  int32_t length = 0;  // its length word
  int64_t file_size = 0;
  // What ended the walk, for short_length and torn.
  std::string reason() const;
  // "record at offset N: <reason>".
  std::string text() const;
};

// One step of a walk: the record at `offset` with its two header words.
struct RecordStep {
  int64_t offset;
  int32_t length;
  int32_t flag;
};

// Walks `path` from offset 0 by the records' length words (records shorter
// than `min_length` end the walk) and calls step() for each whole record.
// Fails the command when the file cannot be read.
WalkEnd walk_records(const std::string &path, int32_t min_length,
                     const std::function<void(FILE *, const RecordStep &)> &step);

// walk_records with each record's bytes in memory (the file is read in
// large blocks): step(at, bytes) for each whole record.
WalkEnd walk_record_bytes(const std::string &path, int32_t min_length,
                          const std::function<void(const RecordStep &, const unsigned char *)> &step);

// The live records of a catalog as the key readers see them, and their keys.
struct KeyedRecord {
  int64_t offset;
  std::string key;
  bool blank;
};
struct KeyScan {
  std::vector<KeyedRecord> records;  // live records in file order
  int deleted = 0;                   // records marked deleted
  int unreadable = 0;                // live records the reader refuses
  std::vector<bool> carried;         // per key field: some live record has it
  WalkEnd end;
  int blank_keys() const;
  // Records whose key another record of the scan holds too, less one per key.
  int duplicates() const;
};

// The key of a part from `fields` side by side (with `collapse` as below).
std::string part_key(PartRecord *part, const std::vector<KeyField> &fields, bool collapse);

// Reads every record of the catalog and builds its key from `fields` side
// by side. With `collapse`, an attribute of several values gives its first
// value and the first later value that is neither blank nor equal to it, as
// the duplicate merge compares parts.
KeyScan scan_keys(const std::string &catalog, const std::vector<KeyField> &fields, bool collapse);

// Fails the command with `what` unless some live record carries each field.
void require_carried(const KeyScan &scan, const std::vector<KeyField> &fields,
                     const std::string &catalog);

// The key of a keyed record's group list, as cspopn computes it from the
// key fields: each field the attribute's value when its length is the
// field's, blanks otherwise. `complete` (when given) tells whether every
// field was found with its length.
std::string keyed_key(const std::vector<KeyField> &fields, KeyedGroup **list,
                      bool *complete = nullptr);

// True when both paths name one existing file (same device and inode).
bool same_file(const std::string &a, const std::string &b);

// True when `path` exists and is not empty.
bool has_content(const std::string &path);

}  // namespace pcs::tools

#endif
