// The duplicate part merge (csprtdup): reads every live record's key with
// csgia2, sorts the keys with the older record first, and for each pair of
// neighbours with equal keys removes one record (the newer in mode 0, the
// older in mode 1): its host model object goes unless it is a pipe, the
// record is marked deleted, and the removal is reported to a host unit.
#include <algorithm>
#include <cstring>

#include "catalog/catalog.h"
#include "common/fileio.h"
#include "common/key_description.h"
#include "common/key_records.h"
#include "common/memory.h"
#include "common/report.h"
#include "host/host_model.h"

namespace pcs::catalog {
namespace {

constexpr int kKeyMax = 63;
constexpr int kMessageWidth = 81;
constexpr int kPartLineWidth = 80;
constexpr int kCategoryWidth = 24;
constexpr int kStampWidth = 16;

constexpr char kDuplicate[] = "   Duplicate part number was found in the catalog.";
constexpr char kKeepOld[] = "   *** WARNING Catalog keeping old part ...";
constexpr char kKeepNew[] = "   Catalog has been updated with new part ...";
constexpr char kPartNumber[] = "   Part Number = ";
constexpr char kPipe[] = "PIPE            ";

// Writes `text` blank-padded to `width` bytes. What the unit answers does
// not stop the merge.
void report_line(const int *unit, const char *text, size_t text_length, int width) {
  char line[kMessageWidth];
  std::memset(line, ' ', sizeof line);
  std::memcpy(line, text, std::min(text_length, static_cast<size_t>(width)));
  int rc = 0;
  gufswr(unit, line, &width, &rc);
}

void report_message(const int *unit, const char *text) {
  report_line(unit, text, std::strlen(text), kMessageWidth);
}

// Copies the values of group/attribute into `out` (filled with blanks
// beforehand), at most `width` bytes. False when the attribute is missing or
// its values cannot be read.
bool read_text(PartRecord *part, const char *group, const char *attribute, char *out, int width) {
  std::memset(out, ' ', static_cast<size_t>(width));
  int count = 0, length = 0, rc = 0;
  cspgretn(part, group, attribute, &count, &length, &rc);
  if (rc != 0 || count < 1 || length < 1) return false;
  const size_t total = static_cast<size_t>(count) * static_cast<size_t>(length);
  HostPtr<unsigned char> values = host_buffer(total);
  if (!values) return false;
  cspgretv(part, group, attribute, values.get(), &rc);
  if (rc != 0) return false;
  std::memcpy(out, values.get(), std::min(total, static_cast<size_t>(width)));
  return true;
}

// Removes the host model object of a part that is not a pipe.
bool remove_model_object(PartRecord *part) {
  char category[kCategoryWidth];
  read_text(part, "PARTDEF ", "CATEGORY", category, kCategoryWidth);
  if (std::memcmp(category, kPipe, sizeof kPipe - 1) == 0) return true;
  int family = 0, rc = 0;
  glrfam(category, &family, &rc);
  if (rc != 0) return false;
  char stamp[kStampWidth];
  if (!read_text(part, "ELCATLOG", "ELTIME  ", stamp, kStampWidth)) return false;
  gldobj(&family, category, stamp, &rc);
  return rc == 0 || rc == PCS_HOST_NO_PART_OBJECT;
}

class Merge {
 public:
  Merge(int mode, const int *unit, int key_length)
      : mode_(mode), unit_(unit), key_length_(key_length) {}

  // Handles the pair (records[i - 1], records[i]); false ends the merge.
  bool handle_pair(FILE *catalog, const KeyRecord *records, int i) {
    report_message(unit_, kDuplicate);
    report_message(unit_, mode_ == 0 ? kKeepOld : kKeepNew);
    const int32_t offset = records[mode_ == 0 ? i : i - 1].RecordOffset;
    int length = 0, rc = 0;
    PartRecord *part = cspgetrc(catalog, offset, &length, &rc);
    if (rc == kReadDeleted && !part) return true;  // removed already
    if (!part) return false;
    bool done = remove_model_object(part);
    if (done) {
      cspdelrc(catalog, offset, &rc);
      done = rc == 0;
      if (done) report_part(records[i].Key);
    }
    cspgfre(part);
    return done;
  }

 private:
  void report_part(const char *key) {
    char line[kPartLineWidth];
    const size_t prefix = sizeof kPartNumber - 1;
    std::memcpy(line, kPartNumber, prefix);
    std::memcpy(line + prefix, key, static_cast<size_t>(key_length_));
    report_line(unit_, line, prefix + static_cast<size_t>(key_length_), kPartLineWidth);
  }

  int mode_;
  const int *unit_;
  int key_length_;
};

// Reads the keys (csgia2) into `records`; false on failure.
bool read_keys(const char *catalog_path, const char *group, const char *attribute,
               int key_length, int count, KeyRecord *records, int *filled) {
  void *description = key_description(1, group, attribute);
  if (!description) return false;
  int fields = 1;
  const int rc = csgia2(catalog_path, &fields, description, &key_length, count, key_length,
                        records, filled);
  free_key_description(description);
  return rc == 0;
}

void merge(int mode, const char *catalog_path, const int *unit, const char *group,
           const char *attribute, int key_length) {
  if ((mode != 0 && mode != 1) || key_length < 1 || key_length > kKeyMax) return;
  if (!catalog_path || !group || !attribute) return;
  const int count = csgrn(catalog_path);
  if (count < 1) return;
  KeyRecord *records = GetRecordSpace(count, key_length);
  if (!records) return;
  int filled = 0;
  if (read_keys(catalog_path, group, attribute, key_length, count, records, &filled)) {
    sort_key_records(records, filled);
    FILE *catalog = filled >= 2 ? io::open(catalog_path, "r+b") : nullptr;
    if (catalog) {
      Merge pairs(mode, unit, key_length);
      for (int i = 1; i < filled; ++i)
        if (compare(&records[i - 1], &records[i]) == 0 && !pairs.handle_pair(catalog, records, i))
          break;
      io::close(catalog);
    }
  }
  FreeRecordSpace(records, count);
}

}  // namespace
}  // namespace pcs::catalog

extern "C" {

PCS_API void csprtdup(int mode, const char *catalog_path, const int *unit, const char *group,
                      const char *attribute, int key_length) {
  int ignored = 0;
  pcs::guarded(&ignored, 1, [&] {
    pcs::catalog::merge(mode, catalog_path, unit, group, attribute, key_length);
  });
}

}  // extern "C"
