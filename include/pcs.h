/*
 * pcs.h - piping catalog services, the public interface.
 *
 * A shared library that a piping design application (the host) loads to keep
 * catalogs of piping parts and their index files, keyed project tables, and
 * the project tables built from table dumps. This header is valid C and C++
 * and is the manual of every entry point the library exports.
 *
 * Conventions
 *  1. Every argument is passed by reference (a pointer), except where an
 *     entry point says "by value". Operations whose name ends in `f` are the
 *     by-reference forms of by-value operations.
 *  2. Names of groups, attributes, tables and objects are name fields:
 *     PCS_NAME_LEN (8) characters, blank-padded, with no terminator. They
 *     compare over their 8 bytes as unsigned bytes (a blank sorts before a
 *     digit or a letter).
 *  3. The last argument `rc` receives the result code: 0 is success.
 *     Lower-level operations use small codes (1 to 7) documented at each
 *     entry point; operations the host sees directly use the five-digit codes
 *     of PCS_RESULT_CODES below. Outputs other than rc are written only as
 *     each entry point documents.
 *  4. Everything an operation hands to the caller (part records, host stacks
 *     and the parts inside them, catalog handles) is allocated with the host
 *     memory service (gimaloc and friends) and goes back through the matching
 *     release operation (cspgfre/csgfree for parts, gusend for stacks).
 *  5. Pointer width. The host these operations were designed for is 32-bit
 *     and keeps pointers in 4-byte fields: host stack entries that hold part
 *     record handles, and the addresses of the module header. This library
 *     uses pointer-sized fields there: a stack of part handles has entries of
 *     PCS_HANDLE_SIZE (sizeof(void *)) bytes. File formats are unaffected:
 *     every integer in a file is a 32-bit big-endian word.
 *  6. Files are stdio streams; records are stored in binary mode.
 *  7. Failures are result codes. No entry point throws, exits or aborts,
 *     whatever the contents of a file it reads.
 *  8. The library calls the host's services by name (gimaloc, pplstins,
 *     gusini, gueror, ...); see <pcs/host_services.h> and <pcs/host_model.h>
 *     (host/ in the source tree). Each is bound on its first call through
 *     the module header `vomhead`: by the binder a host's loader installs
 *     there, or else by name through the dynamic linker. The in-process
 *     host library libpcshost provides them for programs that have no host.
 */
#ifndef PCS_H
#define PCS_H

#include <stdint.h>
#include <stdio.h>

/* Marks the entry points (and data) that the library exports. */
#if defined(__GNUC__)
#define PCS_API __attribute__((visibility("default")))
#else
#define PCS_API
#endif
/* Marks the diagnostics that the library exports beside the entry points;
 * they are not in the module header's export directory. */
#define PCS_DIAG_API PCS_API

