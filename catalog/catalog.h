// Internal operations of the catalog files: checked readers of the catalog
// record header and the index file header and records, the index search
// shared by the public lookups, path expansion and sort keys.
//
// Catalog record (32-bit big-endian words): L | deleted flag | offset of G
// (12) | G | G group offsets | groups | newline; L counts every byte.
// Index file: "%12d%4d\n" header (N, K), then N records of R = K + 29 bytes:
// "%4d" count | "%12d" catalog offset | "%12d" first record of the key |
// K key bytes | newline.
#ifndef PCS_CATALOG_CATALOG_H
#define PCS_CATALOG_CATALOG_H

#include <cstdint>
#include <climits>
#include <cstdio>
#include <memory>
#include <string_view>

#include "common/coding.h"
#include "common/memory.h"
#include "common/prefix_samples.h"
#include "common/record_codec.h"
#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs::catalog {

// ---- catalog records --------------------------------------------------------

// Smallest record length a reader accepts: the four header words.
inline constexpr int32_t kRecordMinLength = 16;
inline constexpr int32_t kGroupCountOffset = codec::kCatalogDirectory;

// Codes of cspgetrc and cspgkey.
inline constexpr int kReadFailed = PCS_RECORD_UNREADABLE;
inline constexpr int kReadDeleted = PCS_RECORD_IS_DELETED;
inline constexpr int kCollectNoMemory = PCS_RECORD_SCAN_NO_MEMORY;

// Length word and deleted flag of the record at `offset`.
struct RecordHead {
  int32_t length;
  int32_t deleted;
};

// Reads the length and flag words at `offset` and checks the length against
// the file: at least kRecordMinLength and not past the end. False (and
// nothing to trust) otherwise.
bool read_record_head(FILE *stream, int64_t offset, RecordHead *head);


// Rebuilds the part record whose bytes (length word first) are
// [bytes, bytes + size), following and checking every stored offset as
// cspgetrc does: 0, codec::kDamaged or PCS_NO_MEMORY; *part is null unless
// 0. The second form gives null for either failure.
int decode_record(const unsigned char *bytes, size_t size, PartRecord **part);
PartRecord *decode_record(const unsigned char *bytes, size_t size);

// Builds the key of the record whose bytes are [bytes, bytes + size) into
// `key` (key_length bytes, blank-filled by the caller): for each field of
// `description` (host array of 16-byte group + attribute names) in turn,
// the attribute's values cut to the field's width, as cspgretn and cspgretv
// would give them from the record cspgetrc reads. A missing group or
// attribute leaves its field blank and is reported as the lookup reports
// it. With `collapse`, an attribute of several values gives its first value
// followed by the first later value that is neither blank nor equal to it
// (a blank value when there is none). False when the record is damaged
// (cspgetrc would refuse it) or memory runs out.
bool record_key(const unsigned char *bytes, size_t size, bool collapse, void *description,
                const int *widths, int key_length, char *key);
// The same through the part record decode_record builds: slower, kept as
// the reference and for records with many attributes.
bool part_record_key(const unsigned char *bytes, size_t size, bool collapse, void *description,
                     const int *widths, int key_length, char *key);

// record_key for the records of one file read in turn with one description:
// where a record has the shape of the last one read (codec::Shape), the
// same value copies and reports are replayed on its bytes without a walk.
// Refusals are noted at the record's `offset` in the file.
class RecordKeyReader {
 public:
  RecordKeyReader(bool collapse, void *description, const int *widths, int key_length)
      : collapse_(collapse), description_(description), widths_(widths), key_length_(key_length) {}
  bool read(const unsigned char *bytes, size_t size, int64_t offset, char *key);
  // The key of a record shaped like the last one read, by replaying its
  // steps; false, with nothing done, for a record of another shape.
  bool replay(const unsigned char *bytes, size_t size, char *key) const;
  // True when replay() reports nothing and calls no host service (a shape
  // is learnt and no step reports a missing field), so a copy of this
  // reader can replay on another thread.
  bool quiet() const;

  // One field's part of the key: values copied from record offset `from`,
  // or (with `missing`) the report of a missing group or attribute.
  struct Step {
    const char *missing;
    int rc;
    int32_t from, count, length;
    int width, position;
  };

 private:
  bool collapse_;
  void *description_;
  const int *widths_;
  int key_length_;
  codec::ShapeMemo<Step, 32> memo_;
};


// ---- key readers (csgrn.cpp) -------------------------------------------------

// Codes of the key readers.
inline constexpr int kKeysDone = PCS_OK;
inline constexpr int kKeysNoFile = PCS_KEYS_NO_FILE;
inline constexpr int kKeysUnreadable = PCS_KEYS_UNREADABLE;

// The key reader of the duplicate merge: csgia, except that an attribute of
// several values gives its first value followed by the first value that is
// neither blank nor equal to it (or a blank value when there is none).
int csgia2(const char *catalog_path, const int *field_count, void *description, const int *widths,
           int record_count, int key_length, KeyRecord *records, int *filled);
