// Arbitrary bytes as a keyed group file: open it (the same with and without
// its second half read on a second thread), read back the record of every
// indexed key, open it as a table, and when it opens append a record and
// check that the file still opens with the new key. Nothing may crash,
// hang, leak or read outside a buffer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/second_half.h"
#include "fuzz/fuzz_file.h"
#include "host/inprocess/testing.h"
#include "include/pcs.h"
#include "keyed/tree.h"

namespace {

const char kGroups[] = "PIPE    END     ";
const char kAttrs[] = "SIZE    TYPE    ";
const int kLengths[] = {4, 2};
const int kCount = 2;

std::string name_field() {
  std::string field = pcs::fuzz::scratch("keyed.kg");
  field.resize(PCS_KEYED_NAME_LEN, ' ');
  return field;
}

// Calls visit(element) for every index element of the tree below `node`.
template <class Visit>
void each_element(const pcs::keyed::TreeNode *node, Visit &&visit) {
  if (!node) return;
  for (const void *e : {node->leftElement, node->rightElement})
    if (e) visit(*static_cast<const pcs::keyed::IndexElement *>(e));
  for (const pcs::keyed::TreeNode *child : {node->leftChild, node->middleChild, node->rightChild})
    each_element(child, visit);
}

void read_every_key(KeyedFile **file) {
  each_element((*file)->Index->state->root, [file](const pcs::keyed::IndexElement &element) {
    KeyedGroup *list = nullptr;
    int rc = -1;
    cspget(reinterpret_cast<const char *>(element.key), file, &list, &rc);
    if (rc != 0 && rc != 5) std::abort();
    cspfre(&list);
  });
}

int open_file(const std::string &name, KeyedFile **file) {
  int mode = 1, rc = -1;
  cspopn(name.c_str(), &kCount, kGroups, kAttrs, kLengths, file, &mode, &rc);
  return rc;
}

// What an open of the input gives, with the file's second half read on a
// second thread or not: its code, the file's bytes after it, and the key
// and position of every indexed record.
std::string opened(const std::string &name, const std::string &path, const uint8_t *data,
                   size_t size, bool split) {
  pcs::fuzz::save(path, data, size);
  pcs::SecondHalf::test_set_split_bytes(split ? 0 : INT64_MAX);
  KeyedFile *file = nullptr;
  const int rc = open_file(name, &file);
  pcs::SecondHalf::test_set_split_bytes(4 << 20);
  std::string seen = std::to_string(rc) + "\n";
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(f)) != EOF;) seen += static_cast<char>(c);
    std::fclose(f);
  }
  if (!file) return seen;
  std::vector<std::string> keys;
  each_element(file->Index->state->root, [&keys](const pcs::keyed::IndexElement &element) {
    keys.push_back(std::string(reinterpret_cast<const char *>(element.key), 6) + "@" +
                   std::to_string(element.position));
  });
  std::sort(keys.begin(), keys.end());
  for (const std::string &key : keys) seen += key + "\n";
  int rc_close = -1;
  cspcls(&file, &rc_close);
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  pcs::fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  pcs::host::reset();
  const long blocks = pcs::host::memory().live_blocks;
  std::string name = name_field();
  std::string path = name.substr(0, name.find(' '));
  if (opened(name, path, data, size, true) != opened(name, path, data, size, false)) std::abort();
  pcs::fuzz::save(path, data, size);

  KeyedFile *file = nullptr;
  int rc = open_file(name, &file);
  if ((file != nullptr) != (rc == 0)) std::abort();
  KeyedFile *table = nullptr;
  int table_rc = -1;
  cgtopn(name.c_str(), kGroups, kAttrs, &kCount, kLengths, &table, &table_rc);
  if (table) cspcls(&table, &table_rc);
  if (file) {
    read_every_key(&file);
    KeyedGroup *list = nullptr;
    int one = 1, four = 4;
    cspadd("PIPE    ", "SIZE    ", &one, &four, "~~~~", &list, &rc);
    cspput(&file, &list, &rc);
    cspfre(&list);
    int put_rc = rc;
    cspcls(&file, &rc);
    if (put_rc == 0) {
      if (open_file(name, &file) != 0) std::abort();
      cspget1("~~~~  ", &file, &rc);
      if (rc != 0) std::abort();
      cspcls(&file, &rc);
    }
  }
  std::remove(path.c_str());
  if (pcs::host::memory().live_blocks != blocks) std::abort();
  return 0;
}
