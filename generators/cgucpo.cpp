// cgucpo: find or create a named model object and ready the groups of its
// type; with the small helpers the creators share (object names, part
// types, the trace line of a table file).
#include <cstdio>
#include <cstring>

#include "generators/generators.h"
#include "host/host_model.h"

namespace pcs::generators {

const char *const kPartTypes[9] = {"BRANCH  ", "ELBOW0  ", "FITTING ", "FLG     ", "GSK     ",
                                   "PIPE    ", "VALVOPER", "VALVBODY", "MSCPPART"};

int part_type_of(std::string_view suffix) {
  if (suffix.empty() || suffix.size() > 8) return -1;
  for (int i = 0; i < 9; ++i)
    if (std::string_view(kPartTypes[i], suffix.size()) == suffix) return i;
  return -1;
}

std::string object_name72(const char *text) {
  std::string name(text, strnlen(text, 72));
  name.resize(72, ' ');
  return name;
}

void trace_path(const char *path) { std::fprintf(stderr, ">%s<\n", path); }

bool cgcpo(int ws, const char *type, const char *name, int *handle, int *rc) {
  return gtbcpo(&ws, type, name, handle, rc, 8, 72) == 1;
}

namespace {

// Attaches each group of the stack to the object (quietly: it may hold it
// already) and readies it for the type; gj0pig's code decides.
int attach_groups(int ws, int handle, const char *type, const char *group_type, int groups) {
  char group[kFieldSize];
  int rc = 0, empty = 0;
  for (;;) {
    guspop(&groups, group, &empty, &rc);
    if (rc != 0 || empty != 0) return rc;
    int quiet = 0, previous = 0, restored = 0;
    gueact(&quiet, &previous);
    gj0aii(&ws, &handle, type, group, &rc);
    gueact(&previous, &restored);
    gj0pig(type, group, group_type, &rc);
    if (rc != 0) return rc;
  }
}

}  // namespace

int cgucpo(int ws, const char *type, const char *name, const char *group_type, int *handle) {
  const int name_length = 72, level = 4;
  int rc = 0;
  gtbsui(&ws, type, &name_length, name, handle, &rc);
  if (rc == 0 && *handle == 0) cgcpo(ws, type, name, handle, &rc);
  int groups = 0, element = 0;
  if (rc == 0) gj0erx(&ws, handle, &groups, &element, &rc);
  if (rc != 0) return rc;
  HostStack group_stack, type_stack;
  gtbwvg(&ws, type, &element, &level, &group_stack.handle, &type_stack.handle, &rc);
  if (rc != 0) return rc;
  return attach_groups(ws, *handle, type, group_type, group_stack.handle);
}

}  // namespace pcs::generators
