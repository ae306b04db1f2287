// Arbitrary bytes as a keyed group file: open it, read back the record of
// every indexed key, open it as a table, and when it opens append a record
// and check that the file still opens with the new key. Nothing may crash,
// hang, leak or read outside a buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

void read_every_key(KeyedFile **file, const pcs::keyed::TreeNode *node) {
  if (!node) return;
  for (const void *e : {node->leftElement, node->rightElement}) {
    if (!e) continue;
    KeyedGroup *list = nullptr;
    int rc = -1;
    cspget(reinterpret_cast<const char *>(static_cast<const pcs::keyed::IndexElement *>(e)->key), file,
           &list, &rc);
    if (rc != 0 && rc != 5) std::abort();
    cspfre(&list);
  }
  for (const pcs::keyed::TreeNode *child : {node->leftChild, node->middleChild, node->rightChild})
    read_every_key(file, child);
}

int open_file(const std::string &name, KeyedFile **file) {
  int mode = 1, rc = -1;
  cspopn(name.c_str(), &kCount, kGroups, kAttrs, kLengths, file, &mode, &rc);
  return rc;
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
  pcs::fuzz::save(path, data, size);

  KeyedFile *file = nullptr;
  int rc = open_file(name, &file);
  if ((file != nullptr) != (rc == 0)) std::abort();
  KeyedFile *table = nullptr;
  int table_rc = -1;
  cgtopn(name.c_str(), kGroups, kAttrs, &kCount, kLengths, &table, &table_rc);
  if (table) cspcls(&table, &table_rc);
  if (file) {
    read_every_key(&file, file->Index->state->root);
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
