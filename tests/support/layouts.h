// Hand-built file fixtures shared by the test folders: attribute groups as
// plain data, catalog records and index files laid out byte by byte from
// their documented layouts (never by the code under test), and capture of
// what a call prints on standard output or standard error.
#ifndef PCS_TESTS_SUPPORT_LAYOUTS_H
#define PCS_TESTS_SUPPORT_LAYOUTS_H

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/support.h"

namespace pcs::test {

struct Attr {
  std::string name;
  int count;
  int length;
  std::string values;  // count * length bytes
};
struct Group {
  std::string name;
  std::vector<Attr> attrs;
};

// One catalog record: length | flag | 12 | group count | group offsets |
// per group: name | attribute count | attribute offsets | attributes
// (name | count | length | values) | newline. Dense, groups in the order
// given.
inline std::string catalog_record(const std::vector<Group> &groups, int flag = 0) {
  int offset = 16 + 4 * static_cast<int>(groups.size());
  std::string table, body;
  for (const Group &g : groups) {
    table += be32(offset);
    const int n = static_cast<int>(g.attrs.size());
    std::string head = field(g.name) + be32(n), attrs;
    int at = offset + 12 + 4 * n;
    for (const Attr &a : g.attrs) {
      head += be32(at);
      attrs += field(a.name) + be32(a.count) + be32(a.length) + a.values;
      at += 16 + a.count * a.length;
    }
    body += head + attrs;
    offset = at;
  }
  return be32(offset + 1) + be32(flag) + be32(12) + be32(static_cast<int>(groups.size())) + table +
         body + "\n";
}

// "%*lld"
inline std::string num(long long value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*lld", width, value);
  return text;
}

// The 17-byte index header and one index record: run count, catalog
// offset, offset of the run's first record, key, newline.
inline std::string index_header(int n, int key_length) {
  return num(n, 12) + num(key_length, 4) + "\n";
}
inline std::string index_record(int count, int offset, int first, const std::string &key) {
  return num(count, 4) + num(offset, 12) + num(first, 12) + key + "\n";
}

// A whole index file over (key, catalog offset) pairs given in index order;
// keys are blank-padded to `key_length`.
inline std::string index_bytes(int key_length,
                               const std::vector<std::pair<std::string, int>> &entries) {
  const int r = key_length + 29;
  std::string out = index_header(static_cast<int>(entries.size()), key_length);
  for (size_t i = 0; i < entries.size();) {
    size_t j = i;
    while (j < entries.size() && entries[j].first == entries[i].first) ++j;
    for (size_t k = i; k < j; ++k)
      out += index_record(static_cast<int>(j - i), entries[k].second,
                          17 + static_cast<int>(i) * r, field(entries[k].first, key_length));
    i = j;
  }
  return out;
}

// Everything `body` writes to file descriptor `fd` (1 or 2).
inline std::string capture_fd(int fd, const std::function<void()> &body) {
  FILE *stream = fd == 1 ? stdout : stderr;
  std::fflush(stream);
  FILE *sink = std::tmpfile();
  const int saved = dup(fd);
  dup2(fileno(sink), fd);
  body();
  std::fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string text;
  std::rewind(sink);
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, sink)) > 0;) text.append(chunk, n);
  std::fclose(sink);
  return text;
}
inline std::string capture_stdout(const std::function<void()> &body) { return capture_fd(1, body); }
inline std::string capture_stderr(const std::function<void()> &body) { return capture_fd(2, body); }

}  // namespace pcs::test

#endif
