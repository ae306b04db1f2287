// Internals of the catalog table generators: the three line splitters, the
// buffered text output of the converters, the rules table loader shared by
// the creators, find-or-create of named objects, and the constant tables of
// part types and table kinds.
#ifndef PCS_GENERATORS_GENERATORS_H
#define PCS_GENERATORS_GENERATORS_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/host_stack.h"
#include "common/model_session.h"
#include "common/report.h"
#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs::generators {

// Text lines are read with fgets into buffers of this size: at most 255
// characters a line, a longer line comes in pieces that count as lines.
inline constexpr int kLineSize = 256;
// Split lines give 19 fields of at most 255 characters each.
inline constexpr int kFields = 19;
inline constexpr int kFieldSize = 256;
// Dump entry lines carry data in columns 1 to 72 only.
inline constexpr size_t kCardEnd = 72;
// Longest path a generator builds from a directory and a name.
inline constexpr size_t kPathMax = 255;
// Host stack entries of names and tokens.
inline constexpr int kStackEntry = 80;

using Fields = char[kFields][kFieldSize];

// Splits a dump entry line: field 0 the keyword (whole), then the values of
// columns 1 to 72 separated by blanks, commas or a comma with blanks.
void SplitDumpLine(const char *line, Fields fields);
// Splits a comma-separated table line; blanks stay in the values.
void SplitCsvLine(const char *line, Fields fields);
// Splits an encoded-table entry into table name, code and description
// (three buffers of kFieldSize bytes; each empty when absent).
void SplitEncodedEntry(const char *line, char *name, char *code, char *description);

// A 1 MiB stream buffer, so that dumps are read and tables written in
// large blocks, not 4 KiB ones (the C library takes no larger size without
// the memory). Declare it before the stream it serves: it must outlive it.
class LargeBuffer {
 public:
  // Gives `stream` (when not null, before its first read or write) this
  // buffer; returns it.
  FILE *serve(FILE *stream);

 private:
  std::unique_ptr<char[]> bytes_;
};

// Reads the next line (or piece of a longer one) into line[kLineSize];
// false at the end of the input or when the read failed.
bool read_line(FILE *input, char *line);
// After read_line gave false: true when the input had not ended (the read
// failed), so the lines read so far are not the whole file.
inline bool read_failed(FILE *input) { return std::feof(input) == 0; }

// Stores a failure in the caller's result code; success leaves it alone.
inline void fail_into(int *rc, int code) {
  if (code != 0) *rc = code;
}

// The frame of a creator's entry point: work(ws) -> code inside a model
// session, no exception out, a failure stored in *rc.
template <class Work>
void run_creator(int *rc, Work &&work) {
  guarded(rc, PCS_GEN_NO_MEMORY, [&] { fail_into(rc, with_model_session(work)); });
}

// Reads lines until one contains `header` (or `other` when given): 0, or
// PCS_INPUT_ENDED at the end of the input.
int find_header(FILE *input, const char *header, const char *other = nullptr);
inline bool is_end_line(const char *line) { return std::strstr(line, "CTFTBEN") != nullptr; }

// Reads a dump section up to its end line, splitting each line and calling
// on_entry(fields) for those whose field 0 begins with the 8-character entry
// keyword. 0, PCS_INPUT_ENDED without an end line, or on_entry's first code.
template <class OnEntry>
int read_section(FILE *input, const char *keyword, OnEntry &&on_entry) {
  char line[kLineSize];
  Fields fields;
  for (;;) {
    if (!read_line(input, line)) return PCS_INPUT_ENDED;
    if (is_end_line(line)) return 0;
    SplitDumpLine(line, fields);
    if (std::strncmp(fields[0], keyword, 8) != 0) continue;
    if (int rc = on_entry(fields)) return rc;
  }
}

// An output file written through the file layer; a short write makes every
// later call fail with PCS_SHORT_WRITE.
class Output {
 public:
  explicit Output(FILE *file) : file_(file) {}
  // Appends text to the pending line.
  Output &put(std::string_view text) {
    line_.append(text);
    return *this;
  }
  // "text," as the converters write each value.
  Output &value(std::string_view text) { return put(text).put(","); }
  // Writes the pending line with its newline: 0 or PCS_SHORT_WRITE.
  int end_line();

 private:
  FILE *file_;
  std::string line_;
};

// dir + "/" + name into path (kPathMax + 1 bytes); PCS_PATH_TOO_LONG when the
// result would be longer than kPathMax characters.
int join_path(const char *dir, std::string_view name, char *path);

// One family of rules tables: the group loaded and its columns in file
// order, whether reals are scaled and the extra rule of the family.
enum class Extra { none, size_key, ends_name };
struct RulesTable {
  const char *group;
  const char *const *columns;
  int column_count;
  bool scaled;
  Extra extra;
};
extern const RulesTable kWeldTable, kBranchTable, kPipeDimTable, kCompatTable, kFunctionTable;

// Loads the comma-separated file at path into rows of table.group of the
// object: one row per line. 0, PCS_CANNOT_OPEN, PCS_GEN_NO_MEMORY for a
// column longer than a value buffer, or the first failing service's code.
int LoadRulesTable(const char *path, int handle, const RulesTable &table, double scale);

// An int read as "%d" reads it, clamped to the int range instead of
// overflowing; false when the text holds no number.
bool read_int(const char *text, int *value);

// For type letter I or R: reads text with "%d" or "%lf" (times scale) into
// the start of value, which a text that does not parse leaves alone; true.
// False for other types.
bool store_number(const char *text, char type, double scale, char *value);

// Finds the object of `type` named by the 72-character field `name`, or
// creates it, and readies every group of its type with `group_type`.
int cgucpo(int ws, const char *type, const char *name, const char *group_type, int *handle);
// Creates the object through gtbcpo; true when the host answered 1.
bool cgcpo(int ws, const char *type, const char *name, int *handle, int *rc);

// The nine part types of function rules files, in scan order; the index of
// the first whose name begins with `suffix` (suffix not empty), or -1.
extern const char *const kPartTypes[9];
int part_type_of(std::string_view suffix);

// A 72-character blank-padded object name from a 0-terminated string.
std::string object_name72(const char *text);

// Class map dumps and the CLASSMAP file. ReadClassStatement creates *stack
// (80-byte tokens; left empty at the end of the input) and fills it with the
// tokens of the next statement; WriteClassMapLine writes a class statement's
// line; ReadClassMap pushes the table name and kind pairs of the lines of
// the 256-character class name field. Each returns 0 or a code.
int ReadClassStatement(FILE *dump, int *stack);
int WriteClassMapLine(Output &out, int tokens);
int ReadClassMap(const char *class_name, const char *dir, int stack);
// Equal when every position holds a blank on either side or the same byte;
// else -1 or 1 by the first differing bytes (unsigned).
int CompareBlankTolerant(const void *first, const void *second, const int *length);

// Prints the path of a table file being loaded, ">path<", to standard error.
void trace_path(const char *path);

}  // namespace pcs::generators

#endif
