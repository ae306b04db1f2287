// cgclprs and cgpscr: class statements of a class map dump into the
// CLASSMAP file, and the piping class objects of a directory of function
// rules files with their standard, weld and branch tables.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/memory.h"
#include "generators/generators.h"
#include "host/host_model.h"

namespace pcs::generators {

int CompareBlankTolerant(const void *first, const void *second, const int *length) {
  return cgcmpsrt(first, second, length);
}

namespace {

constexpr int kTokenMax = kStackEntry - 1;
constexpr int kField = 256;

bool is_token_char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.';
}

// Pushes the tokens of one line; a pending token ends with the line.
int push_tokens(const char *line, int stack) {
  char token[kStackEntry] = {};
  int n = 0, rc = 0, count = 0;
  for (const char *p = line;; ++p) {
    if (*p != '\0' && is_token_char(*p)) {
      if (n < kTokenMax) token[n++] = *p;
      continue;
    }
    if (n > 0) guspus(&stack, token, &count, &rc);
    if (rc != 0 || *p == '\0') return rc;
    std::memset(token, 0, sizeof token);
    n = 0;
  }
}

}  // namespace

int ReadClassStatement(FILE *dump, int *stack) {
  int size = kStackEntry, rc = 0;
  gusini(&size, stack, &rc);
  if (rc != 0) return rc;
  char line[kLineSize];
  bool read = false;
  do read = read_line(dump, line);
  while (read && line[0] == '*');
  if (!read) return read_failed(dump) ? PCS_INPUT_ENDED : 0;
  if (line[0] == '\0') return 0;
  for (;;) {
    if (int pushed = push_tokens(line, *stack)) return pushed;
    const int next = io::get_char(dump);
    if (next == EOF && read_failed(dump)) return PCS_INPUT_ENDED;
    if (next != '&') {
      if (next != EOF) io::unget_char(next, dump);
      return 0;
    }
    if (!read_line(dump, line) && read_failed(dump)) return PCS_INPUT_ENDED;
  }
}

namespace {

// Token i of the stack (1 = first) as a string.
int token_at(int stack, int i, char *token) {
  int rc = 0;
  gusrea(&stack, &i, token, &rc);
  token[kStackEntry - 1] = '\0';
  return rc;
}

int pop_names(int stack, const char *kind, Output &out) {
  char name[kStackEntry];
  int empty = 0, rc = 0;
  for (;;) {
    guspop(&stack, name, &empty, &rc);
    if (rc != 0 || empty != 0) return rc;
    name[kStackEntry - 1] = '\0';
    out.value(name).value(kind);
  }
}

}  // namespace

int WriteClassMapLine(Output &out, int tokens) {
  HostStack welds, branches;
  int rc = welds.create(kStackEntry), size = 0, count = 0;
  if (rc == 0) rc = branches.create(kStackEntry);
  if (rc == 0) gusinf(&tokens, &size, &count, &rc);
  char token[kStackEntry], value[kStackEntry], class_name[kStackEntry] = "";
  for (int i = 1; i <= count && rc == 0; ++i) {
    rc = token_at(tokens, i, token);
    const bool named = std::strncmp(token, "CLSNAM", 6) == 0;
    const int target = std::strncmp(token, "WLDTB", 5) == 0   ? welds.handle
                       : std::strncmp(token, "BRHTB", 5) == 0 ? branches.handle
                                                              : 0;
    if (rc != 0 || (!named && target == 0) || i == count) continue;
    rc = token_at(tokens, ++i, value);
    if (rc == 0 && named) std::memcpy(class_name, value, sizeof value);
    int pushed = 0;
    if (rc == 0 && target != 0) guspus(&target, value, &pushed, &rc);
  }
  if (rc != 0) return rc;
  out.value(class_name);
  if ((rc = pop_names(welds.handle, "weld_table", out)) != 0) return rc;
  if ((rc = pop_names(branches.handle, "branch_table", out)) != 0) return rc;
  return out.end_line();
}

