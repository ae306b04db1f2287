// Index keys of catalog records: record_key reads the key fields straight
// from a record's bytes (no part record is built; RecordKeyReader replays
// the last record's steps on records shaped like it), part_record_key
// builds the part record and looks the fields up in it. Both give the same key,
// the same damage verdict and the same error reports.
#include <algorithm>
#include <cstring>

#include "catalog/catalog.h"
#include "common/coding.h"
#include "common/damage.h"
#include "common/memory.h"
#include "common/report.h"

namespace pcs::catalog {
namespace {

// ---- values of a key field --------------------------------------------------

// A value of at most 26 bytes made of blanks only.
bool blank_value(const unsigned char *value, int length) {
  if (length > 26) return false;
  for (int i = 0; i < length; ++i)
    if (value[i] != ' ') return false;
  return true;
}

int value_cmp(const unsigned char *first, const unsigned char *second, int length) {
  return compare_field(first, second, static_cast<size_t>(length));
}

// The value that stands second after collapsing: the first later value
// that is neither blank nor equal to the first, else the second as it is;
// null when it equals the first (it becomes blank).
const unsigned char *collapsed_second(const unsigned char *values, int count, int length) {
  const unsigned char *second = values + length;
  for (int j = 1; j < count; ++j) {
    const unsigned char *value = values + static_cast<size_t>(j) * length;
    if (!blank_value(value, length) && value_cmp(value, values, length) != 0) {
      second = value;
      break;
    }
  }
  return value_cmp(second, values, length) == 0 ? nullptr : second;
}

// Copies the first `width` bytes (at most) of an attribute's values into
// `field`, which is blank already.
void copy_values(const unsigned char *values, int count, int length, bool collapse, int width,
                 char *field) {
  const size_t total = static_cast<size_t>(count) * static_cast<size_t>(length);
  const size_t n = std::min(total, static_cast<size_t>(width));
  std::memcpy(field, values, n);
  if (!collapse || count < 2 || n <= static_cast<size_t>(length)) return;
  const unsigned char *second = collapsed_second(values, count, length);
  const size_t m = std::min(n, 2 * static_cast<size_t>(length)) - static_cast<size_t>(length);
  if (second)
    std::memcpy(field + length, second, m);
  else
    std::memset(field + length, ' ', m);
}

// ---- names ------------------------------------------------------------------

// An 8-byte name as a number in which names equal under compare_field
// (bytes up to the first 0) are equal: the bytes after a 0 are dropped.
uint64_t name_word(const void *name) {
  unsigned char bytes[8] = {};
  const auto *in = static_cast<const unsigned char *>(name);
  for (int i = 0; i < 8 && in[i] != 0; ++i) bytes[i] = in[i];
  uint64_t word = 0;
  std::memcpy(&word, bytes, 8);
  return word;
}

// ---- decoding ---------------------------------------------------------------

// The attributes of a record, as walk_record finds them (the checks of
// decode_record), refused when a group of one name holds an attribute twice
// (a part record cannot hold that).
class AttributeTable {
 public:
  // Records with more attributes go the part record's way.
  static constexpr int kCapacity = 48;
  enum Result { kDecoded, kDamaged, kTooMany };

  struct Entry {
    uint64_t group;
    uint64_t name;
    const unsigned char *values;
    int32_t count;
    int32_t length;
  };

  Result decode(const unsigned char *bytes, size_t size) {
    const int walked = codec::walk_record(
        ByteView(bytes, size), codec::kCatalogLayout, codec::kSkip,
        [this](const codec::AttributeBytes &a) {
          if (used_ == kCapacity) return 1;
          entries_[used_++] =
              Entry{name_word(a.group), name_word(a.name), a.values, a.count, a.length};
          return 0;
        });
    if (walked == 1) return kTooMany;
    if (walked != 0) return kDamaged;
    // A record that holds one attribute twice is damaged.
    return unique() ? kDecoded : refuse(kDamaged, 0);
  }

  // The attribute named `names` (group, then attribute); null when missing,
  // with the code and name the lookup reports.
  const Entry *find(const char *names, int *rc, const char **missing) const {
    const uint64_t group = name_word(names), name = name_word(names + PCS_NAME_LEN);
    bool group_seen = false;
    for (int i = 0; i < used_; ++i) {
      if (entries_[i].group != group) continue;
      if (entries_[i].name == name) return &entries_[i];
      group_seen = true;
    }
    *rc = group_seen ? PCS_NO_ATTR : PCS_NO_GROUP;
    *missing = group_seen ? names + PCS_NAME_LEN : names;
    return nullptr;
  }

 private:
  bool unique() const {
    for (int i = 1; i < used_; ++i)
      for (int j = 0; j < i; ++j)
        if (entries_[i].name == entries_[j].name && entries_[i].group == entries_[j].group)
          return false;
    return true;
  }