// Line counter of text files (csgrc).
int GetRecordCount(const char *path);

// ---- record writes (cspgwrt.cpp, csgrewrt.cpp) -------------------------------

// Writes the record as `length` bytes (at least its size; zero bytes pad a
// shorter one before the closing newline) at the end of the stream or at
// `at`. *start receives where it began (-1 when nothing moved), *rc 0,
// PCS_NO_MEMORY, PCS_SHORT_WRITE or the group writer's code. Returns the
// bytes written. Nothing is flushed.
int64_t write_record_at(PartRecord *record, int64_t length, FILE *stream, bool append,
                        int64_t at, int64_t *start, int *rc);
// Lays into out[0..length) the bytes write_record_at writes for the record
// in place of a record of `length` bytes (at least the record's size).
void lay_in_place(PartRecord *record, int32_t length, unsigned char *out);
// Rewrites the records at offsets[0..count) in place with records[k] (each
// no longer than the one it replaces, which keeps its length), all under
// one rollback journal, and syncs: *rc 0, PCS_NO_MEMORY, PCS_SHORT_WRITE
// (refused before anything is written, or a write failed and the old bytes
// were put back) or the group writer's code. Records without groups are
// left alone. Returns the bytes written. Nothing is reported.
int64_t rewrite_records(FILE *stream, int count, const int64_t *offsets,
                        PartRecord *const *records, int *rc);

// ---- rollback journal (journal.cpp) -----------------------------------------

// One saved record of a journal: where it stood, its old bytes and the
// bytes the rewrite puts there (both `length` long).
struct JournalRecord {
  int64_t offset;
  int32_t length;
  const unsigned char *bytes;
  const unsigned char *replacement;
};
// A journal's bytes, as written to disk.
struct JournalImage {
  HostPtr<unsigned char> bytes;
  size_t size = 0;
};
// CRC-32 (the zlib polynomial) of the bytes: the journal's checksum.
uint32_t journal_crc(const unsigned char *bytes, size_t size);
// Reads the record entry at *at of a journal whose entries end by `end`,
// and moves *at past it; false when it does not fit.
bool journal_record(const unsigned char *bytes, size_t end, size_t *at, JournalRecord *record);
// Builds the journal of rewriting the records at `offsets` (any order, no
// record twice) of the catalog behind the stream with `records` (each
// fitting the record it replaces): 0, PCS_NO_MEMORY, or PCS_SHORT_WRITE
// when a record cannot be read.
int build_journal(FILE *catalog, const int64_t *offsets, PartRecord *const *records, int count,
                  JournalImage *image);
// Writes every saved record of a (checked) journal back and syncs.
bool put_back_journal(FILE *catalog, const unsigned char *bytes, size_t size);

// What became of a journal found beside a catalog.
enum class Recovery { clean, applied, set_aside, busy, failed };
// Applies the journal an interrupted rewrite of the catalog left, once its
// writer is gone (waits about a second for a live writer, then answers
// busy with a message); a journal that does not belong to the catalog as
// it is now, or is damaged, is set aside with a message.
Recovery recover_journal(const char *catalog_path);
// True when no journal is left to apply (clean, applied, set aside).
bool recover_catalog(const char *catalog_path);
// recover_catalog for the catalog behind a stream (true without a path).
bool recover_stream(FILE *catalog);
// Test hook: journals are made under a temporary name, as on file systems
// without unnamed files, while `on`.
void test_force_named_journal(bool on);

// The journal of a rewrite in progress, on disk and locked while the
// object holds it.
class LiveJournal {
 public:
  LiveJournal() = default;
  ~LiveJournal() { release(); }
  LiveJournal(const LiveJournal &) = delete;
  LiveJournal &operator=(const LiveJournal &) = delete;
  // Puts the image on disk beside the catalog behind the stream: 0 (also
  // when the stream has no path: nothing to protect against then) or
  // PCS_SHORT_WRITE (cannot write it, or another rewrite is running).
  int save(FILE *catalog, const JournalImage &image);
  // The new bytes are on disk: removes the journal and lets go of it.
  void finish();
  // Lets go of the journal and leaves it for the next opener.
  void release();

 private:
  FILE *stream_ = nullptr;
  char path_[PATH_MAX] = {};
};

// ---- index files ------------------------------------------------------------

struct IndexCopy;

// A checked index header: 0 <= N, 1 <= K <= PCS_KEY_MAX and the file holds
// exactly 17 + N * R bytes. `copy`, when set, is the whole file as it stands
// (index_cache.cpp): records are then taken from it instead of read.
struct IndexHeader {
  int32_t count;
  int32_t key_length;
  std::shared_ptr<const IndexCopy> copy;

  int32_t record_length() const { return key_length + PCS_INDEX_OVERHEAD; }
  int64_t end() const { return PCS_INDEX_HEADER + int64_t{count} * record_length(); }
  // True when `offset` is the start of one of the N records.
  bool is_record(int64_t offset) const {
    return offset >= PCS_INDEX_HEADER && offset < end() &&
           (offset - PCS_INDEX_HEADER) % record_length() == 0;
  }
};