namespace {

bool is_class_statement(int tokens) {
  char token[kStackEntry];
  int size = 0, count = 0, rc = 0;
  gusinf(&tokens, &size, &count, &rc);
  if (rc != 0 || count == 0 || token_at(tokens, 1, token) != 0) return false;
  const size_t n = std::strlen(token);
  return n <= 5 && std::strncmp("CLASS", token, n) == 0;
}

int class_map(const char *dump_path, const char *dir) {
  FILE *dump = io::open(dump_path, "r");
  if (!dump) return PCS_CANNOT_OPEN;
  char path[kPathMax + 1];
  int rc = join_path(dir, "CLASSMAP", path);
  io::Replacements output;  // the old file stays unless the new one is whole
  FILE *file = rc == 0 ? output.begin(path) : nullptr;
  if (rc == 0 && !file) rc = PCS_CANNOT_OPEN;
  Output out(file);
  while (rc == 0 && !std::feof(dump) && !std::ferror(dump)) {
    HostStack tokens;
    rc = ReadClassStatement(dump, &tokens.handle);
    if (rc == 0 && is_class_statement(tokens.handle)) rc = WriteClassMapLine(out, tokens.handle);
    if (rc == 0) rc = tokens.end();
  }
  io::close(dump);
  if (rc == 0 && !output.commit()) rc = PCS_SHORT_WRITE;
  return rc;
}

}  // namespace

int ReadClassMap(const char *class_name, const char *dir, int stack) {
  char path[kPathMax + 1];
  if (int rc = join_path(dir, "CLASSMAP", path)) return rc;
  FILE *file = io::open(path, "r");
  if (!file) return PCS_CANNOT_OPEN;
  size_t n = kField;
  while (n > 0 && class_name[n - 1] == ' ') --n;
  char line[kLineSize];
  Fields fields;
  int rc = 0, count = 0;
  while (rc == 0 && read_line(file, line)) {
    SplitCsvLine(line, fields);
    if (std::strlen(fields[0]) != n || std::memcmp(fields[0], class_name, n) != 0) continue;
    for (int k = 1; k < kFields && fields[k][0] != '\0' && rc == 0; ++k)
      guspus(&stack, fields[k], &count, &rc);
  }
  if (rc == 0 && read_failed(file)) rc = PCS_INPUT_ENDED;
  io::close(file);
  return rc;
}

