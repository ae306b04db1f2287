// cgwtcr, cgbtcr, cgcmptcr: weld rules, branch rules and end styles of a
// project table dump into comma-separated table files.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "generators/generators.h"

namespace pcs::generators {

int find_header(FILE *input, const char *header, const char *other) {
  char line[kLineSize];
  while (read_line(input, line))
    if (std::strstr(line, header) || (other && std::strstr(line, other))) return 0;
  return PCS_INPUT_ENDED;
}

namespace {

constexpr int kMaxTriples = 5;

// One weld entry: a line per (wall 1, wall 2, weld type) triple, at most 5.
int WriteWeldEntries(Fields f, Output &out) {
  int count = 0;
  if (!read_int(f[3], &count) || count < 1) return 0;
  count = std::min(count, kMaxTriples);
  for (int i = 0; i < count; ++i) {
    const int t = 4 + 3 * i;
    out.value(f[1]).value(f[1]).value(f[t]).value(f[t + 1]).value(f[2]).value(f[t + 2]);
    if (int rc = out.end_line()) return rc;
  }
  return 0;
}

template <size_t N>
int WriteFieldsByIndex(Fields f, const int (&indexes)[N], Output &out) {
  for (int index : indexes) out.value(f[index]);
  return out.end_line();
}

constexpr int kBranchFields[] = {1, 2, 6, 3, 4, 5};
constexpr int kEndStyleFields[] = {3, 4, 1, 4, 2};

// The converter frame: opens the dump and a new version of the output,
// finds the header and hands every entry of the section to write(fields,
// output); the output replaces the old file only when it is complete.
template <class Write>
int convert(const char *dump_path, const char *output_path, const char *header,
            const char *keyword, Write &&write) {
  LargeBuffer in, out_buffer;  // outlive the streams they serve
  FILE *dump = in.serve(io::open(dump_path, "r"));
  if (!dump) return PCS_CANNOT_OPEN;
  io::Replacements output;
  FILE *file = out_buffer.serve(output.begin(output_path));
  if (!file) {
    io::close(dump);
    return PCS_CANNOT_OPEN;
  }
  Output out(file);
  int rc = find_header(dump, header);
  if (rc == 0) rc = read_section(dump, keyword, [&](Fields f) { return write(f, out); });
  io::close(dump);
  if (rc == 0 && !output.commit()) rc = PCS_SHORT_WRITE;
  return rc;
}

void set_field(char *field, const char *text, size_t limit = kFieldSize - 1) {
  const size_t n = strnlen(text, limit);
  std::memcpy(field, text, n);
  field[n] = '\0';
}

int weld(const char *dump, const char *output) {
  return convert(dump, output, "WELDHEAD", "WELDNTRY", [](Fields f, Output &out) {
    if (std::strcmp(f[2], "F") == 0) set_field(f[2], "FIELD");
    else if (std::strcmp(f[2], "S") == 0) set_field(f[2], "SHOP");
    return WriteWeldEntries(f, out);
  });
}

int branch(const char *dump, const char *output) {
  return convert(dump, output, "BRNCHEAD", "BRNCNTRY",
                 [](Fields f, Output &out) { return WriteFieldsByIndex(f, kBranchFields, out); });
}

int end_style(const char *dump, const char *output, const char *standard) {
  return convert(dump, output, "ESTYHEAD", "ESTYNTRY", [standard](Fields f, Output &out) {
    set_field(f[3], "End Style");
    set_field(f[4], standard, 8);
    return WriteFieldsByIndex(f, kEndStyleFields, out);
  });
}

}  // namespace
}  // namespace pcs::generators

extern "C" PCS_API void cgwtcr(const char *dump, const char *output, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY, [&] { pcs::generators::fail_into(rc, pcs::generators::weld(dump, output)); });
}

extern "C" PCS_API void cgbtcr(const char *dump, const char *output, int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { pcs::generators::fail_into(rc, pcs::generators::branch(dump, output)); });
}

extern "C" PCS_API void cgcmptcr(const char *dump, const char *output, const char *standard,
                                 int *rc) {
  pcs::guarded(rc, PCS_GEN_NO_MEMORY,
               [&] { pcs::generators::fail_into(rc, pcs::generators::end_style(dump, output, standard)); });
}