// Parses a right-aligned decimal field of `width` characters ("%4d",
// "%12d"): blanks, an optional minus, then digits to the end of the field.
bool parse_field(const char *field, int width, int32_t *value);

// Reads the 17-byte header without checking it against the file: N and K as
// parsed (0 for a field that does not parse). False when there is no header.
bool read_index_fields(FILE *index, int32_t *count, int32_t *key_length);
// Reads and checks the header; false for anything not to be trusted. The
// header carries the held copy of the file when there is a current one.
bool read_index_header(FILE *index, IndexHeader *header);
// Checks the header at the start of the `size` bytes of a whole index file.
bool parse_index_header(const char *bytes, int64_t size, IndexHeader *header);

// What tells one version of a file from another, as fstat gives it.
struct FileIdentity {
  uint64_t device;
  uint64_t inode;
  int64_t size;
  int64_t mtime;  // nanoseconds
  int64_t ctime;
  bool operator==(const FileIdentity &) const = default;
};
// A whole index file held in memory, with its checked header. Beside it,
// when there was memory for them, each record's key prefix: the eight key
// bytes after the `common` bytes that every key starts with (key_prefix).
// A search compares prefixes, held together in a few cache-friendly pages,
// and looks at a record's key only where the prefixes are equal. When the
// prefixes never decrease (an index in order), samples of them are also
// kept, and a search narrows to one step of prefixes through them.
struct IndexCopy {
  FileIdentity id;
  IndexHeader header;
  std::unique_ptr<char[]> bytes;
  std::unique_ptr<uint64_t[]> prefixes;
  size_t common = 0;
  PrefixSamples samples;
};

// The held copy of the index behind the stream when it is current (one
// fstat), after reading one when the file has not changed for a while;
// null when the file must be read record by record.
std::shared_ptr<const IndexCopy> current_index_copy(FILE *index);
// Releases every held copy.
void release_index_copies();

// One index record, its key pointing into the caller's buffer.
struct IndexEntry {
  int32_t count;
  int32_t data_offset;
  int32_t first;
  const char *key;
};
// Room for the longest index record.
inline constexpr int kIndexRecordMax = PCS_KEY_MAX + PCS_INDEX_OVERHEAD;

// Reads the record at `offset` (a record start) into `buffer` (at least
// kIndexRecordMax bytes) and parses its three number fields.
bool read_index_entry(FILE *index, const IndexHeader &header, int64_t offset, char *buffer,
                      IndexEntry *entry);

// Binary search for `key` (compared over K bytes as strncmp does). True when
// found and the record's count and first-record offset describe a run of
// records inside the index that contains it. `data_offset`, when given, gets
// that record's own catalog offset (the part's, when the count is 1).
bool index_lookup(FILE *index, const IndexHeader &header, const char *key, int32_t *count,
                  int32_t *first, int32_t *data_offset = nullptr);

// Catalog offset of record number k (from 1) of the key whose run starts at
// `first`; false when that index record cannot be read.
bool index_data_offset(FILE *index, const IndexHeader &header, int32_t first, int32_t k,
                       int32_t *data_offset);

// Sets the deleted flag of the catalog record at `offset` if it is 0. False
// when no whole record stands there (nothing is written then) or the
// write failed.
bool mark_deleted(FILE *catalog, int64_t offset);

// What an index points at: writes through an index go only to records
// that carry the key the index gives for them.
enum class KeyTarget {
  carries = PCS_KEY_TARGET_CARRIES,
  deleted = PCS_KEY_TARGET_DELETED,            // indexes keep pointing at those
  not_a_record = PCS_KEY_TARGET_NOT_A_RECORD,  // no whole record starts there
  other_key = PCS_KEY_TARGET_OTHER_KEY,        // a record that does not carry the key
};
KeyTarget check_key_target(FILE *catalog, int64_t offset, std::string_view key);

// ---- catalog access ---------------------------------------------------------

// Codes of decdir and of GetSortKey.
inline constexpr int kPathVariableUnset = 1;
inline constexpr int kPathTooLong = 2;
inline constexpr int kSortKeyNoMemory = 1;

// Expands a 0-terminated path: each "/"-separated component that starts
// with "$" is replaced by the environment variable it names. `expanded`
// receives PCS_CATALOG_PATH bytes at most, 0-terminated. Returns 0, 1 when
// a named variable is not set, 2 when the result is longer than
// PCS_PATH_MAX characters (`expanded` is then the empty string).
int decdir(const char *path, char *expanded);

// Builds the sort key of a part: the fields' values side by side, each field
// blank-padded or cut to its width, then a 0 byte. names: field_count
// addresses of 16 bytes (group name, attribute name). Returns 0, or 1 when a
// work buffer could not be obtained.
int GetSortKey(PartRecord *part, int field_count, char **names, const int *widths, char *key);

}  // namespace pcs::catalog

#endif