  int used_ = 0;
  Entry entries_[kCapacity];
};

// Calls field(names, width, position) for each key field that starts
// inside the key; names is null for a missing description entry.
template <class Field>
bool each_field(void *description, const int *widths, int key_length, Field &&field) {
  const int fields = pparysiz(description);
  int position = 0;
  for (int f = 0; f < fields && position < key_length; ++f) {
    const int width = std::clamp(widths[f], 0, key_length - position);
    const auto *names = static_cast<const char *>(pparyget(description, f));
    if (!field(names, width, position)) return false;
    position += width;
  }
  return true;
}

}  // namespace

bool part_record_key(const unsigned char *bytes, size_t size, bool collapse, void *description,
                     const int *widths, int key_length, char *key) {
  PartRecord *part = decode_record(bytes, size);
  if (!part) return false;
  const bool built = each_field(description, widths, key_length, [&](const char *names, int width,
                                                                      int position) {
    int count = 0, length = 0, rc = 0;
    if (names) cspgretn(part, names, names + PCS_NAME_LEN, &count, &length, &rc);
    if (!names || rc != 0 || count < 1 || length < 1) return true;
    HostPtr<unsigned char> values =
        host_buffer(static_cast<size_t>(count) * static_cast<size_t>(length));
    if (!values) return false;
    cspgretv(part, names, names + PCS_NAME_LEN, values.get(), &rc);
    if (rc != 0) return false;
    copy_values(values.get(), count, length, collapse, width, key + position);
    return true;
  });
  cspgfre(part);
  return built;
}

namespace {

using Step = RecordKeyReader::Step;

// Carries out one field's step on the record at `bytes`.
void take(const Step &step, const unsigned char *bytes, bool collapse, char *key) {
  if (step.missing)
    report(step.rc, step.missing);
  else
    copy_values(bytes + step.from, step.count, step.length, collapse, step.width,
                key + step.position);
}

// record_key, handing each field's step to on_step(const Step &) before it
// is taken. kTooMany when the record has more attributes than the table
// holds (nothing taken then).
template <class OnStep>
AttributeTable::Result key_steps(const unsigned char *bytes, size_t size, bool collapse,
                                 void *description, const int *widths, int key_length, char *key,
                                 OnStep &&on_step) {
  AttributeTable table;
  const AttributeTable::Result result = table.decode(bytes, size);
  if (result != AttributeTable::kDecoded) return result;
  each_field(description, widths, key_length, [&](const char *names, int width, int position) {
    if (!names) return true;
    Step step{nullptr, 0, 0, 0, 0, width, position};
    const AttributeTable::Entry *entry = table.find(names, &step.rc, &step.missing);
    if (entry) step = Step{nullptr, 0, static_cast<int32_t>(entry->values - bytes), entry->count,
                           entry->length, width, position};
    on_step(step);
    take(step, bytes, collapse, key);
    return true;
  });
  return result;
}

}  // namespace

bool record_key(const unsigned char *bytes, size_t size, bool collapse, void *description,
                const int *widths, int key_length, char *key) {
  const AttributeTable::Result result =
      key_steps(bytes, size, collapse, description, widths, key_length, key, [](const Step &) {});
  if (result == AttributeTable::kTooMany)
    return part_record_key(bytes, size, collapse, description, widths, key_length, key);
  return result == AttributeTable::kDecoded;
}

bool RecordKeyReader::replay(const unsigned char *bytes, size_t size, char *key) const {
  int n = 0;
  const Step *steps = memo_.replay(ByteView(bytes, size), &n);
  for (int i = 0; steps && i < n; ++i) take(steps[i], bytes, collapse_, key);
  return steps != nullptr;
}

bool RecordKeyReader::quiet() const {
  int n = 0;
  const Step *steps = memo_.steps(&n);
  return steps && std::none_of(steps, steps + n, [](const Step &step) { return step.missing; });
}

bool RecordKeyReader::read(const unsigned char *bytes, size_t size, int64_t offset, char *key) {
  if (replay(bytes, size, key)) return true;
  const ByteView record(bytes, size);
  memo_.forget();
  const DamageBase base(offset);
  const AttributeTable::Result result =
      key_steps(bytes, size, collapse_, description_, widths_, key_length_, key,
                [&](const Step &step) { memo_.note(step); });
  if (result == AttributeTable::kTooMany)
    return part_record_key(bytes, size, collapse_, description_, widths_, key_length_, key);
  memo_.learn(record, codec::kCatalogLayout, result == AttributeTable::kDecoded);
  return result == AttributeTable::kDecoded;
}

}  // namespace pcs::catalog
