// The query fill: the list of query tables of a query setup (cgqgen) and one
// query part per (table row, project pipe size) of every specification entry
// (cgqfill), with generic flags from the tables' flag tables and the derived
// groups that the part comparison and the size checks read.
#include <cstring>

#include "common/report.h"
#include "host/host_model.h"
#include "query/query_fill.h"

namespace pcs::query {
namespace {

constexpr int kOne = 1;
constexpr int kNameBuffer = 80;
constexpr int kSizeBuffer = 40;
constexpr int kFlagTableAnswer = PCS_HOST_NO_ENTRY;  // 800: "no such entry"
// The fill meets a group or attribute the adjustments need and stops
// without a code.
constexpr int kStop = -1;

constexpr const char *kEndTables[] = {"SPEC001 ", "SPEC002 ", "SPEC003 ", "SPEC004 "};
constexpr const char *kEndFlags[] = {"GEN001  ", "GEN002  ", "GEN003  ", "GEN004  "};
constexpr const char *kEndAttributes[] = {"RATG    ", "SCH     ", "WALL    ", "ENDS    "};

bool same(const char *a, const char *b) { return std::memcmp(a, b, PCS_NAME_LEN) == 0; }

// Pops the top entry into `out` of `capacity` bytes; PCS_GEN_NO_MEMORY when
// the stack's entries are longer than that.
int pop_entry(int *stack, void *out, int capacity, int *empty) {
  int size = 0, count = 0, rc = 0;
  gusinf(stack, &size, &count, &rc);
  if (rc == 0 && size > capacity) rc = PCS_GEN_NO_MEMORY;
  if (rc == 0) guspop(stack, out, empty, &rc);
  return rc;
}

// The attribute-name stacks listed in a stack of handles, then the list.
void end_attribute_stacks(Stack *list) {
  int count = stack_count(list->get()), spare = 0;
  for (int i = 1; i <= count; ++i) {
    int handle = 0;
    gusrea(list->ptr(), &i, &handle, &spare);
    if (spare == 0 && handle != 0) gusend(&handle, &spare);
  }
  list->end();
}

// The setup's query tables followed by the caller's, so that popping gives
// the caller's first, last one first.
int query_table_names(const int *owner, const char *const *names, int count, Stack *setup) {
  int rc = 0, pushed = 0;
  gtbsas(&kOne, owner, "QRY_DATA", setup->out(), &rc);
  if (rc == 0 && !*setup) {
    const int width = PCS_NAME_LEN;
    gusini(&width, setup->out(), &rc);
  }
  for (int i = 0; rc == 0 && names && i < count; ++i) guspus(setup->ptr(), names[i], &pushed, &rc);
  return rc;
}

// One table of the setup: its attribute names and its flag table's name.
int add_table(const int *owner, const char *name, const TableLists &lists) {
  int rc = 0, pushed = 0, empty = 0;
  gj0pig("PSPEC   ", name, "SETUP   ", &rc);
  Stack attributes;
  if (rc == 0) gj0asa(name, attributes.out(), &rc);
  int handle = attributes.get();
  if (rc == 0) guspus(lists.attributes->ptr(), &handle, &pushed, &rc);
  if (rc != 0) return rc;
  attributes.release();
  guspus(lists.names->ptr(), name, &pushed, &rc);
  Stack flags;
  if (rc == 0) gtbsas(&kOne, owner, name, flags.out(), &rc);
  char flag_table[PCS_NAME_LEN];
  std::memset(flag_table, ' ', sizeof flag_table);
  if (rc == 0 && flags) rc = pop_entry(flags.ptr(), flag_table, PCS_NAME_LEN, &empty);
  if (rc == 0) guspus(lists.flag_tables->ptr(), flag_table, &pushed, &rc);
  return rc;
}

}  // namespace

int stack_count(int handle) {
  int size = 0, count = 0, rc = 0;
  if (handle != 0) gusinf(&handle, &size, &count, &rc);
  return rc == 0 ? count : 0;
}

int read_entry(int handle, int position, void *out, int capacity, bool *found) {
  *found = false;
  int size = 0, count = 0, rc = 0;
  if (handle == 0) return 0;
  gusinf(&handle, &size, &count, &rc);
  if (rc != 0 || position < 1 || position > count) return rc;
  if (size > capacity) return PCS_GEN_NO_MEMORY;
  gusrea(&handle, &position, out, &rc);
  *found = rc == 0;
  return rc;
}

bool blank(const void *p, size_t n) {
  const auto *bytes = static_cast<const unsigned char *>(p);
  for (size_t i = 0; i < n; ++i)
    if (bytes[i] != ' ') return false;
  return true;
}

bool first_value(const CgAttribute *attribute, Value *out) {
  if (!attribute || attribute->valueCount < 1 || !attribute->values) return false;
  if (attribute->valueLength < 0 || attribute->valueLength > kValueBuffer) return false;
  std::memcpy(out->type, attribute->type, PCS_NAME_LEN);
  out->length = attribute->valueLength;
  std::memset(out->bytes, ' ', kValueBuffer);
  std::memcpy(out->bytes, attribute->values, size_t(out->length));
  return true;
}

CgAttribute *find_attribute(CgPart part, const char *group, const char *attribute) {
  CgGroup *found = cgagfnd(group, part);
  return found ? cgafnd(attribute, found->attributes) : nullptr;
}

int add_value(CgPart *part, const char *group, const char *attribute, const Value &value,
              bool flags, int32_t flag) {
  int rc = 0, length = value.length;
  *part = cgpradd(value.bytes, value.type, &length, attribute, group, *part, &rc);
  if (rc != 0 || !flags) return rc;
  CgAttribute *added = find_attribute(*part, group, attribute);
  int count = added->valueCount, size = sizeof flag;
  void *grown = cgaradd(added->genericFlags, &count, &flag, &size);
  if (!grown) {
    --added->valueCount;  // keeps one flag per value
    return PCS_GEN_NO_MEMORY;
  }
  added->genericFlags = static_cast<int32_t *>(grown);
  return 0;
}

int collect_tables(const int *owner, const char *const *names, int count,
                   const TableLists &lists) {
  Stack setup;
  int rc = query_table_names(owner, names, count, &setup);
  const int name_width = PCS_NAME_LEN, handle_width = sizeof(int);
  if (rc == 0) gusini(&name_width, lists.names->out(), &rc);
  if (rc == 0) gusini(&handle_width, lists.attributes->out(), &rc);
  if (rc == 0) gusini(&name_width, lists.flag_tables->out(), &rc);
  while (rc == 0) {
    char name[PCS_NAME_LEN];
    int empty = 0;
    rc = pop_entry(setup.ptr(), name, PCS_NAME_LEN, &empty);
    if (rc != 0 || empty) break;
    rc = add_table(owner, name, lists);
  }
  if (rc != 0) {
    lists.names->end();
    lists.flag_tables->end();
    end_attribute_stacks(lists.attributes);
  }
  return rc;
}

// ---- the fill ----------------------------------------------------------------

namespace {

// One run of cgqfill. The destructor ends every stack the fill made (the
// part stack excepted) and frees the name buffers.
class QueryFill {
 public:
  QueryFill(const int *owner, const char *const *names, int count)
      : owner_(owner), names_(names), count_(count) {}
  ~QueryFill() {
    end_attribute_stacks(&attribute_lists_);
    gifree(table_);
    gifree(column_);
  }
  QueryFill(const QueryFill &) = delete;
  QueryFill &operator=(const QueryFill &) = delete;

