// Test helpers of keyed group files: records built by hand from the file
// layout (groups described as in tests/support/layouts.h), group lists, and
// a key description.
#ifndef PCS_TESTS_KEYED_FIXTURE_H
#define PCS_TESTS_KEYED_FIXTURE_H

#include <string>
#include <vector>

#include "keyed/keyed.h"
#include "common/fileio.h"
#include "include/pcs.h"
#include "tests/support/layouts.h"

namespace pcs::test {
using namespace pcs::keyed;

// A record laid out by hand: header, for each group its attribute blocks
// then its header, the directory, the newline.
inline std::string record_bytes(const std::vector<Group> &groups, int status = 0) {
  std::string body;
  std::vector<int> headers;
  for (const Group &g : groups) {
    std::vector<int> offsets;
    for (const Attr &a : g.attrs) {
      offsets.push_back(12 + static_cast<int>(body.size()));
      body += field(a.name) + be32(a.count) + be32(a.length) + a.values;
    }
    headers.push_back(12 + static_cast<int>(body.size()));
    body += field(g.name) + be32(static_cast<int>(offsets.size()));
    for (int o : offsets) body += be32(o);
  }
  int d = 12 + static_cast<int>(body.size());
  std::string dir = be32(static_cast<int>(headers.size()));
  for (int h : headers) dir += be32(h);
  int length = d + static_cast<int>(dir.size()) + 1;
  return be32(length) + be32(status) + be32(d) + body + dir + "\n";
}

// The group list of `groups` in the same list order, built with cspadd;
// null when an addition fails and `must` is false.
inline KeyedGroup *make_list(const std::vector<Group> &groups, bool must = true) {
  KeyedGroup *list = nullptr;
  for (auto g = groups.rbegin(); g != groups.rend(); ++g)
    for (auto a = g->attrs.rbegin(); a != g->attrs.rend(); ++a) {
      int rc = -1;
      cspadd(field(g->name).c_str(), field(a->name).c_str(), &a->count, &a->length,
             a->values.data(), &list, &rc);
      if (must) { EXPECT_EQ(rc, 0); }
      if (rc != 0) cspfre(&list);
      if (rc != 0) return nullptr;
    }
  return list;
}

// "GROUP/ATTR=v1,v2;ATTR2=..." per group, reading a list back as text.
inline std::string list_text(const KeyedGroup *list) {
  std::string out;
  for (const KeyedGroup *g = list; g; g = g->NextGroup) {
    out += std::string(g->GroupName, 8) + ":";
    for (const KeyedAttribute *a = g->FirstAttr; a; a = a->NextAttr)
      out += " " + std::string(a->AttrName, 8) + "=" +
             std::string(reinterpret_cast<char *>(a->AttrValue),
                         static_cast<size_t>(a->nAttrs) * a->nAttrLength);
    out += ";";
  }
  return out;
}

// A key description of k fields.
struct KeyDesc {
  std::string groups, attrs;
  std::vector<int> lengths;
  KeyDesc(std::initializer_list<std::tuple<const char *, const char *, int>> fields) {
    for (auto &[g, a, n] : fields) {
      groups += field(g);
      attrs += field(a);
      lengths.push_back(n);
    }
  }
  int count() const { return static_cast<int>(lengths.size()); }
};

// Opens `path` with cspopn; returns the code.
inline int open_keyed(const std::string &path, const KeyDesc &key, KeyedFile **file, int mode = 1) {
  std::string name = field(path, PCS_KEYED_NAME_LEN);
  int count = key.count(), rc = -1;
  cspopn(name.c_str(), &count, key.groups.data(), key.attrs.data(), key.lengths.data(), file, &mode,
         &rc);
  return rc;
}

inline int open_table(const std::string &path, const KeyDesc &key, KeyedFile **file) {
  std::string name = field(path, PCS_KEYED_NAME_LEN);
  int count = key.count(), rc = -1;
  cgtopn(name.c_str(), key.groups.data(), key.attrs.data(), &count, key.lengths.data(), file, &rc);
  return rc;
}

inline int close_keyed(KeyedFile **file) {
  int rc = -1;
  return cspcls(file, &rc), rc;
}

// The host fixture with a keyed file path in a temporary directory, the key
// PIPE/SIZE of 4 bytes, and a handle closed at the end when still open.
class KeyedTest : public HostTest {
 protected:
  void TearDown() override {
    io::test_reset();  // the close must not meet a failure a test left armed
    if (file_) close_keyed(&file_);
    HostTest::TearDown();
  }
  // cspget1's code for `key`.
  int test(const char *key) {
    int rc = -1;
    return cspget1(key, &file_, &rc), rc;
  }
  // cspput's code for a record of `groups`.
  int put(const std::vector<Group> &groups) {
    KeyedGroup *list = make_list(groups);
    int rc = -1;
    cspput(&file_, &list, &rc);
    cspfre(&list);
    return rc;
  }

  TempDir dir_;
  std::string path_ = dir_.path("parts.kg");
  KeyDesc key_{{"PIPE", "SIZE", 4}};
  KeyedFile *file_ = nullptr;
};

}  // namespace pcs::test

#endif