#ifdef __cplusplus
extern "C" {
#endif

/* ==== Field widths ======================================================== */

#define PCS_NAME_LEN 8         /* group, attribute, table and object names */
#define PCS_CATALOG_PATH 256   /* expanded catalog and index paths, with 0 */
#define PCS_PATH_MAX 255       /* longest catalog path argument */
#define PCS_DIR_ENTRY 80       /* file names pushed by csfdir */
#define PCS_KEY_FIELD 16       /* group name + attribute name of a key field */
#define PCS_INDEX_HEADER 17    /* bytes before the first index record */
#define PCS_INDEX_OVERHEAD 29  /* index record length minus key length */
#define PCS_KEY_MAX 499        /* longest key the index search takes */
#define PCS_MESSAGE_SET "TW3CXERR" /* message set of the record operations */
#define PCS_HANDLE_SIZE ((int)sizeof(void *)) /* stack entry of a handle */

/* ==== Result codes ========================================================
 * One table: X(name, value, meaning). It gives the constants below and the
 * message texts of the in-process host. */
/* The result code table: X(name, value, meaning) for every code. */
#define PCS_RESULT_CODES(X)                                                     \
  X(PCS_OK, 0, "done")                                                          \
  X(PCS_NO_MEMORY, 20001, "memory could not be obtained")                       \
  X(PCS_ATTR_EXISTS, 20002, "the group already holds an attribute of that name") \
  X(PCS_NO_GROUP, 20003, "the record has no group of that name")                \
  X(PCS_SHORT_WRITE, 20004, "a write to a catalog file fell short")             \
  X(PCS_NO_ATTR, 20005, "the group has no attribute of that name")              \
  X(PCS_BAD_VALUE_INDEX, 20006, "a value index below 1")                        \
  X(PCS_GEN_NO_MEMORY, 20101, "memory could not be obtained, or a declared length above 256") \
  X(PCS_QUERY_CATALOG, 20104, "a catalog file of the query lookup cannot be opened") \
  X(PCS_INPUT_ENDED, 20105, "an input ended early")                             \
  X(PCS_AT_END, 20108, "a record position at or beyond the end of the file")    \
  X(PCS_NO_SPEC_ENTRIES, 20110, "no specification entries were given")          \
  X(PCS_GENERIC_FLAG, 20112, "a generic-flag table lookup answered 800")        \
  X(PCS_RECORD_DELETED, 20113, "a record that is marked deleted")               \
  X(PCS_CANNOT_OPEN, 20121, "a file or directory cannot be opened, or no catalog entry") \
  X(PCS_PATH_TOO_LONG, 20122, "a path built from a directory and a name is too long") \
  X(PCS_RENAME_ACCESS, 20127, "rename: access denied, read-only or other file system") \
  X(PCS_RENAME_ILSEQ, 20128, "rename: illegal byte sequence in a name")         \
  X(PCS_RENAME_ISDIR, 20129, "rename: the target is a directory")               \
  X(PCS_RENAME_MLINK, 20130, "rename: too many links")                          \
  X(PCS_RENAME_NOSPC, 20131, "rename: no space left on the device")             \
  X(PCS_RENAME_TXTBSY, 20132, "rename: the file is busy")                       \
  X(PCS_RENAME_NAMETOOLONG, 20133, "rename: a name is too long")                \
  X(PCS_RENAME_OTHER, 20134, "rename: the file could not be renamed")        \
  X(PCS_INTERNAL_ERROR, 20999, "an unexpected internal error stopped the operation")

/* Small result codes (1 to 9), one table per family of operations: the same
 * value means different things in different families, so each family has
 * names of its own, X(name, value, meaning). 0 is PCS_OK everywhere. An
 * entry point whose C++ core fails in an unexpected way gives its family's
 * no-memory code when memory ran out, and PCS_INTERNAL_ERROR otherwise. */

/* Catalog records: cspgetrc, cspdelrc, cspgkey, and the group writes of
 * cspgwrt and csgrewrt. */
#define PCS_RECORD_FILE_CODES(X)                                                \
  X(PCS_RECORD_UNREADABLE, 1, "no memory, or no sound record at the offset")    \
  X(PCS_RECORD_IS_DELETED, 2, "the record is marked deleted")                   \
  X(PCS_RECORD_SCAN_NO_MEMORY, 2, "memory could not be obtained for the scan")  \
  X(PCS_RECORD_GROUP_SHORT_WRITE, 4, "a write inside a group fell short")

/* Catalog index files: csailn, csalku, csaget, cspgread, cspgtnky, csggnrc,
 * csgdnrc, csgdelrc. */
#define PCS_INDEX_CODES(X)                                                      \
  X(PCS_INDEX_NO_KEY, 1, "the key, its next key or its record is not there, or the index is not trusted") \
  X(PCS_INDEX_BAD_NUMBER, 2, "the record number is outside the key's records")

/* Catalog access: csgopen, csgget, csggetm, csgputip, csgikey. */
#define PCS_ACCESS_CODES(X)                                                     \
  X(PCS_OPEN_NO_MEMORY, 1, "memory could not be obtained for the handle")       \
  X(PCS_OPEN_NO_CATALOG, 2, "the catalog file cannot be opened")                \
  X(PCS_OPEN_NO_INDEX, 3, "the index file cannot be opened")                    \
  X(PCS_GET_NOT_FOUND, 1, "the key is not in the index")                        \
  X(PCS_GET_SEVERAL, 2, "more than one record carries the key")                 \
  X(PCS_GET_UNREADABLE, 3, "the record cannot be read")                         \
  X(PCS_GET_DELETED, 4, "the record is marked deleted")                         \
  X(PCS_GETM_UNREADABLE, 1, "a record cannot be read, or its handle not pushed") \
  X(PCS_GETM_NOT_FOUND, 7, "the key is not in the index, or a record of it is deleted") \
  X(PCS_PUT_NOT_FOUND, 2, "the key is not in the index, or an index record is unreadable") \
  X(PCS_PUT_REFUSED, 3, "a rewrite failed or was refused, or the stack does not hold handles") \
  X(PCS_IKEY_UNREADABLE, 1, "a record cannot be read or its key not built")     \
  X(PCS_IKEY_NO_FILE, 2, "the catalog file cannot be opened")

/* Keyed group files and tables: cspopn, cspcls, cspput, cspputs, cspget,
 * cspget1, cspdel, cspgtr, cgtopn and the group list operations. */
#define PCS_KEYED_CODES(X)                                                      \
  X(PCS_KEYED_NO_MEMORY, 1, "memory could not be obtained")                     \
  X(PCS_KEYED_DUPLICATE, 2, "two live records share a key")                     \
  X(PCS_KEYED_KEY_SIZE, 3, "a key attribute's size differs from its key field length") \
  X(PCS_KEYED_NOT_FOUND, 4, "no record has the key, or the file cannot be opened, written or closed") \
  X(PCS_KEYED_DAMAGED, 5, "a damaged record, an empty group list, or a null or table handle") \
  X(PCS_KEYED_IN_USE, 6, "the handle is in use, or the position is at or past the end of the file") \
  X(PCS_KEYED_DEAD, 7, "the record at the position is not live")

/* Group and attribute access of keyed group lists: cspgta, cspgtg, cspgtgn,
 * cspgtv, cspgtvn, cspgtn, cspgtl, cspsvdl, cspdla, cspdlg. */
#define PCS_GROUP_ACCESS_CODES(X)                                               \
  X(PCS_GROUP_NOT_FOUND, 1, "no matching group, attribute or value, or an empty list")

/* The index builder: csbndx, csgbldx (and cscprt2, which passes them on),
 * and csai2a. */
#define PCS_BUILD_CODES(X)                                                      \
  X(PCS_BUILD_NO_SOURCE, 1, "the source file is missing, unreadable or empty")  \
  X(PCS_BUILD_NO_KEY, 2, "the key has no length, or a width is negative")       \
  X(PCS_BUILD_NO_MEMORY, 3, "memory could not be obtained")                     \
  X(PCS_BUILD_READER_FAILED, 4, "the key reader failed")                        \
  X(PCS_BUILD_NOT_CREATED, 5, "the index file cannot be created, or it names the source file") \
  X(PCS_BUILD_SHORT_WRITE, 6, "a write to the index file failed")               \
  X(PCS_BUILD_KEY_TOO_LONG, 7, "the key is longer than the index search takes") \
  X(PCS_BUILD_KEY_TOO_WIDE, 8, "the key is longer than the index header holds") \
  X(PCS_BUILD_RUN_TOO_LONG, 9, "more equal keys than a count field holds")      \
  X(PCS_NUMBER_TOO_WIDE, 1, "the value does not fit the field (csai2a)")

/* Key readers: csgia, csrikr. */
#define PCS_KEY_READER_CODES(X)                                                 \
  X(PCS_KEYS_NO_FILE, 1, "the source file cannot be opened")                    \
  X(PCS_KEYS_UNREADABLE, 2, "a record could not be read")

/* Catalog compression: cscprs. */
#define PCS_COMPRESS_CODES(X)                                                   \
  X(PCS_COMPRESS_NO_MEMORY, 1, "memory could not be obtained for a record")     \
  X(PCS_COMPRESS_FAILED, 2, "the catalog or the new file could not be opened, read, written or renamed")

/* The table text tool: cstabl. */
#define PCS_TABLE_TOOL_CODES(X)                                                 \
  X(PCS_TABLE_CANNOT_OPEN, 1, "a file cannot be opened or written, or a name or path is refused") \
  X(PCS_TABLE_NO_HEADER, 2, "the input has no header line")

#define PCS_RESULT_ENUM_(name, value, text) name = value,
/* Every code, five-digit and small, is a constant of one enumeration. */
enum PcsResultCode {
  PCS_RESULT_CODES(PCS_RESULT_ENUM_) PCS_RECORD_FILE_CODES(PCS_RESULT_ENUM_)
  PCS_INDEX_CODES(PCS_RESULT_ENUM_) PCS_ACCESS_CODES(PCS_RESULT_ENUM_)
  PCS_KEYED_CODES(PCS_RESULT_ENUM_) PCS_GROUP_ACCESS_CODES(PCS_RESULT_ENUM_)
  PCS_BUILD_CODES(PCS_RESULT_ENUM_) PCS_KEY_READER_CODES(PCS_RESULT_ENUM_)
  PCS_COMPRESS_CODES(PCS_RESULT_ENUM_) PCS_TABLE_TOOL_CODES(PCS_RESULT_ENUM_)
  PCS_RESULT_CODE_END_
};
#undef PCS_RESULT_ENUM_

/* ==== Part records ========================================================
 * A part record is a list of attribute groups in ascending name order; a
 * group is a list of attributes in ascending name order; an attribute is a
 * named array of nAttrs values of nAttrLength bytes each. Lists are host
 * lists (a handle is the first node; null when empty). */

/* An attribute: a named array of equally sized values. */
typedef struct Attribute {
  char AttrName[PCS_NAME_LEN]; /* name field */
  int32_t nAttrs;          /* number of values, at least 1 */
  int32_t nAttrLength;     /* bytes per value, at least 1 */
  unsigned char *AttrValue; /* nAttrs * nAttrLength bytes */
} Attribute;

/* An attribute group: a named list of attributes in name order. */
typedef struct AttrGroup {
  char GroupName[PCS_NAME_LEN]; /* name field */
  void *AttrList;   /* host list of Attribute */
  void *AttrCursor; /* traversal cursor; null: before the first */
  int32_t AttrCount; /* number of attributes */
} AttrGroup;

/* A part record: a list of attribute groups in name order. */
typedef struct PartRecord {
  void *GroupList;   /* host list of AttrGroup */
  void *GroupCursor; /* traversal cursor; null: before the first */
  int32_t GroupCount; /* number of groups */
} PartRecord;

/* Comparators for host lists: compare the first 8 bytes of two attributes,
 * groups or bare names as strncmp(a, b, 8) does. The *cmp form is given on
 * insertion, the *cnm form on lookup and removal.
 *  first, second (in) 8-byte name fields (or items that start with one) */
PCS_API int csatrcmp(const void *first, const void *second);
PCS_API int csatrcnm(const void *first, const void *second);
PCS_API int csgrpcmp(const void *first, const void *second);
PCS_API int csgrpcnm(const void *first, const void *second);

/* Diagnostic dumps to standard error: one attribute (name, counts, values as
 * characters and, for lengths 4, 8 and 24, one line per value as a 32-bit
 * integer, a real or three reals, in this machine's representation); one
 * group (a banner line and the dump of each attribute). Null is ignored.
 *  attribute, group (in) may be null */
PCS_API void csatrdmp(const Attribute *attribute);
PCS_API void csgrpdmp(const AttrGroup *group);

/* Calls visit(group) for each group of the record in name order. A null
 * record or an empty one calls nothing.
 *  record (in); visit (in) called with each group */
PCS_API void csgrltrs(PartRecord *record, void (*visit)(void *group));

/* cspgcre: creates an empty part record.
 *  record (out) the new record, null on failure
 *  rc     (out) 0; 20001 no memory (reported) */
PCS_API void cspgcre(PartRecord **record, int *rc);

/* cspgadd: adds an attribute of `count` values of `length` bytes under a
 * group, creating the group when it is new. A count or length below 1 adds
 * no attribute (the group is still created) and gives 0.
 *  record (in, by value), group/attribute (in, name fields),
 *  count/length (in, by value), values (in, count*length bytes)
 *  rc (out) 0; 20001 no memory; 20002 the attribute exists (kept unchanged).
 *  Non-zero codes are reported with message set "TW3CXERR". */
PCS_API void cspgadd(PartRecord *record, const char *group, const char *attribute, int count,
                     int length, const void *values, int *rc);
/* cspgaddf: cspgadd with the record, count and length by reference.
 *  record (in) *record is the record; group, attribute (in) 8-byte names
 *  count, length (in) by reference; values (in) count*length bytes
 *  rc (out) as cspgadd */
PCS_API void cspgaddf(PartRecord **record, const char *group, const char *attribute,
                      const int *count, const int *length, const void *values, int *rc);

/* cspgretn: number of values and value length of an attribute.
 *  count/length (out) 0 on failure
 *  rc (out) 0; 20003 no such group; 20005 no such attribute (reported with
 *  the missing name as the message parameter)
 *  record (in); group, attribute (in) 8-byte names */
PCS_API void cspgretn(PartRecord *record, const char *group, const char *attribute, int *count,
                      int *length, int *rc);

/* cspgretv: copies all values of an attribute to `destination`, which must
 * hold count*length bytes (ask cspgretn first). Codes and reports as
 * cspgretn; the destination is untouched on failure.
 *  record (in); group, attribute (in) 8-byte names
 *  destination (out) count*length bytes; rc (out) as cspgretn */
PCS_API void cspgretv(PartRecord *record, const char *group, const char *attribute,
                      void *destination, int *rc);

/* cspgrepl: replaces value number `index` (from 1) of an attribute, or
 * appends it when index is beyond the last value; creates the attribute and
 * its group when they do not exist. An existing attribute keeps its own
 * value length; `length` is used only for a new attribute. New slots without
 * a value hold zero bytes.
 *  rc (out) 0; 20006 index below 1 (nothing changes); 20001 no memory;
 *  codes of cspgadd. Reported.
 *  record (in/out); group, attribute (in) 8-byte names
 *  index (in, by value) value number from 1; length (in, by value) bytes
 *  per value; value (in) one value of the attribute's length */
PCS_API void cspgrepl(PartRecord *record, const char *group, const char *attribute, int index,
                      int length, const void *value, int *rc);

/* csgreplv: replaces all values of an existing attribute (same count and
 * length). Every argument by reference.
 *  record (in) the record handle; values (in) count*length bytes
 *  rc (out) 0; 20003 no such group; 20005 no such attribute (the record is
 *  unchanged); 20001 no memory (the attribute is then gone). Reported once,
 *  20003/20005 with the missing name as the message parameter.
 *  group, attribute (in) 8-byte names */
PCS_API void csgreplv(PartRecord **record, const char *group, const char *attribute,
                      const void *values, int *rc);

/* cspgdela: removes and releases one attribute; a missing group or
 * attribute is ignored and reports nothing. A group left empty stays in the
 * record.
 *  record (in/out); group, attribute (in) 8-byte names */
PCS_API void cspgdela(PartRecord *record, const char *group, const char *attribute);

/* cspgdel: empties the record (every group and attribute); the record
 * object stays usable.
 *  record (in/out) */
PCS_API void cspgdel(PartRecord *record);

/* cspgfre: releases the record and everything in it; the handle is invalid
 * afterwards. A null record is ignored.
 *  record (in) released */
PCS_API void cspgfre(PartRecord *record);
/* cspgfref: cspgfre on *record; the caller's variable is not cleared.
 *  record (in) *record is released */
PCS_API void cspgfref(PartRecord **record);

/* ==== Part catalog files ==================================================
 * A catalog file is a sequence of length-prefixed records (32-bit
 * big-endian words): length L, deleted flag, offset 12 of the group count,
 * group count G, G group offsets, the groups, a closing newline. */

/* cspgwrt: appends the record at the end of the stream and leaves the
 * stream positioned after it.
 *  record, stream (in, by value)
 *  rc (out) 0; 20001 no memory; 20004 a header, offset table or newline
 *  write fell short, the final rewrite of the header did, or the flush
 *  after the record failed, or the record would not end below 2^31 (the
 *  offsets an index holds; nothing is written then), or a rollback journal
 *  beside the catalog could not be settled first; 4 a write inside a group
 *  fell short. 0 is only
 *  given once the record's bytes reached the file (flushed and checked);
 *  on failure the file is cut back to where the record began, so it stays
 *  walkable. A record without groups writes nothing, returns 0 and leaves
 *  rc unchanged. Non-zero codes are reported.
 *  Returns the number of bytes written (the record length on success). */
PCS_API int cspgwrt(PartRecord *record, FILE *stream, int *rc);
/* cspgwrtf: cspgwrt with every argument by reference.
 *  record, stream (in) by reference; rc (out) as cspgwrt */
PCS_API int cspgwrtf(PartRecord **record, FILE **stream, int *rc);

/* csgrewrt: rewrites the record in place at byte `offset` of the stream,
 * live (deleted flag 0). Codes of cspgwrt; a record that would serialize
 * longer than the one on disk (or an offset where no record with a
 * plausible length stands, or a stream not open for writing) is refused
 * with 20004 and nothing is written. A shorter record keeps the old length: zero bytes pad it before its closing
 * newline, so the file stays walkable.
 * The old bytes are first saved in a rollback journal beside the catalog
 * ("<catalog>-journal", found through the stream's file; its layout is in
 * docs/formats.md), synced and locked for as long as it lives; the new
 * record is written and synced, then the journal removed. A failure puts
 * the old bytes back in the same call; after a crash, or when that fails
 * too, the next opener puts them back. Either way the file holds the old
 * record or the new one, never a mix. A journal of another process's
 * rewrite still in progress makes the call refuse with 20004.
 * Returns the number of bytes written.
 *  offset (in) byte offset of the record; record (in) *record is written
 *  stream (in) open for update; rc (out) as above */
PCS_API int csgrewrt(const int *offset, PartRecord **record, FILE *stream, int *rc);

/* cspgetrc: reads the record at byte `offset`. Nothing is reported.
 *  stream, offset (in, by value)
 *  length (out) the record length L (also for a deleted or damaged record,
 *  so a caller can step over it); 0 when the length word is below 16 or
 *  reaches past the end of the file: there is nothing to step over then.
 *  rc (out) 0; 1 no memory, a length as above, or a damaged record (an
 *  offset, count or size that leaves the record, attributes that add up to
 *  more bytes than it holds, a value count or length below 1, a repeated
 *  attribute); 2 deleted.
 *  Returns a new part record owned by the caller, or null. */
PCS_API PartRecord *cspgetrc(FILE *stream, int offset, int *length, int *rc);

/* cspdelrc: marks the record at byte `offset` deleted (sets its flag word
 * to 1). rc (out) 0; 1 no record with a plausible length stands there
 * (nothing is written) or the write failed.
 *  stream (in); offset (in, by value) byte offset of the record */
PCS_API void cspdelrc(FILE *stream, int offset, int *rc);

/* cspgkey: walks every record of the catalog and pushes onto `stack` (a host
 * stack of entries of *value_size bytes) the values of group/attribute of
 * each live record whose values fill exactly *value_size bytes. Deleted and
 * unreadable records are stepped over; the walk ends at a record whose
 * length cannot be trusted (see cspgetrc). Records without the attribute
 * are reported by cspgretn (20003, 20005).
 *  rc (out) 0; 2 no memory (for the value buffer or for reading a record:
 *  the walk stops there, and what was pushed stays on the stack); the stack
 *  service's code when a push fails.
 *  stream (in) *stream is the catalog; value_size (in) bytes per entry
 *  group, attribute (in) 8-byte names; stack (in) the stack pushed onto */
PCS_API void cspgkey(FILE **stream, const int *value_size, const char *group,
                     const char *attribute, const int *stack, int *rc);

/* ==== Catalog index files =================================================
 * An index file is text: a 17-byte header "%12d%4d\n" (N records, key length
 * K), then N records of K + 29 bytes: "%4d" count of records of the key,
 * "%12d" catalog offset, "%12d" index offset of the key's first record, the
 * K key bytes, a newline. Records are sorted by key (unsigned bytes).
 * Every operation reads the header afresh and trusts the index only when
 * N >= 0, 1 <= K <= PCS_KEY_MAX (499) and the file holds exactly
 * 17 + N * (K + 29) bytes; any other index is treated as holding no key.
 * Number fields are blanks, an optional minus and digits. Keys are compared
 * over K bytes as strncmp does. None of these operations reports. */

/* An open catalog: its two streams and their expanded paths. */
typedef struct CatalogHandle {
  FILE *CatalogFile; /* the catalog file */
  FILE *IndexFile;   /* its index file */
  char CatalogPath[PCS_CATALOG_PATH]; /* expanded, 0-terminated */
  char IndexPath[PCS_CATALOG_PATH];   /* expanded, 0-terminated */
} CatalogHandle;

/* csidxfst: 17, the offset of the first index record. */
PCS_API int csidxfst(void);
/* csailn: index record length R = K + 29 (also when rc is 1).
 * rc 0; 1 when K is below 1 or the index is not trusted (see above).
 *  index (in) *index is the index file; record_length (out) bytes
 *  rc (out) as above */
PCS_API void csailn(FILE **index, int *record_length, int *rc);
/* csalku: binary search for `key` (K bytes). rc 0 found: count and first
 * (the index offset of the key's first record) are set; rc 1 not found, an
 * index not trusted, or a found record whose count and first-record fields
 * describe a run of records that leaves the index or does not contain it
 * (outputs untouched).
 *  index (in) *index is the index file; key (in) K bytes
 *  count (out) records of the key; first (out) index byte offset
 *  rc (out) as above */
PCS_API void csalku(FILE **index, const char *key, int *count, int *first, int *rc);
/* csaget: catalog offset held by the index record at *record_offset.
 * rc 0; 1 when the offset is not the start of one of the N records, or
 * the record's fields are not numbers (data_offset untouched).
 *  index (in) *index is the index file; record_offset (in) index byte
 *  offset; data_offset (out) catalog byte offset; rc (out) as above */
PCS_API void csaget(FILE **index, const int *record_offset, int *data_offset, int *rc);
/* cspgread: reads the index record at `record_offset` (by value): its key
 * (K bytes, out) and catalog offset (out). Returns its count field; 0 at
 * or past the end of the index (rc 0); 0 with rc 1 for an index not
 * trusted or an offset that is not a record start.
 *  index (in); record_offset (in, by value) index byte offset
 *  data_offset (out) catalog byte offset; key (out) K bytes; rc (out) */
PCS_API int cspgread(FILE *index, int record_offset, int *data_offset, char *key, int *rc);
/* cspgtnky: the key after `key` (and after all records of it) in index
 * order; an all-blank key gives the first key. A key that is not in the
 * index writes "\nAssert Failed: cspgtnky, line 180\n" to standard error
 * and gives rc 1. rc 0; 1 there is no next key, or the key that follows is
 * not greater than `key` (an unsorted or damaged index), so that a walk
 * from key to key always ends.
 *  catalog (in) open handle; key (in) K bytes; next_key (out) K bytes
 *  rc (out) as above */
PCS_API void cspgtnky(CatalogHandle **catalog, const char *key, char *next_key, int *rc);
/* csggnrc: number of catalog records of a key. rc 1 not found (number 0).
 *  catalog (in) open handle; key (in) K bytes; number (out) records
 *  rc (out) 0 found */
PCS_API void csggnrc(CatalogHandle **catalog, const char *key, int *number, int *rc);
/* csgdnrc: marks record number *n (from 1) of a key deleted; an already
 * deleted record stays so (rc 0). rc 0; 1 key not found, index record
 * unreadable, or the index is stale: no whole record at its catalog offset,
 * or one that does not carry the key (the rule of cskeytgt; nothing is
 * written then, and csdamage gives the offset), or the write failed; 2 n
 * out of range.
 *  catalog (in) open handle; key (in) K bytes; n (in) record number
 *  rc (out) as above */
PCS_API void csgdnrc(CatalogHandle **catalog, const char *key, const int *n, int *rc);
/* csgdelrc: marks every record of a key deleted, in index order.
 * rc 0; 1 not found, or as csgdnrc for one of the records: every record
 * is checked before any is marked, so a stale index marks nothing.
 *  catalog (in) open handle; key (in) K bytes; rc (out) as above */
PCS_API void csgdelrc(CatalogHandle **catalog, const char *key, int *rc);

/* ==== Catalog access ======================================================
 * Path arguments end at their first blank or 0 byte (at most 255 characters
 * are read); a "/"-separated path component "$NAME" is replaced by the
 * environment variable NAME. A variable that is not set, or an expanded path
 * longer than 255 characters, makes the open fail. A catalog handle is not
 * closed by the library: fclose both streams and gifree the handle. */

/* A key record of the index builder: a catalog record offset and the address
 * of a caller-supplied key buffer of key length + 1 bytes. */
typedef struct KeyRecord {
  int32_t RecordOffset; /* offset of the source record */
  char *Key;            /* the key buffer */
} KeyRecord;

/* csgopen: opens a catalog and its index with the fopen mode in `mode`
 * (8 characters, up to the first blank).
 *  catalog (out) the new handle (host memory), null on failure
 *  rc (out) 0; 1 no memory; 2 catalog file cannot be opened (or its path is
 *  longer than 255 characters, names an unset variable, or a record that an
 *  interrupted csgrewrt left half written cannot be put back from its
 *  rollback journal, or another process's rewrite is still running after
 *  about a second of waiting); 3 the index file cannot be opened (or its
 *  path is as above). A journal left by an interrupted csgrewrt is applied
 *  first, only when it was written for this catalog as it is now; any other
 *  journal is set aside ("<catalog>-journal.bad-XXXXXX", named on standard
 *  error) and never applied.
 *  mode (in) 8 characters; catalog_path, index_path (in) path fields,
 *  blank-terminated, a leading "$NAME" expanded */
PCS_API void csgopen(const char *mode, const char *catalog_path, const char *index_path,
                     CatalogHandle **catalog, int *rc);
/* csgget: the one part of a key. part (out) null on failure.
 * rc 0; 1 key not found; 2 more than one record; 3 unreadable; 4 deleted.
 *  catalog (in) open handle; key (in) K bytes; rc (out) as above */
PCS_API void csgget(CatalogHandle **catalog, const char *key, PartRecord **part, int *rc);
/* csggetm: all parts of a key, as a new host stack of PCS_HANDLE_SIZE-byte
 * entries in index order. stack (out) 0 on failure.
 * rc 0; 7 key not found, index record unreadable or a record deleted;
 * 1 a record unreadable or a push failed; the stack service's code when the
 * stack cannot be made. A failure while reading writes " \n" to standard
 * error and leaves no parts and no stack behind.
 *  catalog (in) open handle; key (in) K bytes; rc (out) as above */
PCS_API void csggetm(CatalogHandle **catalog, const char *key, int *stack, int *rc);
/* csgputip: rewrites the k-th record of a key with the k-th part of `stack`
 * (entries of PCS_HANDLE_SIZE bytes, as csggetm makes). Every part is
 * checked against its record first: when one would be longer than the
 * record it replaces, nothing is written. All records are rewritten under
 * one rollback journal (see csgrewrt), so a failure or a crash leaves all
 * of them old or all new. The parts stay with the caller.
 * rc 0; 2 key not found or an index record unreadable; 3 a rewrite failed or
 * was refused (20004 is reported), or the stack's entries are not of handle
 * size; the stack service's code when an entry
 * cannot be read, after "\nDebug Failed: csgputip, line 503 return code =N\n"
 * on standard error.
 *  catalog (in) open handle; key (in) K bytes; stack (in) the parts
 *  rc (out) as above */
PCS_API void csgputip(CatalogHandle **catalog, const char *key, const int *stack, int *rc);
/* csggetn, csggetv, csgfree: cspgretn, cspgretv, cspgfre on *part (csgfree
 * does nothing for a null *part and does not clear the caller's variable).
 *  part (in) *part is the record; group, attribute (in) 8-byte names
 *  count, length (out); destination (out) count*length bytes
 *  rc (out) as cspgretn */
PCS_API void csggetn(PartRecord **part, const char *group, const char *attribute, int *count,
                     int *length, int *rc);
PCS_API void csggetv(PartRecord **part, const char *group, const char *attribute,
                     void *destination, int *rc);
PCS_API void csgfree(PartRecord **part);
/* csggetnm: two new parallel stacks of 8-byte names: the group and the
 * attribute name of every attribute of the part, in name order (a group
 * without attributes gives nothing). Both stacks are 0 on failure.
 * rc 0; the stack service's code when a stack cannot be made or a push
 * fails.
 *  part (in) *part is the record; group_stack, attribute_stack (out)
 *  rc (out) as above */
PCS_API void csggetnm(PartRecord **part, int *group_stack, int *attribute_stack, int *rc);
/* csgikey: sort keys of the first `record_count` (by value) records of a
 * catalog file (0-terminated path, not expanded). names: field_count
 * addresses of 16-byte group+attribute names; widths: field widths; keys:
 * record_count key records whose Key buffers hold the sum of the widths + 1
 * bytes. Each key is the fields' values side by side, each blank-padded or
 * cut to its width, then a 0 byte. A deleted record gets RecordOffset -1 and
 * its Key is left as it was. Missing attributes are reported by cspgretn.
 * Returns 0; 1 a record unreadable or its key not built; 2 the file cannot
 * be opened.
 *  catalog_path (in); field_count (in); names (in); widths (in) bytes
 *  record_count (in, by value); ignored (in) not read; keys (in/out) */
PCS_API int csgikey(const char *catalog_path, const int *field_count, char **names,
                    const int *widths, int record_count, void *ignored, KeyRecord *keys);
/* csfdir: the names in a directory (first *name_length characters of
 * `directory`, blanks kept), "." and ".." left out, each an 80-character
 * blank-padded entry of a new stack, in the order the directory gives them.
 * stack (out) 0 on failure.
 * rc 0; 20101 no memory; 20121 cannot open or read to its end; the stack service's code when
 * the stack cannot be made or a push fails (the stack is ended then).
 *  directory (in) name field; name_length (in) characters; rc (out) as above */
PCS_API void csfdir(const char *directory, const int *name_length, int *stack, int *rc);

/* ==== Keyed group files (section kept by the keyed subsystem) ============ */
/*
 * A keyed group file is a sequence of records, each a list of named groups of
 * named attributes, found by a key made of chosen attribute values. Records
 * are only appended; replacing or deleting a record rewrites its status word.
 * The key index is not stored: opening the file reads every live record and
 * builds an in-memory index. File layout: docs/formats.md, "Keyed group file".
 *
 * A key description is k key fields; field i is the attribute named
 * attributes[i] (8 characters) of the group named groups[i] (8 characters),
 * lengths[i] bytes long. The key of a record is the k fields one after the
 * other, K = the sum of the lengths; a field whose group or attribute is
 * missing stays blank. Keys compare over K bytes as unsigned bytes.
 *
 * File names are fields of PCS_KEYED_NAME_LEN (53) characters; trailing
 * blanks are dropped and a leading "$NAME" (up to the first '/' or blank) is
 * replaced by the value of the environment variable NAME.
 *
 * Result codes (small codes of this family):
 *  0 success; 1 no memory; 2 two live records share a key (open);
 *  3 a key attribute's size (nAttrs * nAttrLength) differs from its field
 *  length, or a negative key count or length; 4 the file cannot be opened,
 *  no record has the key, a write to the file fell short, or the stream
 *  could not be closed; 5 a damaged record or file, an empty group list, a
 *  null handle, or a table handle given to a keyed-file operation; 6 the
 *  handle is already in use (open), or a position at or past the end of the
 *  file (read); 7 the record at the position is deleted or replaced.
 *
 * Damage never makes an operation crash, hang or allocate beyond the size
 * of the file. A record whose length runs past the end of the file, or
 * whose last byte is not a newline, makes the open fail with 5; a failed
 * open writes nothing. Every status word other than 0 marks a record that
 * is not live: the open steps over it. Records are appended at the end of
 * the file.
 *
 * A handle is used by one thread at a time: a lookup may update the
 * handle's index (an ordered copy of its keys, made once the index has
 * been searched far more often than it has changed).
 */

#define PCS_KEYED_NAME_LEN 53 /* file name field of keyed files and tables */

/* The tree index of an open file or table (internal). */
typedef struct Heap Heap;

/* An attribute of a record in memory: nAttrs values of nAttrLength bytes. */
typedef struct KeyedAttribute {
  char AttrName[PCS_NAME_LEN]; /* name field */
  int nAttrs;                  /* number of values */
  int nAttrLength;             /* bytes per value */
  unsigned char *AttrValue; /* nAttrs * nAttrLength bytes, owned */
  struct KeyedAttribute *NextAttr; /* the next attribute, or null */
} KeyedAttribute;

/* A group of a record in memory; a record is a list of groups. Lists, their
 * attributes and value buffers come from the host memory service and are
 * released with cspfre. */
typedef struct KeyedGroup {
  char GroupName[PCS_NAME_LEN]; /* name field */
  int AttrCount; /* length of the attribute list */
  KeyedAttribute *FirstAttr;    /* the attribute list, or null */
  struct KeyedGroup *NextGroup; /* the next group, or null */
} KeyedGroup;

/* An open keyed group file or table, from cspopn or cgtopn to cspcls. */
typedef struct KeyedFile {
  char FileName[PCS_KEYED_NAME_LEN + 1]; /* resolved path, 0-terminated */
  FILE *Stream;     /* the open file */
  int KeyCount;     /* k */
  int *KeyLengths;  /* k lengths */
  char *KeyGroups;  /* k group names of 8 characters */
  char *KeyAttrs;   /* k attribute names of 8 characters */
  Heap *Index;      /* the key index */
  int64_t AppendAt; /* end of the records written so far */
} KeyedFile;

/* cspopn: opens a keyed group file and indexes its live records.
 *  name    (in) file name field, 53 characters
 *  count   (in) number of key fields k (0 or more)
 *  groups, attributes (in) k names of 8 characters each
 *  lengths (in) k key field lengths
 *  file    (in/out) must be null; the open handle
 *  mode    (in) 0 create the file empty (truncating it), 1 open it for
 *          update and create it when absent; other modes give 4
 *  rc      (out) 0; 1 no memory; 2 two live records share a key; 3 a key
 *          attribute of the wrong size; 4 the file cannot be opened or
 *          created (or its name uses an unset variable, or expands to
 *          more than 53 characters: never cut short); 5 a damaged record
 *          (also a status word that is not 0, -1 or the offset of a later
 *          record with the same key); 6 *file is not null (prints " file
 *          is opened \n").
 *  When the last record repeats the key of a live record and differs from
 *  it (a replacing cspput cut short by a crash; plain appends of one record
 *  twice still give 2), the replacement is finished: the old
 *  record's status word is pointed to the last record, and standard error
 *  says so.
 *  On failure *file stays as it was and nothing is kept open.
 *  A file of 4 MiB or more may have its second half read on a second
 *  thread while the call runs; that thread calls no host service, and
 *  what the call gives and says is what one thread would. */
PCS_API void cspopn(const char *name, const int *count, const char *groups,
                    const char *attributes, const int *lengths, KeyedFile **file,
                    const int *mode, int *rc);

/* cspcls: closes a keyed file or table and releases the handle, also when
 * closing the stream fails; *file becomes null.
 *  rc (out) 0; 4 the stream could not be closed (prints
 *  "In cspcls():  file close error \n"); 5 null handle (prints
 *  "In cspcls(): file is closed\n").
 *  file (in/out) the handle; null afterwards */
PCS_API void cspcls(KeyedFile **file, int *rc);

/* cspput: appends the record and indexes it under its key; an older record
 * with the same key is marked replaced by the new one.
 *  file (in) open handle; list (in) the record's groups
 *  rc (out) 0; 1 no memory (nothing written); 3 a key attribute of the
 *  wrong size (nothing written); 4 a write fell short (the record is not
 *  indexed); 5 empty list, null or table handle, negative counts or lengths
 *  in the list, or a file that would pass 2 GiB. */
PCS_API void cspput(KeyedFile **file, KeyedGroup **list, int *rc);

/* cspputs: appends the record without indexing it. Codes of cspput but 3.
 *  file (in) open keyed file; list (in) the record; rc (out) as cspput */
PCS_API void cspputs(KeyedFile **file, KeyedGroup **list, int *rc);

/* cspget: reads the record of a key.
 *  key (in) K bytes; file (in); list (out) the groups, each list in reverse
 *  of its order in the file; null on failure
 *  rc (out) 0; 1 no memory (prints " out of memory\n"); 4 no record has the
 *  key; 5 the record is damaged, or a null or table handle. */
PCS_API void cspget(const char *key, KeyedFile **file, KeyedGroup **list, int *rc);

/* cspget1: tests for a key. rc (out) 0 stored; 4 not stored; 1 no memory;
 * 5 a null or table handle.
 *  key (in) K bytes; file (in) open keyed file */
PCS_API void cspget1(const char *key, KeyedFile **file, int *rc);

/* cspdel: deletes the record of a key (marks it deleted in the file).
 *  rc (out) 0; 1 no memory; 4 no record has the key, or the status write
 *  fell short (nothing changes); 5 a null or table handle.
 *  key (in) K bytes; file (in) open keyed file */
PCS_API void cspdel(const char *key, KeyedFile **file, int *rc);

/* cspgtr: reads the record at a file position.
 *  stream (in) an open keyed file's stream; position (in) byte position
 *  length (out) the record length, set once read (also for codes 5 and 7,
 *  so a caller can step over a dead record)
 *  list (out) the groups, each list reversed; null unless rc is 0
 *  rc (out) 0; 1 no memory; 5 damaged (length below 17 or past the end of
 *  the file, missing newline, offsets or counts outside the record);
 *  6 the position is negative or at or past the end of the file, or a null
 *  stream; 7 any status other than 0 (deleted, replaced or unfinished). */
PCS_API void cspgtr(FILE **stream, const int *position, int *length, KeyedGroup **list,
                    int *rc);

/* cspfre: releases a group list and sets *list to null; null is accepted.
 *  list (in/out) null afterwards */
PCS_API void cspfre(KeyedGroup **list);

/* cspcre: sets an empty group list. rc (out) 0. */
PCS_API void cspcre(KeyedGroup **list, int *rc);

/* cgtopn: opens a keyed group file read-only as a table: one index element
 * per distinct key, holding the positions of every live record with that
 * key in file order. Close it with cspcls.
 *  name (in) 53 characters; groups, attributes (in) k names each;
 *  count (in) k; lengths (in) k key field lengths; file (in/out) must be
 *  null; the open table
 *  rc (out) 0; 1 no memory; 3 a key attribute of the wrong size (prints
 *  " key length is wrong \n"), or a negative count or length; 4 the file
 *  cannot be opened; 5 a damaged record; 6 *file is not null. On failure
 *  *file is null (or unchanged for 6). */
PCS_API void cgtopn(const char *name, const char *groups, const char *attributes,
                    const int *count, const int *lengths, KeyedFile **file, int *rc);

/* Group and attribute access on a group list between a read and a write.
 * Names are 8-character fields. Where a group name is taken for lookup, 8
 * blanks select every group; groups are visited in list order and, in each
 * selected group, attributes in list order. New groups and attributes go to
 * the head of their lists. Negative counts or lengths, or values too large
 * to hold, give code 1. */

/* cspadd: adds an attribute of count values of length bytes (values holds
 * count*length bytes) to the first group of this name, or to a new group at
 * the head of the list.
 *  rc (out) 0; 1 no memory; 2 the group already has the attribute.
 *  group, attribute (in) 8-byte names; count, length (in) values and
 *  bytes per value; values (in) count*length bytes; list (in/out) */
PCS_API void cspadd(const char *group, const char *attribute, const int *count,
                    const int *length, const void *values, KeyedGroup **list, int *rc);

/* cspadv: as cspadd, but an existing attribute gets the values appended.
 *  rc (out) 0; 1 no memory (the attribute keeps its values); 2 the existing
 *  attribute has another value length (nothing changes).
 *  group, attribute (in) 8-byte names; count, length (in) values and
 *  bytes per value; values (in) count*length bytes; list (in/out) */
PCS_API void cspadv(const char *group, const char *attribute, const int *count,
                    const int *length, const void *values, KeyedGroup **list, int *rc);

/* cspgta: the attribute count and names (8 bytes each, list order; names
 * must hold 8 * count bytes) of the first group of this exact name.
 *  rc (out) 0; an empty list or a missing group leaves count, names and rc
 *  unchanged.
 *  group (in) 8-byte name; list (in) *list is the list; count (out)
 *  names (out) 8 * count bytes */
PCS_API void cspgta(const char *group, KeyedGroup **list, int *count, char *names, int *rc);

/* cspgtg: the number of groups and their names (8 bytes each, list order).
 *  rc (out) 1 for an empty list (count 0); otherwise left unchanged.
 *  list (in) *list is the list; count (out) groups; names (out) 8 bytes
 *  per group */
PCS_API void cspgtg(KeyedGroup **list, int *count, char *names, int *rc);

/* cspgtgn: the number of groups. rc (out) 1 for an empty list (count 0);
 * otherwise left unchanged.
 *  list (in) *list is the list; count (out) groups */
PCS_API void cspgtgn(KeyedGroup **list, int *count, int *rc);

/* cspgtv: copies all nAttrs * nAttrLength value bytes of the first matching
 * attribute. rc (out) 0; 1 no match.
 *  group, attribute (in) 8-byte names; list (in) *list is the list
 *  values (out) nAttrs * nAttrLength bytes */
PCS_API void cspgtv(const char *group, const char *attribute, KeyedGroup **list, void *values,
                    int *rc);

/* cspgtvn: copies value n (nAttrLength bytes) of a matching attribute,
 * counting from 1 only values that are not all blanks; n = 0 takes a blank
 * value standing before every non-blank one. rc (out) 0; 1 no such value.
 *  group, attribute (in) 8-byte names; list (in) *list is the list
 *  n (in) value number; value (out) nAttrLength bytes */
PCS_API void cspgtvn(const char *group, const char *attribute, KeyedGroup **list, const int *n,
                     void *value, int *rc);

/* cspgtn: nAttrs of the first matching attribute; with an attribute name of
 * 8 blanks, the sum of nAttrs over every attribute of every selected group.
 * rc (out) 0; 1 nothing matched (count 0).
 *  group, attribute (in) 8-byte names; list (in) *list is the list
 *  count (out) values */
PCS_API void cspgtn(const char *group, const char *attribute, KeyedGroup **list, int *count,
                    int *rc);

/* cspgtl: nAttrs * nAttrLength of the first matching attribute.
 * rc (out) 0; 1 no match.
 *  group, attribute (in) 8-byte names; list (in) *list is the list
 *  length (out) bytes */
PCS_API void cspgtl(const char *group, const char *attribute, KeyedGroup **list, int *length,
                    int *rc);

/* cspsvdl: in the first matching attribute, blanks the first value equal to
 * `value` (nAttrLength bytes). `ignored` is not read.
 * rc (out) 0; 1 the attribute or the value is not found.
 *  group, attribute (in) 8-byte names; list (in/out) *list is the list
 *  ignored (in) not read; value (in) nAttrLength bytes */
PCS_API void cspsvdl(const char *group, const char *attribute, KeyedGroup **list,
                     const int *ignored, const void *value, int *rc);

/* cspdla: deletes the attribute from the first group of this exact name
 * that holds it; a group left without attributes is deleted too.
 * rc (out) 0; 1 not found or empty list.
 *  group, attribute (in) 8-byte names; list (in/out) *list is the list */
PCS_API void cspdla(const char *group, const char *attribute, KeyedGroup **list, int *rc);

/* cspdlg: deletes the first group of this exact name with its attributes.
 * rc (out) 0; 1 not found or empty list.
 *  group (in) 8-byte name; list (in/out) *list is the list */
PCS_API void cspdlg(const char *group, KeyedGroup **list, int *rc);

/* cspcms: compares `count` (by value) bytes as unsigned values. Returns the
 * second operand's byte minus the first's at the first difference; 0 when
 * equal or when count is below 1.
 *  first, second (in) count bytes each; count (in, by value) bytes */
PCS_API int cspcms(const void *first, const void *second, int count);

/* ==== Maintenance (section kept by the maintenance subsystem) ============
 * Record counters and key readers of catalog and text files, the index
 * builder, the maintenance dispatcher, catalog compression, the duplicate
 * merge and the table text tool. Paths are 0-terminated unless stated. */

/* A record-count function of the index builder: the number of records of
 * the source file, 0 for an empty file, -1 when it cannot be opened (or, for
 * a catalog, when a record length is damaged). */
typedef int (*RecordCountFn)(const char *source_path);

/* A key reader of the index builder: fills records[0 .. *filled - 1] (offset
 * and key; keys are key_length bytes and a 0) from the first record_count
 * source records. `description` is passed through from csbndx unchanged.
 * Returns 0, anything else on failure. */
typedef int (*KeyReaderFn)(const char *source_path, const int *field_count, void *description,
                           const int *widths, int record_count, int key_length,
                           KeyRecord *records, int *filled);

/* csgrn: number of records of a catalog file, deleted ones included.
 * Returns 0 for an empty file; -1 when it cannot be opened, or when a
 * record length is below 16 or reaches past the end of the file.
 *  catalog_path (in) 0-terminated path */
PCS_API int csgrn(const char *catalog_path);

/* csgrc: number of lines of a text file (a last line without a newline
 * counts); 0 for an empty file, -1 when it cannot be opened.
 *  text_path (in) 0-terminated path */
PCS_API int csgrc(const char *text_path);

/* csgia: key reader over a catalog file (a KeyReaderFn).
 *  field_count  (in)  not read
 *  description  (in)  host array (pparynew) of 16-byte entries: group name
 *                     then attribute name of each key field
 *  widths       (in)  width of each key field; key_length is their sum
 *  record_count (in, by value) records to walk; key_length (in, by value)
 *  records      (in/out) key buffers of key_length + 1 bytes, from the
 *                     caller; each live record fills the next one: its
 *                     offset, and its key made of the first bytes of each
 *                     field's values, blank-padded (a missing attribute
 *                     leaves its field blank; the lookup is reported)
 *  filled       (out) number of records filled (deleted records are skipped)
 * Returns 0; 1 the file cannot be opened; 2 a record could not be read (no
 * memory, or a damaged or truncated record).
 * A file of 4 MiB or more may have its second half read on a second thread
 * while the call runs; that thread calls no host service, and what the call
 * fills and reports is what one thread would.
 *  catalog_path (in) 0-terminated path */
PCS_API int csgia(const char *catalog_path, const int *field_count, void *description,
                  const int *widths, int record_count, int key_length, KeyRecord *records,
                  int *filled);

/* csrikr: key reader over a fixed-column text file, one record per line (a
 * KeyReaderFn). description: int array of 1-based column positions; each
 * field copies width bytes from its column as strncpy does (0 bytes past
 * the end of the line). The record offset is the line's byte offset.
 * Returns 0; 1 the file cannot be opened or an offset does not fit 32 bits.
 *  source_path (in) 0-terminated path; field_count (in)
 *  description (in) column positions; widths (in) bytes per field
 *  record_count, key_length (in, by value); records (in/out) as csgia
 *  filled (out) */
PCS_API int csrikr(const char *source_path, const int *field_count, void *description,
                   const int *widths, int record_count, int key_length, KeyRecord *records,
                   int *filled);

/* csbndx: builds a sorted index file (see "Catalog index files") of a source
 * file. Records with equal keys stand together, each with the run's count
 * and the index offset of the run's first record.
 *  count_fn, reader   (in, by value) record counter and key reader
 *  field_count (in) number of key fields; description (in) for the reader
 *  widths (in) field widths; source_path, index_path (in)
 *  rc (out) 0 index written; 1 the counter gave less than 1 (missing,
 *     unreadable or empty source); 2 the key length is 0 (no fields, all
 *     widths 0), or a width is negative; 3 no memory; 4 the key reader
 *     failed; 5 the index file cannot be created, or the index path names
 *     the source file; 6 a write to the index file failed; 7 the key is
 *     longer than 499 characters (the search cannot take it); 8 the key is
 *     longer than 9999 characters (the header cannot hold it); 9 a run of
 *     more than 9999 equal keys (its count field cannot hold it).
 * The index is written to a temporary file in the index's directory and
 * renamed over the old index only when complete: on any failure, or after
 * a crash, the old index file is still there, unchanged. */
PCS_API void csbndx(RecordCountFn count_fn, KeyReaderFn reader, const int *field_count,
                    void *description, const int *widths, const char *source_path,
                    const char *index_path, int *rc);

/* csgbldx: indexes a part catalog by (group, attribute) key fields.
 *  field_count (in) number of key fields
 *  groups, attributes (in) field_count consecutive 8-character names each
 *  widths (in) field widths
 *  catalog_path, index_path (in) character fields ending at their first
 *     blank; a catalog path of more than 255 characters gives 1, an
 *     index path of more than 255 characters gives 5 (never cut short)
 *  rc (out) the codes of csbndx; 20101 no memory for the key description. */
PCS_API void csgbldx(const int *field_count, const char *groups, const char *attributes,
                     const int *widths, const char *catalog_path, const char *index_path,
                     int *rc);

/* cscprt2: rebuilds the index files of the project's catalogs of one kind
 * (0 parts: three indexes; 1 classes; 2 symbols; any other kind: nothing),
 * then makes each index readable and writable by everybody (chmod 666).
 *  kind (in); rc (out) 0; 20101 no memory; 20121 the project setup holds no
 *  catalog entry, or the catalog has fewer names than the kind needs; 20122
 *  a catalog path longer than 79 characters; the code of a failing host
 *  service; the codes 1 to 6 of csbndx.
 * Returns 0. */
PCS_API int cscprt2(const int *kind, int *rc);

/* csopts: lays out the index processes of a catalog kind in five new host
 * stacks, so that popping them gives the processes in run order.
 *  kind (in)
 *  sources, indexes (out) stacks of 80-byte paths (0-terminated)
 *  key_specs (out) stack of 80-byte strings: group, attribute, length per
 *     field, the first field's group on top
 *  key_counts (out) stack of 4-byte ints: strings per process
 *  processes (out) stack of 80-byte process names ("create_KELVA_index")
 *  rc (out) 0, or the codes of csnames and of the host stack services; on
 *     failure no stack is left (the outputs are 0). */
PCS_API void csopts(const int *kind, int *sources, int *indexes, int *key_specs,
                    int *key_counts, int *processes, int *rc);

/* csnames: the paths of the current catalog's files.
 *  catalog_id (in/out) 0 to ask the host for the current catalog
 *  names (out) new stack of 80-byte entries: catalog directory (blanks
 *     inside it turned into "/"), "/", the 8-character name; pushed from the
 *     last name to the first, so entry k is the k-th name from the end
 *  rc (out) 0; 20121 the setup has no catalog entry; 20122 a path longer
 *     than 79 characters; the code of a failing host service. On failure
 *     no stack is left (*names is 0). */
PCS_API void csnames(int *catalog_id, int *names, int *rc);

/* cscprs: compresses a catalog file (or a keyed group file): copies every
 * record whose flag word is 0, in file order, to "<path>.bak", puts that
 * file on disk and renames it over the catalog. Prints "%d  %s  %s\n"
 * (length of the path, the path, the new file's name) first.
 *  rc (out) 0; 1 no memory for a record; 2 the catalog cannot be opened for
 *  update ("open catlog file error"), the new file cannot be created
 *  ("create temp catlog file error"), a read or write of the copy failed, a
 *  record length is damaged, or the rename failed. On every failure the
 *  catalog is left as it was and the new file is removed.
 *  path (in) 0-terminated path */
PCS_API void cscprs(const char *path, int *rc);

/* csai2a: *value as decimal text right-aligned in a field of *width
 * characters (blank-filled, a "-" left of the digits of a negative value).
 *  rc (out) 0; 1 the value does not fit (the field holds the lowest digits
 *  that fit), or *width is below 1 (nothing is written).
 *  value (in); width (in) characters; field (out) *width characters */
PCS_API void csai2a(const int *value, const int *width, char *field, int *rc);

/* csprtdup: merges the records of a catalog that share a key (the value of
 * one group/attribute, first key_length bytes): keeps the oldest (mode 0)
 * or the newest (mode 1) record of each key and marks the others deleted.
 * For each removal it writes to the host output unit (gufswr) the 81-byte
 * lines "   Duplicate part number was found in the catalog." and
 * "   *** WARNING Catalog keeping old part ..." (mode 0) or
 * "   Catalog has been updated with new part ...", then, after the record
 * is deleted, "   Part Number = <key>" (80 bytes). A removed part that is
 * not a pipe (PARTDEF/CATEGORY not starting with "PIPE" and 12 blanks) also
 * loses its host model object (glrfam, gldobj with its ELCATLOG/ELTIME).
 *  mode (in, by value) 0 or 1; any other mode does nothing
 *  catalog_path (in); unit (in) the host output unit
 *  group, attribute (in) 8-character names of the key attribute
 *  key_length (in, by value) 1 to 63; any other length does nothing
 * No result code: the merge stops at the first failure (no memory, an
 * unreadable catalog or record, a failing model service), keeping the pairs
 * handled before it. The index file is not changed. */
PCS_API void csprtdup(int mode, const char *catalog_path, const int *unit, const char *group,
                      const char *attribute, int key_length);

/* cstabl: splits a positional text dump of tables into one text file per
 * table in a directory: each table line's columns 19 to 68, apostrophes
 * removed, blank-padded to 50 characters. Prints its progress to standard
 * output (" open file %s\n" per table).
 *  input (in) character field, ends at a blank or 0, at most 45 characters
 *  directory (in) character field, at most 40 characters
 *  rc (out) 0; 1 the input or a table file cannot be opened, the input
 *  name is longer than 45 characters, the directory longer than 40, a table
 *  path (directory, "/" and name) longer than 44 (paths are never cut
 *  short), a table name is empty or holds "/" or is "." or "..", or a
 *  write failed; 2 the input has no header line. The table files replace
 *  the old ones together, and only when every one was written whole (a
 *  symlink at a table's path is replaced, never written through). */
PCS_API void cstabl(const char *input, const char *directory, int *rc);

/* ==== Diagnostics ==========================================================
 * Every reader that refuses the bytes of a file (a length, offset, count or
 * closing byte it cannot accept) notes where, per thread. Exported beside
 * the entry points, not one of them: the module header does not list it. */

/* csdamage: the last refusal of this thread, then forgets it.
 *  offset (out) byte offset in the file of the refused bytes; untouched
 *         when there was none; may be null
 *  Returns "folder/file.cpp:line" of the check that refused (valid until
 *  the next call on the thread), or null when nothing was refused since the
 *  last call. */
PCS_DIAG_API const char *csdamage(long long *offset);

/* Results of cskeytgt. */
#define PCS_KEY_TARGET_CARRIES 0      /* a live record carrying the key */
#define PCS_KEY_TARGET_DELETED 1      /* a whole record marked deleted */
#define PCS_KEY_TARGET_NOT_A_RECORD 2 /* no whole record starts there */
#define PCS_KEY_TARGET_OTHER_KEY 3    /* a live record without the key */

/* cskeytgt: what an index record's catalog offset holds, by the rule that
 * csgdnrc and csgdelrc apply before they write: a whole record the record
 * readers accept (catalog or generic part layout, newline last) that
 * carries the key, i.e. whose key begins, at its first non-blank
 * character, with the values of one of the record's attributes (cut to the
 * key's length, trailing blanks dropped; a one-character value only as the
 * whole key). A blank key is carried by every record.
 *  catalog (in) catalog stream; offset (in) byte offset of the record
 *  key (in) key_length bytes, as the index holds it
 *  Returns one of PCS_KEY_TARGET_*. */
PCS_DIAG_API int cskeytgt(FILE *catalog, long long offset, const char *key, int key_length);

/* ==== Bulk record bytes ===================================================
 * For programs that move many records at once (the command line's catalog
 * import and export): a record laid into memory and a record's bytes walked
 * in memory, so the caller reads and writes files in large blocks. Exported
 * like the diagnostics, not listed in the module header. */

/* cspgenc: lays the catalog record of `record` into `out` as cspgwrt would
 * append it at byte `at` of a catalog, marked deleted when `deleted` is
 * non-zero.
 *  room (in) bytes of `out`: nothing is laid when the record needs more
 *  rc (out) 0; 20004 the record would not end below 2^31 (nothing laid)
 *  Returns the record's length: 0 for a record without groups (nothing
 *  laid, rc 0). */
PCS_DIAG_API long long cspgenc(PartRecord *record, int deleted, long long at, unsigned char *out,
                               long long room, int *rc);

/* One attribute of a record walked by cspgvisit: the group and attribute
 * name fields (8 bytes each, blank padded), the value count and length and
 * the count * length value bytes, all inside the walked record. Returns 0
 * to go on, anything else to stop the walk with it. */
typedef int (*PcsAttributeVisit)(void *context, const char *group, const char *attribute,
                                 int count, int length, const unsigned char *values);

/* cspgvisit: walks the `length` bytes of a catalog record as read from its
 * file (any flag word) and calls visit for each attribute in directory
 * order. Every offset, count and length is checked as cspgetrc checks them
 * before anything behind it is read; an attribute repeated inside the
 * record is left for the caller to find.
 * Returns 0; 1 a damaged record (nothing more visited); or the first
 * non-zero result of visit. */
PCS_DIAG_API int cspgvisit(const unsigned char *record, long long length, PcsAttributeVisit visit,
                           void *context);

/* ==== Module header ======================================================
 * The host's module loader finds the library through `vomhead`, a header in
 * the library's writable data that lists every entry point of this header
 * (upper-case names, sorted, with their addresses), the module properties
 * and one import record per host service; docs/formats.md gives its layout.
 * The host services are bound lazily through the import records: a host
 * loader may store its binder routine in the header's binder cell; without
 * one, each service is found by name through the dynamic linker on its
 * first call. */

/* The layout of the module header, given by offsets, not by a C type. */
struct PcsModuleHeader;
/* The module header, at the start of the library's writable data. */
PCS_API extern struct PcsModuleHeader vomhead;

#define PCS_MODULE_STAMP 12     /* offset of the build stamp in vomhead */
#define PCS_MODULE_STAMP_LEN 16 /* "major.minor.patch.tweak", zero-padded */

/* ==== Query parts (section kept by the query subsystem) ===================
 * A query part is a chain of attribute groups, each a chain of typed
 * attributes, each holding valueCount values of valueLength bytes and,
 * optionally, one generic flag per value. The query fill builds them with
 * types and flags; parts read from a generic part file carry neither. All
 * storage comes from the host memory service; cggfre releases a part.
 * Names, types, values, lengths, counts, flags, the tolerance and rc are
 * passed by reference; parts, groups and attributes as the pointer itself.
 * Allocating operations set rc to 20101 on failure and never clear it: the
 * caller sets it to 0 first. */

/* A typed attribute of a query part: valueCount values of valueLength bytes. */
typedef struct CgAttribute {
  char name[PCS_NAME_LEN];  /* name field */
  char type[PCS_NAME_LEN];  /* "C8      ", "I4      ", "R8      ": C characters,
                               I 32-bit int, R double; only the letter counts */
  int32_t valueCount;       /* number of values */
  int32_t valueLength;      /* bytes per value */
  int32_t *genericFlags;    /* valueCount flags or null; above 0: generic */
  unsigned char *values;    /* valueCount * valueLength bytes; null while empty */
  struct CgAttribute *next; /* the next attribute of the group, or null */
} CgAttribute;

/* A group of a query part: a chain of attributes in the order added. */
typedef struct CgGroup {
  char name[PCS_NAME_LEN];  /* name field */
  int32_t attributeCount;   /* number of attributes in the chain */
  int32_t matchFlag;        /* 1 at creation; 0 leaves the group out of cgpreql */
  CgAttribute *attributes;  /* the first attribute, or null */
  struct CgGroup *next;     /* the next group of the part, or null */
} CgGroup;

/* A part: its first group, or null for the empty part. */
typedef CgGroup *CgPart;

/* cgagcre: a new group (no attributes, matchFlag 1).
 *  name (in) 8 characters; rc (out) 20101 no memory (null returned). */
PCS_API CgGroup *cgagcre(const char *name, int *rc);
/* cgacre: a new attribute without values or flags.
 *  name, type (in) 8 characters each; length (in) bytes per value
 *  rc (out) 20101 no memory (null returned). */
PCS_API CgAttribute *cgacre(const char *name, const char *type, const int *length, int *rc);
/* cgagadd: creates a group and links it after the last group of `head`
 * (not null). Returns it; null with rc 20101.
 *  name (in) 8 characters; head (in/out) the part's first group
 *  rc (out) 20101 no memory */
PCS_API CgGroup *cgagadd(const char *name, CgGroup *head, int *rc);
/* cgaadd: creates an attribute and links it after the last attribute of
 * `head` (not null). Returns it; null with rc 20101. The group's
 * attributeCount is the caller's to keep.
 *  name, type (in) 8 characters each; length (in) bytes per value
 *  head (in/out) the group's first attribute; rc (out) 20101 no memory */
PCS_API CgAttribute *cgaadd(const char *name, const char *type, const int *length,
                            CgAttribute *head, int *rc);
/* cgagfnd, cgafnd: the first group / attribute of the chain with this name
 * (8 bytes), or null (also for a null head).
 *  name (in) 8 characters; head (in) first of the chain */
PCS_API CgGroup *cgagfnd(const char *name, CgGroup *head);
PCS_API CgAttribute *cgafnd(const char *name, CgAttribute *head);
/* cgvadd: appends one value (valueLength bytes) to the attribute; the
 * generic flags are not touched. rc (out) 20101 no memory (the attribute is
 * unchanged).
 *  value (in) valueLength bytes; attribute (in/out) */
PCS_API void cgvadd(const void *value, CgAttribute *attribute, int *rc);
/* cgaradd: a new array of *count elements of *size bytes: the first
 * *count - 1 copied from `old` (then freed), the last one `element`.
 * Null when memory fails; `old` is then left alone.
 *  old (in) array of *count - 1 elements, or null; count (in) elements
 *  element (in) *size bytes; size (in) bytes per element */
PCS_API void *cgaradd(void *old, const int *count, const void *element, const int *size);
/* cgpradd: adds one value under the group and attribute names, creating
 * the group (at the end of the part) and the attribute (at the end of the
 * group) when absent; an existing attribute keeps its type and length.
 * Nothing is done once rc is not 0, so a non-zero rc on entry leaves the
 * part unchanged.
 *  value (in) *length bytes; type (in) 8 characters; length (in)
 *  attribute, group (in) names; part (in) null for a new part
 *  rc (in/out) 20101 no memory (what was built so far is returned)
 * Returns the part (the new one when `part` was null). */
PCS_API CgGroup *cgpradd(const void *value, const char *type, const int *length,
                         const char *attribute, const char *group, CgGroup *part, int *rc);
/* cgafng: 1 when the attribute holds a value whose generic flag is 0 and
 * that is not empty (C: first byte not blank; I: not 0; R: not 0.0). An
 * attribute without flags counts every value as non-generic.
 *  attribute (in) */
PCS_API int cgafng(const CgAttribute *attribute);
/* cgagfng: 1 when some attribute of the group satisfies cgafng. `unused`
 * is not read.
 *  group (in); unused (in) not read */
PCS_API int cgagfng(const CgGroup *group, const void *unused);
/* cgaeql: 1 when catalog attribute b satisfies query attribute a, else 0.
 * Each value is absent, empty or present (by a's type letter, which is also
 * written into b's type) and the generic flag of a's value decides:
 * an empty or absent query value accepts anything unless generic (then the
 * catalog value must be empty or absent); a present query value needs an
 * equal catalog value, or, when generic, an equal, empty or absent one.
 * Equal: C over the shorter length, I exactly, R within *tolerance.
 *  ordered (in) non-zero: value k against value k; 0: each value of a
 *  takes the first unused equal value of b
 *  rc (out) 20101 no memory (unordered mode; the result is then 0).
 *  a (in) query attribute; b (in/out) catalog attribute (type written)
 *  tolerance (in) largest difference of equal reals */
PCS_API int cgaeql(const CgAttribute *a, CgAttribute *b, const int *ordered,
                   const double *tolerance, int *rc);
/* cgageql: 1 when every attribute of group a is satisfied (ordered, tolerance
 * 1.0) by the attribute of the same name in b (which may be null).
 *  a (in) query group; b (in) catalog group or null
 *  rc (out) as cgaeql */
PCS_API int cgageql(const CgGroup *a, const CgGroup *b, int *rc);
/* cgpreql: 1 when every group of part a whose matchFlag is not 0 is
 * satisfied by the group of the same name in part b. A null a gives 1.
 *  a (in) query part; b (in) catalog part; rc (out) as cgaeql */
PCS_API int cgpreql(const CgGroup *a, const CgGroup *b, int *rc);
/* cgkeycre: the part key: for each (groups[i], attributes[i]) pair, all
 * values of that attribute, or 8 blanks when the group or attribute is
 * missing or empty; then a 0 byte. A count below 1 gives just the 0 byte.
 *  key (out) room for the values of every pair and the 0 byte
 * Returns 0; rc is not changed.
 *  groups, attributes (in) *count pointers to 8-character names
 *  count (in) pairs; part (in); rc (in) not changed */
PCS_API int cgkeycre(const char *const *groups, const char *const *attributes, const int *count,
                     const CgGroup *part, char *key, int *rc);

/* Generic part files hold query parts one record after the other in the
 * keyed group file layout (length, status 0, directory offset; per group
 * its attribute blocks then its header; the directory; a newline). Types,
 * generic flags and match flags are not stored. Reading puts every group
 * and attribute at the head of its chain, so both come back reversed. */

/* cggget: reads the record at *position into a new part.
 *  stream (in) the open file; position (in) a record start
 *  length (out) the record length, set whenever it could be read (also for
 *  20113, so a caller can step over the record)
 *  part (out) the part; null on failure
 *  rc (out) 0; 20108 position at or past the end of the file; 20105 a
 *  length shorter than a record or past the end of the file, no closing
 *  newline, or offsets and counts that leave the record; 20113 status not 0;
 *  20101 no memory (prints "   gimaloc error\n"). */
PCS_API void cggget(FILE **stream, const int *position, int *length, CgGroup **part, int *rc);
/* cggput: appends the part as a live record at the end of the file and
 * flushes it.
 *  stream (in, by value); part (in)
 *  rc (out) 0; 20105 no part, or a count, length or size that cannot be
 *  stored; 20101 no memory; 20004 a write or the flush failed. On failure
 *  the file is cut back to its old end. */
PCS_API void cggput(FILE *stream, CgGroup **part, int *rc);
/* cggtagrp: fills a group from the group header at *offset of a record
 * buffer of *length bytes: name, attribute count, and a copy of each
 * attribute put at the head of the group's chain. Every offset, count and
 * length is checked against *length first.
 *  group (in/out) a group to fill, normally zero-filled
 *  rc (out) 0; 20105 the header or an attribute leaves the buffer; 20101 no
 *  memory (prints "  gimaloc error\n"); the group keeps what was built.
 *  record (in) *length bytes; length (in) bytes; offset (in) byte offset
 *  of the group header */
PCS_API void cggtagrp(const void *record, const int *length, const int *offset, CgGroup *group,
                      int *rc);
/* cgptagrp: writes one group block at the stream's position: its
 * attributes (at most attributeCount) as name, value count, value length
 * and values, then the group header (name, count, attribute offsets).
 *  offset (in/out) the record offset of the block; advanced past it
 *  header (out) the record offset of the group header
 *  rc (out) 0; 20105 counts that cannot be stored; 20101 no memory; 20004
 *  the write fell short.
 *  stream (in) open for writing; group (in) */
PCS_API void cgptagrp(FILE *stream, CgGroup *group, int *offset, int *header, int *rc);
/* cggprnt: prints up to `limit` (by value) groups of the part to standard
 * error, each after the title line: name, attribute count, match flag and
 * every attribute with its type, counts, values and generic flags.
 *  part (in); title (in) 0-terminated text; limit (in, by value) groups */
PCS_API void cggprnt(const CgGroup *part, const char *title, int limit);
/* cgfold: sorts the parts of a generic part file against a reference
 * catalog by PARTNUM/PARTNO: parts the reference index does not list are
 * appended to the new-parts file; for a listed one, the source part and then
 * the reference file's record of the key's first index entry are appended
 * to the duplicates file. Without a duplicates path (null or empty) listed
 * parts are left out. Output files are created when absent. Paths are
 * 0-terminated.
 *  rc (out) 0; 20104 a file cannot be opened; the codes of cggget for a
 *  source or reference record; those of cggput; 20105 an index entry that
 *  cannot be read.
 *  source, reference (in) generic part file paths; index (in) the
 *  reference's index path; fresh (in) new-parts path; duplicates (in)
 *  duplicates path, or null */
PCS_API void cgfold(const char *source, const char *reference, const char *index,
                    const char *fresh, const char *duplicates, int *rc);
/* cggfre: releases a part: its groups from the last to the first, each
 * with its attributes (last to first), their values and generic flags.
 * Null is accepted.
 *  part (in) released */
PCS_API void cggfre(CgGroup *part);

/* Comparison of stack elements and keys: over *length bytes of a and b. */
typedef int (*CgCompare)(const void *a, const void *b, const int *length);

/* cgcmpsrt: compares *length bytes; a blank in either string matches any
 * byte. -1 when a's byte is smaller (unsigned) at the first position where
 * both are non-blank and differ, 1 when greater, else 0 (also for a length
 * below 1).
 *  a, b (in) *length bytes each; length (in) bytes */
PCS_API int cgcmpsrt(const void *a, const void *b, const int *length);
/* cgsort: sorts a host stack in place so that position 1 holds the greatest
 * element: a three-way quicksort whose pivot is the element at position
 * count / 2; greater, equal and less elements are gathered by popping the
 * stack and put back in that order. compare receives the entry size.
 *  stack (in) the stack handle; compare (in, by value)
 *  rc (out) 0; 20101 no memory; a stack service's code (the stack's
 *  elements may then be lost). */
PCS_API void cgsort(const int *stack, CgCompare compare, int *rc);

/* ==== Catalog table generators ============================================
 * Project table dumps become comma-separated table files, and table files,
 * standards, function tables and piping classes become objects of the
 * host's model. Paths are 0-terminated strings; a path built from a
 * directory and a name longer than 255 characters is refused with 20122.
 * Every result code is written only on failure: the caller sets it to 0
 * first. Dump and table lines are read 255 characters at a time (a longer
 * line counts as several). A write that falls short gives 20004 and leaves
 * the lines written before it. See docs/formats.md for the text formats.
 *
 * The creators (cgwtcr2 ... cgpscr) open the host's model (gimcrw, pr0ini,
 * pr0vws, psussm, g7mswm), save it with gj0swm only when everything loaded,
 * and always end with pr0end; a failing model service ends the call with
 * its code. */

/* cgwtcr: the weld rules section ("WELDHEAD" ... "CTFTBEN") of a dump into a
 * table file: per WELDNTRY entry (end style, site F/S/other, count n,
 * then n triples wall1 wall2 type) min(n, 5) lines
 * "ends,ends,wall1,wall2,FIELD|SHOP|site,type,".
 *  dump (in) the dump file; output (in) the table file, created or
 *  replaced whole (a failure leaves the old file)
 *  rc (out) 20121 a file cannot be opened; 20105 the dump ends before the
 *  header or the end line; 20004 a write fell short. */
PCS_API void cgwtcr(const char *dump, const char *output, int *rc);
/* cgbtcr: the branch rules section (BRNCHEAD, BRNCNTRY a b c d e f) into
 * lines "a,b,f,c,d,e,". rc as cgwtcr.
 *  dump (in) dump path; output (in) table file path; rc (out) as cgwtcr */
PCS_API void cgbtcr(const char *dump, const char *output, int *rc);
/* cgcmptcr: the end style section (ESTYHEAD, ESTYNTRY a b) into lines
 * "End Style,S,a,S,b," with S the first 8 characters of `standard` (in,
 * ending at a 0 byte when shorter). rc as cgwtcr.
 *  dump (in) dump path; output (in) table file path; rc (out) as cgwtcr */
PCS_API void cgcmptcr(const char *dump, const char *output, const char *standard, int *rc);
/* cgpdtcr: the pipe dimension table: first "size,,diameter,," for each
 * PIODNTRY entry (size, diameter) of the outside diameter dump, then
 * "size,schedule,diameter,wall," for each PITHNTRY entry (size, schedule,
 * wall) of the wall thickness dump, the diameter that of the first
 * outside diameter entry of the same size (empty when none).
 *  wall_dump, diameter_dump (in); output (in) created or replaced whole
 *  rc (out) as cgwtcr, or the code of a failing host stack service. */
PCS_API void cgpdtcr(const char *wall_dump, const char *diameter_dump, const char *output,
                     int *rc);
/* cgencdec: the first encoded table section ("GEOHEAD" or "MATHEAD") of a
 * dump: each entry "NAME code, description" with all three present adds
 * "code,description" to the file NAME of `directory` (created when missing,
 * never truncated); the files change together and only when the whole
 * section was read and written. The description drops , ' CR LF | and is
 * cut at 40.
 *  rc (out) 20121 a file cannot be opened; 20105 as cgwtcr; 20101 no memory
 *  for a table file's path; 20122 that path too long; 20004.
 *  dump (in) dump path; directory (in) folder path */
PCS_API void cgencdec(const char *dump, const char *directory, int *rc);

/* cgwtcr2, cgbtcr2: a weld or branch table file into a new "WLDTABLE" or
 * "BRTABLE " object (named by gj0puo) whose "PRJBNAME" row holds the file
 * name after its last '/', with one "PRJWRULS" or "PRJBRULS" row per line.
 * Reals of weld tables are multiplied by *scale (in); branch size keys
 * become RB (values beginning 0, ZERO or OFF) or B.
 *  rc (out) 20121 the file cannot be opened (the object exists then);
 *  20105 a read of the file failed; 20101 a name or column longer than
 *  256; a model service's code.
 *  path (in) table file path */
PCS_API void cgwtcr2(const char *path, const double *scale, int *rc);
PCS_API void cgbtcr2(const char *path, int *rc);
/* cgpdtcr2: a pipe dimension table file into "PIPEDIM " rows of the
 * "STANDARD" object named by `standard` (in, first 72 characters), found or
 * created; reals times *scale. rc as cgwtcr2.
 *  path (in) table file path; scale (in) factor
 *  rc (out) as cgwtcr2 */
PCS_API void cgpdtcr2(const char *path, const char *standard, const double *scale, int *rc);
/* cgcmtcr2: a compatibility table file into "PRJCMPT " rows of the
 * "PROCESS " object, found or created; column 0 is stored as "PRJENDS ".
 * rc as cgwtcr2.
 *  path (in) table file path; rc (out) as cgwtcr2 */
PCS_API void cgcmtcr2(const char *path, int *rc);
/* cgstdcr: fills the project tables of the "STANDARD" object `standard`
 * (in, 72 characters used; found or created) from the encoded table files
 * of `directory`: each entry beginning with a table word (PNAMNTRY,
 * ENDNTRY, RATNTRY, NOMNTRY, SCHNTRY, WALLNTRY, MATNTRY, MMNTRY) loads the
 * file of that word into its groups, one row per "code,text" line. Each
 * file loaded is traced as ">path<" on standard error. Reals times *scale.
 *  rc (out) 20121 a file cannot be opened; 20122 a path too long; 20105 a
 *  read of a file failed; 20101 a column longer than 256; csfdir's or a
 *  model service's code.
 *  directory (in) folder path; standard (in) name; scale (in) factor */
PCS_API void cgstdcr(const char *directory, const char *standard, const double *scale, int *rc);
/* cgfnctcr: one "FNCTABLE" object per file "name_TYPE" of `directory`
 * whose TYPE begins one of the part types BRANCH, ELBOW0, FITTING, FLG,
 * GSK, PIPE, VALVOPER, VALVBODY, MSCPPART: its "PRJTNAME" name and catalog
 * name, and one "PRJFRULS" row per line of the file.
 *  rc (out) as cgstdcr; 20101 also when the name buffer cannot be had.
 *  directory (in) folder path */
PCS_API void cgfnctcr(const char *directory, int *rc);
/* cgclprs: writes directory/CLASSMAP (truncated) from the CLASS statements
 * of a class map dump: per statement "class," then "table,weld_table," per
 * WLDTB and "table,branch_table," per BRHTB table, each kind last named
 * first. '*' lines are comments, a line beginning '&' continues a statement.
 *  rc (out) 20121 a file cannot be opened; 20122 the CLASSMAP path too
 *  long; 20105 a read of the dump failed; 20004; a host stack service's
 *  code.
 *  dump (in) dump path; directory (in) folder path */
PCS_API void cgclprs(const char *dump, const char *directory, int *rc);
/* cgpscr: for each file "CLASS_TYPE" of `directory` (sorted with cgsort),
 * creates the "PSPEC   " object CLASS when the model lacks it, with
 * `standard` (in) as its standard and the weld and branch tables of its
 * CLASSMAP line (or of the pairs the caller left in the map stack), and
 * adds a "PRJFNAMS" row for the file when TYPE begins a part type. Saves
 * after each entry.
 *  map_stack (in/out) a stack of entries of at most 256 bytes holding
 *  (table name, kind) pairs, emptied after the first class created; when 0
 *  a stack of 256-byte entries is created and handed back (end it with
 *  gusend).
 *  rc (out) 20121 a file cannot be opened; 20122 a path too long; 20105 a
 *  read of the CLASSMAP file failed; 20101 no memory, or map stack entries
 *  longer than 256; csfdir's, cgsort's or a model service's code.
 *  directory (in) folder path */
PCS_API void cgpscr(const char *directory, const char *standard, int *map_stack, int *rc);
/* cgrnmfl: renames the file named by the first *old_width characters of
 * `old_name` (trailing blanks dropped) to that of `new_name`. On failure
 * prints "cgrnmfl: <reason>" to standard error.
 * Returns 1 when *rc is not 0 afterwards, else 0.
 *  rc (out) 20101 no memory; 20121 no such file or an invalid name
 *  (ENOENT, EINVAL); 20127 access, read-only or another file system (EACCES,
 *  EROFS, EXDEV); 20128 EILSEQ; 20129 EISDIR; 20130 EMLINK; 20131 ENOSPC;
 *  20132 ETXTBSY; 20133 ENAMETOOLONG; 20134 any other; the code of sufscs.
 *  old_name, new_name (in) name fields; old_width, new_width (in)
 *  characters of each */
PCS_API int cgrnmfl(const char *old_name, const int *old_width, const char *new_name,
                    const int *new_width, int *rc);

/* ==== Query part lookup ====================================================
 * Catalog parts of a query are found in the project's generic part file:
 * its records are indexed in memory in a KeyIndexStack, a host stack whose
 * entries are a key of K bytes followed by the record's 4-byte position (an
 * int of this machine), sorted by cgsort so that position 1 holds the
 * greatest key. */

/* cgnames: the two catalog paths of the project setup: the catalog
 * directory (trailing blanks dropped, inner blanks turned into '/', then a
 * '/') followed by the current catalog's file name 1 (first) or 3 (second),
 * each with its 8 characters, trailing blanks included, and a 0 byte.
 *  first, second (out) 256 bytes each
 *  rc (out) 0; 20121 the setup holds no catalog directory; 20122 a path
 *  longer than 255 characters; 20101 no memory; the code of a failing host
 *  service (gj0frd, pladata, pu3cnam, the stack services). */
PCS_API void cgnames(char *first, char *second, int *rc);
/* cgprincr: the sorted KeyIndexStack of a generic part file. The key is the
 * cgkeycre key of the (groups[i], attributes[i]) pairs cut or blank-padded
 * to K, the sum of the attributes' declared lengths (gj0art; 8 for a pair the
 * model does not know, after guerjo). Records whose status is not 0 are
 * stepped over.
 *  count (in) number of pairs; stream (in, by value) the open file
 *  stack (out) the new stack; 0 on failure
 *  rc (out) 0; 20101 no memory or K + 4 above 256; the codes of cggget but
 *  20113; the stack services' codes.
 *  groups, attributes (in) *count pointers to 8-character names */
PCS_API void cgprincr(const char *const *groups, const char *const *attributes, const int *count,
                      FILE *stream, int *stack, int *rc);
/* cgfind: binary search of a stack sorted by cgsort for an element whose
 * first *key_length bytes compare equal (compare gives 0) to the key.
 *  found (out) its position, or 0 (also when the entries are shorter than
 *  the key)
 *  rc (out) 0; 20101 no memory; a stack service's code.
 *  stack (in) sorted stack; key (in) *key_length bytes; key_length (in)
 *  bytes; compare (in) comparator of two entries */
PCS_API void cgfind(const int *stack, const void *key, const int *key_length, CgCompare compare,
                    int *found, int *rc);
/* cgqprmt2: the record positions of every element of a sorted
 * KeyIndexStack whose key matches: cgfind with cgcmpsrt, then the found
 * element, the elements after it while their first *key_length bytes equal
 * the key exactly (strncmp), and every element before it that does.
 *  matches (out) a new stack of the record positions (the last 4 bytes of
 *  each matching element) in that order; 0 when
 *  nothing matches or on failure
 *  rc (out) 0; 20101 no memory; a stack service's code.
 *  key (in) *key_length bytes; key_length (in) bytes; stack (in) sorted
 *  KeyIndexStack */
PCS_API void cgqprmt2(const char *key, const int *key_length, const int *stack, int *matches,
                      int *rc);
/* cgqprmt: the catalog offsets a catalog index lists under a key (K bytes,
 * as csalku reads it), in index order.
 *  index (in, by value); matches (out) a new stack of 4-byte offsets; 0
 *  when the key is not found (rc 0) or on failure
 *  rc (out) 0; 20105 an index entry that cannot be read; a stack code.
 *  key (in) K bytes */
PCS_API void cgqprmt(const char *key, FILE *index, int *matches, int *rc);
/* cgstackp: prints a stack to standard error: mode 0 each entry as an int,
 * "%d >%d< \n"; mode 1 "%d >", the first `width` characters of each entry
 * (the whole entry when width is 0), "< \n". mode and width by value.
 *  stack (in); mode (in, by value) 0 or 1; width (in, by value)
 *  characters */
PCS_API void cgstackp(const int *stack, int mode, int width);
/* pclrdcg: the catalog parts that answer the query of an element class and
 * query number. Indexes the project's generic part file (cgnames' second
 * path) by ELCLASS/AELCLASS and SPCFUNC/QRYNUMBR, and looks up the element
 * class followed by the query number without trailing blanks (read over
 * the declared length of SPCFUNC/QRYNUMBR). For each match, the last found
 * first, the first value of PARTNUM/PARTNO and of TYPEOPTS/OPTIONS (blanks
 * where a record has none) go to two stacks aligned by position, whose
 * entry sizes are those value lengths in the first match's record.
 *  element_class (in) 8 characters; query (in) the query number
 *  parts, options (out) the stacks; 0 when nothing matches, and also when
 *  the first match's record lacks PARTNUM/PARTNO (then both) or
 *  TYPEOPTS/OPTIONS (then options only; parts is an empty stack)
 *  rc (out) 0; 20104 a catalog file cannot be opened; the codes of cgnames,
 *  cgprincr and cggget, gj0art's; both stacks are 0 on failure. */
PCS_API void pclrdcg(const char *element_class, const char *query, int *parts, int *options,
                     int *rc);

/* ==== Query fill and catalog parts (section kept by the part creation) ===
 * The query fill turns the entries of a piping specification into query
 * parts (one per table row and project pipe size); the part creation builds
 * catalog parts from query data; the size check compares a catalog part's
 * sizes with a query's limits; cgprid indexes an open table.
 *
 * Query setup. The owner object's name set "QRY_DATA" (gtbsas) lists the
 * query tables; for each table N its name set N, when there is one, names
 * N's generic-flag table: a table of the same attributes whose values are
 * 32-bit flags (above 0: the value is generic). A specification entry is
 * the host reference of the object that holds the entry's tables:
 * "SPCSZRNG" (SIZE1, SIZE2: one size range per row), "PRJSTAND"
 * (STANDARD), the end tables "SPEC001" to "SPEC004" with their flag tables
 * "GEN001" to "GEN004" (RATG, SCH, WALL, ENDS), and the query tables.
 *
 * Buffers. Sizes are read into 40-character buffers by the fill and
 * 80-character buffers by the part creation and the size check, option
 * texts are 40 characters and values at most 256 bytes: anything longer
 * gives 20101 rather than being cut. */

/* cgqgen: collects the query tables: the caller's names first (the last
 * one first), then the setup's from its last to its first. Each table is
 * readied for the specification setup (gj0pig "PSPEC   ", N, "SETUP   ").
 *  owner (in) host reference of the object holding the query setup
 *  table_names (in) *table_count pointers to 8-character table names
 *  name_stack (out) new stack of 8-character table names
 *  flag_table_stack (out) new stack of 8-character flag-table names, 8
 *        blanks for a table without one
 *  attribute_stacks (out) new stack of 4-byte stack handles, each a stack
 *        of the table's 8-character attribute names (the caller ends them)
 *  All three are aligned by position and 0 on failure (nothing is left
 *  open then).
 *  rc (out) 0, or the first non-zero code of a host service.
 *  table_count (in) number of caller's names */
PCS_API void cgqgen(const int *owner, const char *const *table_names, const int *table_count,
                    int *name_stack, int *flag_table_stack, int *attribute_stacks, int *rc);

/* cgqfill: fills the query parts of specification entries. For each entry
 * (popped from the entry stack) and each row of its "SPCSZRNG" (a blank
 * SIZE2 meaning SIZE1 to SIZE1), one part per project size of the row's
 * standard from SIZE1 to SIZE2, pushed before it is filled. A part holds,
 * in this order: "PIPESIZE" (SIZE), "ENDSPEC " (RATG, SCH, WALL, ENDS with
 * one value per end; "PIPESPEC" for a part whose category is "PIPE    "),
 * one group per query table (a column the entry lacks gives a blank value
 * of the attribute's length), "ELCLASS " (AELCLASS: the entry's element
 * class, "C8      "), "VNDRCODE" and "PARTDEF " (CATEGORY, PARTTYPE). Every
 * value carries its generic flag (0 without a flag table). "PRJSTAND" is
 * renamed "STANDATA" (STANDARD of length 8), "RHPRJAPC" "RHAPRTCD",
 * "PRJMATL " "ELMMATL " (its first VNDRCOD moved to VNDRCODE), "PRTNAME "
 * "PARTNAME"; "ELCLASS ", "RHPSOPT ", "RHMAXSIZ", "SPCFUNC " and, when
 * ibafr7() is not 0, "RHMINSIZ" get match flag 0. A part without
 * "PRJSTAND"/STANDARD, "PRJMATL "/VNDRCOD or "SPCFUNC "/CATEGORY and
 * FUNCTION ends the fill with rc 0, that part left as far as it was built.
 *  owner, table_names, table_count (in) as for cgqgen
 *  entry_stack (in/out) stack of 4-byte entry references; emptied
 *  part_stack (out) new stack of PCS_HANDLE_SIZE-byte CgPart pointers; the
 *        parts are the caller's (cggfre), also those pushed before a
 *        failure; 0 when the fill failed before making it
 *  rc (out) 0; 20101 no memory, a declared length above 256, a size
 *     longer than 40, or stack entries longer than the fill reads (an
 *     entry reference above 4 bytes, a name above 8); 20110 *entry_stack
 *     is 0; 20112 a flag table lookup
 *     answered 800; otherwise the first non-zero code of a host service.
 *  Every other stack the fill makes is ended before it returns. */
PCS_API void cgqfill(const int *owner, const char *const *table_names, const int *table_count,
                     int *entry_stack, int *part_stack, int *rc);

/* cgctprcr: creates catalog parts from two source parts. With run sizes
 * (the first source's RUNSIZE1 and RUNSIZE2 SIZE, not both blank) one part
 * per project size from RUNSIZE1 to RUNSIZE2 of its STANDATA standard,
 * taken from the last to the first, with PIPESIZE/SIZE = (run size, the
 * first source's first size); without, one part with the first source's
 * first two sizes. Each part holds, in this order of first appearance: the
 * third list's pairs with their values from the second source, the first
 * list's from the first source, group "OPTIONS " with the option pairs
 * found in the first source, "TYPEOPTS"/"OPTIONS " ("C40     "): the first
 * values of the options, one blank apart, compacted by sulbrm; then for
 * each value of the second source whose generic flag is not 0 the value
 * under its own names and a "GENERICS" entry (ATTRGRP, ATTRNAME, VALUESTA
 * = the flag). Pairs missing from their source add nothing.
 *  groups, attributes, count (in) first pair list
 *  option_groups, option_attributes, option_count (in) option pairs
 *  source_groups, source_attributes, source_count (in) third pair list
 *  first (in) first source part; second (in) second source part or null
 *  parts (out) new stack of PCS_HANDLE_SIZE-byte CgPart pointers (cggfre
 *        each); after a failure it holds the parts made so far
 *  rc (out) 0; 20101 no memory or a value, size or standard too long for
 *     its buffer; the code of a failing host service (pclrng, sulbrm,
 *     stacks). */
PCS_API void cgctprcr(const char *const *groups, const char *const *attributes,
                      const int *count, const char *const *option_groups,
                      const char *const *option_attributes, const int *option_count,
                      const char *const *source_groups, const char *const *source_attributes,
                      const int *source_count, CgGroup *first, CgGroup *second, int *parts,
                      int *rc);

/* cgmangle: spreads single end specifications over four ends: in group
 * "ENDSPEC " the first value of RATG, SCH, WALL and ENDS (in this order,
 * stopping at the first one missing or empty) is appended three more
 * times. Generic flags are not extended. A part without "ENDSPEC " is left
 * as it is.
 *  part (in/out); rc (out) 0; 20101 no memory or a value above 256 bytes. */
PCS_API void cgmangle(CgGroup *part, int *rc);

/* cgminsz: tests a catalog part's PIPESIZE/SIZE values against the query's
 * RHMINSIZ/MINSIZE and RHMAXSIZ/MAXSIZE (first values; blank limits are not
 * tested). Sizes are ranked in the project sizes ("PRJSIZE ") of the
 * query's STANDATA standard (pclenv, pu4fcsk; a size not listed ranks 0).
 * Every non-blank size is tested against the minimum; the maximum is
 * tested from the second size on, never against the first.
 *  catalog, query (in) the parts
 *  result (out) 1 when a size ranks below the minimum or above the
 *        maximum, else 0
 *  rc (out) 0; 20101 a size or standard longer than 80 characters; the
 *     code of pclenv or pu4fcsk. */
PCS_API void cgminsz(CgGroup *catalog, CgGroup *query, int *result, int *rc);

/* cgprid: writes the catalog index file (see "Catalog index files") of an
 * open table: its keys in ascending order, one index record per record
 * position of the key (in file order), each record pointing to its key's
 * first index record. The table's tree is emptied: every element is removed
 * and released. A key byte 0 is written as nothing, as "%.1s" does.
 *  table (in/out) open table from cgtopn; stays open, its index empty
 *  name  (in) index file name field, PCS_KEYED_NAME_LEN characters
 *        (trailing blanks dropped, a leading "$NAME" expanded)
 *  rc    (out) 0 written; 1 the file cannot be created (or its name uses an
 *        unset variable), a write fell short (the old file stays), or the
 *        key length is above 9999; 5 a null handle or a handle without an
 *        index. */
PCS_API void cgprid(KeyedFile **table, const char *name, int *rc);

/* cgopts: the standard option pairs of a catalog part, in this order:
 * PIPESIZE/SIZE, ENDSPEC/RATG, ENDSPEC/ENDS, ENDSPEC/SCH, ELMMATL/MAINCODE.
 *  groups     (out) new stack of 8-character group names; 0 on failure
 *  attributes (out) new stack of 8-character attribute names, aligned with
 *             groups by position; 0 on failure
 *  rc (out) 0, or the code of the failing stack service (both stacks are
 *     ended then). */
PCS_API void cgopts(int *groups, int *attributes, int *rc);

#ifdef __cplusplus
}
#endif

#endif