  int run(int *entries, int *parts);

 private:
  int add_element_class();
  int fill_entry(int entry);
  int fill_row(int entry, int row, const Stack &s1, const Stack &s2, const Stack &standards);
  int build_part(int entry, int row, const char *size);
  int add_end_specifications(int entry, int row, CgPart *part);
  int add_query_tables(int entry, int row, CgPart *part);
  int add_table_value(int entry, int row, CgPart *part, const char *table,
                      const char *flag_table, const char *attribute);
  int column(int entry, const char *table, const char *attribute, Stack *out);
  int flag(int entry, const char *flag_table, const char *attribute, int row, int32_t *flag);
  int value(int entry, const char *table, const char *attribute, int row, Value *out);
  int element_class(int entry, Value *out);

  const int *owner_;
  const char *const *names_;
  int count_;
  char *table_ = nullptr;  // the two 80-character name buffers
  char *column_ = nullptr;
  Stack names_list_, flag_tables_, attribute_lists_;
  int parts_ = 0;
};

bool rename(CgPart part, const char *from, const char *to) {
  CgGroup *group = cgagfnd(from, part);
  if (group) std::memcpy(group->name, to, PCS_NAME_LEN);
  return group != nullptr;
}

void exclude(CgPart part, const char *name) {
  if (CgGroup *group = cgagfnd(name, part)) group->matchFlag = 0;
}

// Gives every value `length` bytes: cut, or blank-padded in a new array.
int set_length(CgAttribute *attribute, int length) {
  const int old = attribute->valueLength, n = attribute->valueCount;
  if (old == length) return 0;
  if (old > length) {
    for (int k = 1; k < n; ++k)
      std::memmove(attribute->values + k * length, attribute->values + k * old, size_t(length));
  } else if (n > 0) {
    auto *grown = static_cast<unsigned char *>(gimaloc(size_t(n) * size_t(length)));
    if (!grown) return PCS_GEN_NO_MEMORY;
    std::memset(grown, ' ', size_t(n) * size_t(length));
    for (int k = 0; k < n; ++k) std::memcpy(grown + k * length, attribute->values + k * old, size_t(old));
    gifree(attribute->values);
    attribute->values = grown;
  }
  attribute->valueLength = length;
  return 0;
}

// The first VNDRCOD of PRJMATL moves to its own group VNDRCODE.
int move_vendor_code(CgPart *part) {
  CgAttribute *code = find_attribute(*part, "PRJMATL ", "VNDRCOD ");
  Value v;
  if (!first_value(code, &v)) return kStop;
  int rc = add_value(part, "VNDRCODE", "VNDRCOD ", v, true,
                     code->genericFlags ? code->genericFlags[0] : 0);
  if (rc == 0) std::memset(code->values, ' ', size_t(code->valueLength));
  return rc;
}

// PARTDEF from SPCFUNC; a pipe's ends are its pipe specification.
int add_part_definition(CgPart *part) {
  Value category, type;
  if (!first_value(find_attribute(*part, "SPCFUNC ", "CATEGORY"), &category) ||
      !first_value(find_attribute(*part, "SPCFUNC ", "FUNCTION"), &type))
    return kStop;
  int rc = add_value(part, "PARTDEF ", "CATEGORY", category, true, 0);
  if (rc == 0) rc = add_value(part, "PARTDEF ", "PARTTYPE", type, true, 0);
  if (rc != 0 || std::memcmp(category.bytes, "PIPE    ", PCS_NAME_LEN) != 0) return rc;
  return rename(*part, "ENDSPEC ", "PIPESPEC") ? 0 : kStop;
}

// The derived groups, renames and match flags of a filled part.
int adjust(CgPart *part) {
  CgGroup *standards = cgagfnd("PRJSTAND", *part);
  CgAttribute *standard = standards ? cgafnd("STANDARD", standards->attributes) : nullptr;
  if (!standard) return kStop;
  std::memcpy(standards->name, "STANDATA", PCS_NAME_LEN);
  int rc = set_length(standard, PCS_NAME_LEN);
  if (rc == 0) rc = move_vendor_code(part);
  if (rc != 0) return rc;
  rename(*part, "RHPRJAPC", "RHAPRTCD");
  rename(*part, "PRJMATL ", "ELMMATL ");
  exclude(*part, "ELCLASS ");
  exclude(*part, "RHPSOPT ");
  if (ibafr7() != 0) exclude(*part, "RHMINSIZ");
  exclude(*part, "RHMAXSIZ");
  exclude(*part, "SPCFUNC ");
  rc = add_part_definition(part);
  if (rc == 0) rename(*part, "PRTNAME ", "PARTNAME");
  return rc;
}

int QueryFill::run(int *entries, int *parts) {
  *parts = 0;
  table_ = static_cast<char *>(gimaloc(kNameBuffer));
  column_ = static_cast<char *>(gimaloc(kNameBuffer));
  if (!table_ || !column_) return PCS_GEN_NO_MEMORY;
  if (*entries == 0) return PCS_NO_SPEC_ENTRIES;
  int rc = collect_tables(owner_, names_, count_, {&names_list_, &flag_tables_, &attribute_lists_});
  if (rc == 0) rc = add_element_class();
  const int handle_size = PCS_HANDLE_SIZE;
  if (rc == 0) gusini(&handle_size, &parts_, &rc);
  *parts = parts_;
  while (rc == 0) {
    int entry = 0, empty = 0;
    rc = pop_entry(entries, &entry, sizeof entry, &empty);
    if (rc != 0 || empty) break;
    rc = fill_entry(entry);
  }
  return rc == kStop ? 0 : rc;
}

int QueryFill::add_element_class() {
  int rc = 0, pushed = 0;
  const int width = PCS_NAME_LEN;
  Stack names;
  guspus(names_list_.ptr(), "ELCLASS ", &pushed, &rc);
  if (rc == 0) guspus(flag_tables_.ptr(), "        ", &pushed, &rc);
  if (rc == 0) gusini(&width, names.out(), &rc);
  if (rc == 0) guspus(names.ptr(), "AELCLASS", &pushed, &rc);
  int handle = names.get();
  if (rc == 0) guspus(attribute_lists_.ptr(), &handle, &pushed, &rc);
  if (rc == 0) names.release();
  return rc;
}

int QueryFill::fill_entry(int entry) {
  Stack s2, s1, standards;
  int rc = column(entry, "SPCSZRNG", "SIZE2   ", &s2);
  if (rc == 0) rc = column(entry, "SPCSZRNG", "SIZE1   ", &s1);
  if (rc == 0) rc = column(entry, "PRJSTAND", "STANDARD", &standards);
  const int rows = stack_count(s2.get());
  for (int k = 1; rc == 0 && k <= rows; ++k) rc = fill_row(entry, k, s1, s2, standards);
  return rc;
}

int QueryFill::fill_row(int entry, int row, const Stack &s1, const Stack &s2,
                        const Stack &standards) {
  char size1[kSizeBuffer], size2[kSizeBuffer], standard[kNameBuffer];
  std::memset(size1, ' ', sizeof size1);
  std::memset(size2, ' ', sizeof size2);
  std::memset(standard, ' ', sizeof standard);
  bool found = false;
  int rc = read_entry(s1.get(), row, size1, kSizeBuffer, &found);
  if (rc == 0) rc = read_entry(s2.get(), row, size2, kSizeBuffer, &found);
  if (rc == 0) rc = read_entry(standards.get(), row, standard, kNameBuffer, &found);
  int width = 0, count = 0;
  if (rc == 0) gusinf(s2.ptr(), &width, &count, &rc);
  if (rc != 0) return rc;
  if (blank(size2, size_t(width))) std::memcpy(size2, size1, kSizeBuffer);
  Stack sizes;
  pclrng(standard, "PRJSIZE ", size1, size2, sizes.out(), &rc);
  const int n = stack_count(sizes.get());
  for (int m = 1; rc == 0 && m <= n; ++m) {
    char size[kSizeBuffer];
    std::memset(size, ' ', sizeof size);
    rc = read_entry(sizes.get(), m, size, kSizeBuffer, &found);
    if (rc == 0) rc = build_part(entry, row, size);
  }
  return rc;
}

int QueryFill::build_part(int entry, int row, const char *size) {
  Value v;
  int rc = 0;
  gj0art("PIPESIZE", "SIZE    ", v.type, &v.length, &rc);
  if (rc != 0) return rc;
  if (v.length < 0 || v.length > kValueBuffer) return PCS_GEN_NO_MEMORY;
  CgPart part = cgagcre("PIPESIZE", &rc);
  if (!part) return PCS_GEN_NO_MEMORY;
  int pushed = 0;
  guspus(&parts_, &part, &pushed, &rc);
  if (rc != 0) {
    cggfre(part);
    return rc;
  }
  std::memset(v.bytes, ' ', kValueBuffer);
  std::memcpy(v.bytes, size, kSizeBuffer);
  rc = add_value(&part, "PIPESIZE", "SIZE    ", v, true, 0);
  if (rc == 0) rc = add_end_specifications(entry, row, &part);
  if (rc == 0) rc = add_query_tables(entry, row, &part);
  if (rc == 0) rc = adjust(&part);
  return rc;
}

int QueryFill::add_end_specifications(int entry, int row, CgPart *part) {
  for (int s = 0; s < 4; ++s) {
    for (const char *attribute : kEndAttributes) {
      Value v;
      int32_t generic = 0;
      int rc = value(entry, kEndTables[s], attribute, row, &v);
      if (rc == 0) rc = flag(entry, kEndFlags[s], attribute, row, &generic);
      if (rc == 0) rc = add_value(part, "ENDSPEC ", attribute, v, true, generic);
      if (rc != 0) return rc;
    }
  }
  return 0;
}

int QueryFill::add_query_tables(int entry, int row, CgPart *part) {
  const int tables = stack_count(names_list_.get());
  for (int j = 1; j <= tables; ++j) {
    char name[PCS_NAME_LEN], flag_table[PCS_NAME_LEN];
    int attributes = 0, rc = 0;
    gusrea(names_list_.ptr(), &j, name, &rc);
    if (rc == 0) gusrea(flag_tables_.ptr(), &j, flag_table, &rc);
    if (rc == 0) gusrea(attribute_lists_.ptr(), &j, &attributes, &rc);
    if (rc != 0) return rc;
    if (same(name, "SPCSZRNG") || std::memcmp(name, "SPEC0", 5) == 0) continue;
    const int count = stack_count(attributes);
    for (int i = 1; i <= count; ++i) {
      char attribute[PCS_NAME_LEN];
      bool found = false;
      rc = read_entry(attributes, i, attribute, PCS_NAME_LEN, &found);
      if (rc == 0) rc = add_table_value(entry, row, part, name, flag_table, attribute);
      if (rc != 0) return rc;
    }
  }
  return 0;
}

int QueryFill::add_table_value(int entry, int row, CgPart *part, const char *table,
                               const char *flag_table, const char *attribute) {
  int32_t generic = 0;
  Value v;
  int rc = flag(entry, flag_table, attribute, row, &generic);
  if (rc != 0) return rc;
  if (same(table, "ELCLASS ") && same(attribute, "AELCLASS"))
    rc = element_class(entry, &v);
  else
    rc = value(entry, table, attribute, row, &v);
  if (rc == 0) rc = add_value(part, table, attribute, v, true, generic);
  return rc;
}

int QueryFill::column(int entry, const char *table, const char *attribute, Stack *out) {
  std::memset(table_, ' ', kNameBuffer);
  std::memset(column_, ' ', kNameBuffer);
  std::memcpy(table_, table, PCS_NAME_LEN);
  std::memcpy(column_, attribute, PCS_NAME_LEN);
  int rc = 0;
  gtbrae(&kOne, &entry, table_, column_, out->out(), &rc);
  return rc;
}

int QueryFill::flag(int entry, const char *flag_table, const char *attribute, int row,
                    int32_t *flag) {
  *flag = 0;
  if (flag_table[0] == ' ') return 0;
  Stack flags;
  int rc = column(entry, flag_table, attribute, &flags);
  if (rc == kFlagTableAnswer) return PCS_GENERIC_FLAG;
  bool found = false;
  unsigned char cell[kValueBuffer] = {};
  if (rc == 0) rc = read_entry(flags.get(), row, cell, kValueBuffer, &found);
  if (found) std::memcpy(flag, cell, sizeof *flag);
  return rc;
}

int QueryFill::value(int entry, const char *table, const char *attribute, int row, Value *out) {
  int rc = 0;
  gj0art(table, attribute, out->type, &out->length, &rc);
  if (rc != 0) return rc;
  if (out->length < 0 || out->length > kValueBuffer) return PCS_GEN_NO_MEMORY;
  std::memset(out->bytes, ' ', kValueBuffer);
  Stack cells;
  rc = column(entry, table, attribute, &cells);
  bool found = false;
  if (rc == 0) rc = read_entry(cells.get(), row, out->bytes, kValueBuffer, &found);
  return rc;
}

// The entry's element class as an 8-character value of type "C8      ".
int QueryFill::element_class(int entry, Value *out) {
  std::memset(out->bytes, ' ', kValueBuffer);
  Stack stack;
  int rc = 0, length = 0;
  gtbrui(&kOne, &entry, &length, reinterpret_cast<char *>(out->bytes), stack.out(), &rc);
  std::memcpy(out->type, "C8      ", PCS_NAME_LEN);
  out->length = PCS_NAME_LEN;
  if (length >= 0 && length < PCS_NAME_LEN)
    std::memset(out->bytes + length, ' ', size_t(PCS_NAME_LEN - length));
  return rc;
}

}  // namespace

}  // namespace pcs::query

extern "C" void cgqgen(const int *owner, const char *const *table_names, const int *table_count,
                       int *name_stack, int *flag_table_stack, int *attribute_stacks, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    pcs::query::Stack names, flags, attributes;
    *name_stack = *flag_table_stack = *attribute_stacks = 0;
    *rc = pcs::query::collect_tables(owner, table_names, table_count ? *table_count : 0,
                                    {&names, &flags, &attributes});
    *name_stack = names.release();
    *flag_table_stack = flags.release();
    *attribute_stacks = attributes.release();
  });
}

extern "C" void cgqfill(const int *owner, const char *const *table_names, const int *table_count,
                        int *entry_stack, int *part_stack, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] {
    pcs::query::QueryFill fill(owner, table_names, table_count ? *table_count : 0);
    *rc = fill.run(entry_stack, part_stack);
  });
}