namespace {

// Table kinds of the class map and the group of each.
struct TableKind {
  const char *kind, *group;
};
constexpr TableKind kTableKinds[] = {{"branch_table", "PRJBNAMS"}, {"weld_table", "PRJWNAMS"}};

// What cgpscr carries from entry to entry.
struct ClassRun {
  int ws;
  const char *dir, *standard;
  int *map_stack;
  int handle = 0;
  int function_row = 0;
};

int set_standard(ClassRun &run) {
  char type[8];
  int rc = 0, length = 0;
  const int position = 1, one = 1;
  gj0pig("PSPEC   ", "SPCDATA ", "SETUP   ", &rc);
  if (rc == 0) gj0art("SPCDATA ", "STANDARD", type, &length, &rc);
  if (rc != 0) return rc;
  HostPtr<char> value(static_cast<char *>(gimaloc(length > 0 ? size_t(length) : 1)));
  if (!value) return PCS_GEN_NO_MEMORY;
  std::memset(value.get(), ' ', size_t(std::max(length, 0)));
  std::memcpy(value.get(), run.standard, strnlen(run.standard, size_t(std::max(length, 0))));
  gtbaae(&run.ws, &run.handle, &position, "SPCDATA ", "STANDARD", &one, value.get(), &rc);
  return rc;
}

// The table names of the class map stack (name, kind pairs) as rows.
int add_table_names(ClassRun &run, char *class_name) {
  int rc = 0, size = 0, count = 0;
  gusinf(run.map_stack, &size, &count, &rc);
  if (rc == 0 && (size < 1 || size > kField)) rc = PCS_GEN_NO_MEMORY;
  if (rc == 0 && count == 0) rc = ReadClassMap(class_name, run.dir, *run.map_stack);
  if (rc == 0) gusinf(run.map_stack, &size, &count, &rc);
  int added[2] = {0, 0};
  char name[kField + 1] = {}, kind[kField + 1] = {}, field[kField];
  const int one = 1, width = kField;
  for (int k = 2; k <= count && rc == 0; k += 2) {
    const int name_at = k - 1;
    gusrea(run.map_stack, &name_at, name, &rc);
    if (rc == 0) gusrea(run.map_stack, &k, kind, &rc);
    if (rc == 0) sucsfs(name, field, &width, &rc);
    for (int t = 0; t < 2 && rc == 0; ++t) {
      if (std::strcmp(kind, kTableKinds[t].kind) != 0) continue;
      gtbaae(&run.ws, &run.handle, &added[t], kTableKinds[t].group, "NAME    ", &one, field, &rc);
      ++added[t];
    }
  }
  if (rc == 0 && *run.map_stack != 0) gusemp(run.map_stack, &rc);
  return rc;
}

int create_class(ClassRun &run, char *class_name) {
  int rc = 0;
  pu2cpo(&run.ws, "PSPEC   ", class_name, &run.handle, &rc);
  run.function_row = 1;
  if (rc == 0) rc = set_standard(run);
  return rc != 0 ? rc : add_table_names(run, class_name);
}

int add_function_file(ClassRun &run, const char *entry, int type) {
  char field[kField], catalog[kField];
  std::memset(catalog, ' ', sizeof catalog);
  int rc = 0;
  const int one = 1, position = 0, width = kField;
  sucsfs(entry, field, &width, &rc);
  if (rc == 0) gtbaae(&run.ws, &run.handle, &position, "PRJFNAMS", "NAME    ", &one, field, &rc);
  if (rc == 0) gj0puo(kPartTypes[type], catalog, &rc);
  if (rc == 0)
    gtbmae(&run.ws, &run.handle, &run.function_row, "PRJFNAMS", "CATNAME ", &one, catalog, &rc);
  ++run.function_row;
  return rc;
}

int class_entry(ClassRun &run, const char *entry) {
  const char *underscore = std::strchr(entry, '_');
  if (!underscore || underscore == entry) return 0;
  char class_name[kField];
  std::memset(class_name, ' ', sizeof class_name);
  std::memcpy(class_name, entry, size_t(underscore - entry));
  const int name_length = static_cast<int>(underscore - entry);
  int rc = 0;
  gtbsui(&run.ws, "PSPEC   ", &name_length, class_name, &run.handle, &rc);
  if (rc == 0 && run.handle == 0) rc = create_class(run, class_name);
  const int type = part_type_of(underscore + 1);
  if (rc == 0 && type >= 0) rc = add_function_file(run, entry, type);
  return rc;
}

int piping_classes(int ws, const char *dir, const char *standard, int *map_stack) {
  int rc = 0, size = 0, count = 0, empty = 0;
  if (*map_stack == 0) {
    int entry = kField;
    gusini(&entry, map_stack, &rc);
    if (rc != 0) return rc;
  }
  HostStack entries;
  const int dir_length = static_cast<int>(std::strlen(dir));
  csfdir(dir, &dir_length, &entries.handle, &rc);
  if (rc == 0) cgsort(&entries.handle, CompareBlankTolerant, &rc);
  if (rc == 0) gusinf(&entries.handle, &size, &count, &rc);
  if (rc == 0 && (size < 1 || size > PCS_DIR_ENTRY)) rc = PCS_GEN_NO_MEMORY;
  ClassRun run{ws, dir, standard, map_stack};
  char entry[PCS_DIR_ENTRY], text[PCS_DIR_ENTRY + 1];
  while (rc == 0) {
    guspop(&entries.handle, entry, &empty, &rc);
    if (rc != 0 || empty != 0) break;
    sufscs(entry, text, &size, &rc);
    if (rc == 0) rc = class_entry(run, text);
    if (rc == 0) gj0swm(&ws, &rc);
  }
  return rc;
}

}  // namespace
}  // namespace pcs::generators

using pcs::generators::fail_into;

extern "C" PCS_API void cgclprs(const char *dump, const char *directory, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { fail_into(rc, pcs::generators::class_map(dump, directory)); });
}

extern "C" PCS_API void cgpscr(const char *directory, const char *standard, int *map_stack,
                               int *rc) {
  pcs::generators::run_creator(rc, [&](int ws) {
    return pcs::generators::piping_classes(ws, directory, standard, map_stack);
  });
}
