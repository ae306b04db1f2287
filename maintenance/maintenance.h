// Internal operations of catalog maintenance: the index writer of the index
// builder and the process layout of the maintenance dispatcher. The
// sequential readers, the key record space and the key descriptions it
// shares with the catalog files are in common/.
// The public entry points (csgrn, csgia, csbndx, cscprt2, cscprs, ...) are
// in include/pcs.h.
#ifndef PCS_MAINTENANCE_MAINTENANCE_H
#define PCS_MAINTENANCE_MAINTENANCE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "catalog/catalog.h"
#include "common/host_stack.h"
#include "common/key_description.h"
#include "common/key_records.h"
#include "common/sequential_read.h"
#include "include/pcs.h"

namespace pcs::maintenance {

// ---- index builder (csbndx.cpp, csrikr.cpp) -------------------------------

// csbndx and csgbldx give the PCS_BUILD_* codes of include/pcs.h.

// Longest key and longest run of equal keys the fixed index layout holds
// ("%4d").
inline constexpr int kIndexKeyMax = 9999;
inline constexpr int kIndexRunMax = 9999;

// Sum of the widths, at most kIndexKeyMax + 1; 0 when field_count is below
// 1, -1 when a width is negative.
int GetKeyLength(int field_count, const int *widths);
// Writes the index of the n sorted records: 0, 5 or 6.
int OutputIndexFile(const char *index_path, int n, int key_length, KeyRecord *records);
// Fixed-column key reader (csrikr); its record counter is csgrc.
int ReadInKeyRecord(const char *source_path, const int *field_count, void *description,
                    const int *widths, int record_count, int key_length, KeyRecord *records,
                    int *filled);

// ---- maintenance dispatcher (csnames.cpp, cscprt2.cpp) ---------------------

inline constexpr int kProcessEntry = 80;  // entry size of the process stacks
inline constexpr int kCreateIndex = 1;    // the one process code that is run
inline constexpr int kUnknownProcess = 9;

// The catalog directory of entry 1 of the project setup stack (gj0frd) as
// a path prefix: trailing blanks dropped, blanks inside turned into "/", one
// "/" appended, into `directory` (room for path_max + 1 bytes). 0;
// PCS_CANNOT_OPEN no directory; PCS_PATH_TOO_LONG when the prefix and an
// 8-character name would pass path_max characters; PCS_GEN_NO_MEMORY; a
// stack service's code.
int catalog_directory(const int *setup, size_t path_max, char *directory, size_t *length);
// The same for the project's own setup (read with gj0frd): as
// catalog_directory, or the model service's code.
int project_catalog_directory(size_t path_max, char *directory, size_t *length);
// Pushes a string as an 80-byte entry; the stack service's code.
int push_string(const int *stack, const char *text);
// Pops an 80-byte entry as a 0-terminated string; *empty when there was
// none. The stack service's code.
int pop_string(const int *stack, char *entry, bool *empty);
// As pop_string; a key specification stack that runs out gives PCS_BUILD_NO_KEY.
int pop_key_string(const int *stack, char *entry);

// Process code of a process name; 9 when the name is not in the table.
int determine_type(const char *process_name);
// Builds one index from the key specification of the process on top of the
// stacks. Returns 0 or the failing code.
int create_index(int kind, int key_specs, int key_counts, const char *source_path,
                 const char *index_path);
// Pops `count` key specification strings as count / 3 character key fields.
// description: host array of 16-byte group + attribute entries; lengths:
// host block of field widths. Both are the caller's on success.
void create_char_key(int key_specs, int count, void **description, int *field_count,
                     int **lengths, int *rc);
// Pops `count` strings as count / 2 numeric key fields (column, length).
void create_num_key(int key_specs, int count, int **positions, int *field_count, int **lengths,
                    int *rc);
// "chmod 666 '<path>' 2>/dev/null " with the path quoted for the shell.
// False when the command does not fit `capacity`.
bool chmod_command(const char *path, char *command, size_t capacity);

}  // namespace pcs::maintenance

#endif
