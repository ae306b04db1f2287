/*
 * The host's model services as the library calls them: workspace and model
 * sessions, the schema of groups and attributes, objects with their groups
 * and rows, specification entries, the project setup and its catalogs,
 * standards with their ordered pipe sizes, and the part objects and report
 * units of the duplicate merge.
 *
 * The library never defines these functions; the host provides them. Our
 * in-process host (libpcshost) keeps the model in memory, reads it from the
 * project database (SQLite) on first use and writes what changed back with
 * gj0swm; see host/inprocess/model.h and docs/project-file.md.
 *
 * Conventions (as in host/host_services.h):
 *  - every argument is a pointer unless marked "by value";
 *  - names (types, groups, attributes, tables, catalog file names) are
 *    8-character blank-padded fields without terminator; other character
 *    fields have the width given at each service and are blank-padded too;
 *  - the last argument rc receives 0 or one of the PCS_HOST_* codes below, or
 *    the code of a failing stack service (host/host_services.h);
 *  - output handles and stacks are 0 whenever rc is not 0. Stacks a service
 *    returns belong to the caller, who ends them with gusend.
 *  - A value handed over or returned is the attribute's bytes: type I is a
 *    4-byte int, type R an 8-byte double, any other type its declared length
 *    of characters.
 *  - Services marked "session" need an open workspace (gimcrw, until
 *    pr0end); those marked "write" also need the model switched to writing
 *    (g7mswm with mode 1).
 */
#ifndef PCS_HOST_MODEL_H
#define PCS_HOST_MODEL_H

#include "host_services.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result codes of the model services -------------------------------- */
#define PCS_HOST_NO_ENTRY 800        /* an entry reference that names no object */
#define PCS_HOST_BAD_ARGUMENT 6001   /* a null pointer or a value out of range */
#define PCS_HOST_NO_PROJECT 6002     /* the project database cannot be opened */
#define PCS_HOST_BAD_PROJECT 6003    /* the file is not a valid project database */
#define PCS_HOST_SAVE_FAILED 6004    /* the project database could not be written */
#define PCS_HOST_NO_WORKSPACE 6005   /* workspace not 1, or no session open */
#define PCS_HOST_SESSION_OPEN 6006   /* gimcrw while a session is open */
#define PCS_HOST_READ_ONLY 6007      /* a write before g7mswm with mode 1 */
#define PCS_HOST_NO_TYPE 6008        /* no object type of that name */
#define PCS_HOST_NO_GROUP 6009       /* no group (table) of that name */
#define PCS_HOST_NO_ATTRIBUTE 6010   /* the group has no attribute of that name */
#define PCS_HOST_NO_OBJECT 6011      /* no object with that handle (and type) */
#define PCS_HOST_NOT_ATTACHED 6012   /* the object does not hold that group */
#define PCS_HOST_ATTACHED 6013       /* gj0aii: the object holds the group already */
#define PCS_HOST_NO_ROW 6014         /* gtbmae: no such row */
#define PCS_HOST_NO_CATALOG 6015     /* no catalog of that id, or none current */
#define PCS_HOST_NO_STANDARD 6016    /* no size table of that standard and name */
#define PCS_HOST_NO_SIZE 6017        /* pclrng: a size the table does not list */
#define PCS_HOST_NO_FAMILY 6018      /* no family holds that category / id */
#define PCS_HOST_NO_MEMORY 6019      /* the host ran out of memory */
#define PCS_HOST_NO_MODEL 6020       /* g7mswm: not the project's model */
#define PCS_HOST_BUSY 6021           /* gj0swm: another process is writing the project */
#define PCS_HOST_NO_PART_OBJECT 6089 /* gldobj: no such part object (success) */

/* ---- workspace and model sessions --------------------------------------- */

/* Opens workspace *ws (must be 1), loading the project database if the
 * model is not in memory yet. The four reals are recorded, not used.
 * rc: PCS_HOST_NO_WORKSPACE, PCS_HOST_SESSION_OPEN, PCS_HOST_NO_PROJECT,
 * PCS_HOST_BAD_PROJECT. */
PCS_HOST_API void gimcrw(const int *ws, const double *origin, const double *extent,
                         const float *tolerance, const float *angle, int *rc);
/* Ready the process and its views; called after gimcrw succeeds. */
PCS_HOST_API void pr0ini(void);
PCS_HOST_API void pr0vws(void);
/* Session. Gives the site (*ws), the number of objects of `type` and the
 * project's model number. rc: PCS_HOST_NO_WORKSPACE, PCS_HOST_NO_TYPE. */
PCS_HOST_API void psussm(const int *ws, const char *type, int *site, int *count, int *model,
                         int *rc);
/* Session. Switches model *model to writing (*mode 1) or reading (*mode 0).
 * rc: PCS_HOST_NO_WORKSPACE, PCS_HOST_NO_MODEL, PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void g7mswm(const int *ws, const int *model, const int *mode, int *rc);
/* Session. Saves what changed since the last save to the project database
 * in one transaction: a failed save leaves the database as it was. Waits up
 * to a few seconds for another process's save. rc: PCS_HOST_NO_WORKSPACE,
 * PCS_HOST_SAVE_FAILED, PCS_HOST_BUSY. */
PCS_HOST_API void gj0swm(const int *ws, int *rc);
/* Ends the session (also when gimcrw failed). Unsaved changes stay in memory. */
PCS_HOST_API void pr0end(void);

/* ---- schema --------------------------------------------------------------- */

/* Readies `group` for objects of `type`: adds it (with its group type) to the
 * type's groups and attaches it to every object of the type lacking it.
 * rc: PCS_HOST_NO_TYPE, PCS_HOST_NO_GROUP. */
PCS_HOST_API void gj0pig(const char *type, const char *group, const char *group_type, int *rc);
/* The attribute's type field (8: the letter I, R or C, then the length, e.g.
 * "C40     ") and its declared length. rc: PCS_HOST_NO_GROUP,
 * PCS_HOST_NO_ATTRIBUTE. */
PCS_HOST_API void gj0art(const char *group, const char *attribute, char *type, int *length,
                         int *rc);
/* A new stack of 8-byte entries: the attribute names of group `table` in
 * schema order (entry 1 the first). rc: PCS_HOST_NO_GROUP. */
PCS_HOST_API void gj0asa(const char *table, int *stack, int *rc);
/* The host's name for an object type, blank-padded into a 256-character
 * field. rc: PCS_HOST_NO_TYPE. */
PCS_HOST_API void gj0puo(const char *type, char *name, int *rc);

/* ---- objects, groups and rows --------------------------------------------- */

/* Session, write. Creates an object of `type` named by the 256-character
 * field `name` (trailing blanks dropped; names need not be unique), with
 * every group of its type attached and empty. rc: PCS_HOST_NO_TYPE. */
PCS_HOST_API void pu2cpo(const int *ws, const char *type, const char *name, int *handle, int *rc);
/* Session. Finds the first object of `type` whose name is the first
 * *name_length (0..256) characters of `name`, trailing blanks dropped;
 * *handle 0 and rc 0 when there is none. rc: PCS_HOST_NO_TYPE. */
PCS_HOST_API void gtbsui(const int *ws, const char *type, const int *name_length,
                         const char *name, int *handle, int *rc);
/* Session, write. As pu2cpo with a type field of type_length (by value, at
 * most 8 used) and a name field of name_length (by value, 0..256)
 * characters. Answers 1 when the object was created, else 0. */
PCS_HOST_API int gtbcpo(const int *ws, const char *type, const char *name, int *handle, int *rc,
                        int type_length, int name_length);
/* Session. The number of groups the object holds and its element reference
 * (for gtbwvg). rc: PCS_HOST_NO_OBJECT. */
PCS_HOST_API void gj0erx(const int *ws, const int *handle, int *groups, int *element, int *rc);
/* Session. Two new stacks of 8-byte entries aligned by position: the groups
 * of `type` in type order and their group types. *element is 0 or the
 * reference of an object of that type; *level is recorded (the library
 * passes 4). rc: PCS_HOST_NO_TYPE, PCS_HOST_NO_OBJECT. */
PCS_HOST_API void gtbwvg(const int *ws, const char *type, const int *element, const int *level,
                         int *group_stack, int *type_stack, int *rc);
/* Session, write. Attaches `group` to the object, which must be of `type`.
 * rc: PCS_HOST_NO_OBJECT, PCS_HOST_NO_GROUP, PCS_HOST_ATTACHED. */
PCS_HOST_API void gj0aii(const int *ws, const int *handle, const char *type, const char *group,
                         int *rc);
/* Session, write. Adds *count rows (count >= 1), each with the next value of
 * `value` for `attribute` and blanks (0 for numbers) elsewhere. *position 0,
 * or at or past the last row, appends; position p inserts after row p. A
 * group declared with one row sets row 1 instead (creating it).
 * rc: PCS_HOST_NO_OBJECT, PCS_HOST_NO_GROUP, PCS_HOST_NO_ATTRIBUTE,
 * PCS_HOST_NOT_ATTACHED, PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void gtbaae(const int *ws, const int *handle, const int *position, const char *group,
                         const char *attribute, const int *count, const void *value, int *rc);
/* Session, write; *flag is the workspace, 1. Sets `attribute` in *count
 * rows from *row on (row 0 is the last row; a one-row group always sets
 * row 1, creating it). rc: as gtbaae, and PCS_HOST_NO_ROW.
 * Row numbers are absolute: row 1 is the group's first row, whoever added
 * it. The table loaders append a row and then set its other columns by the
 * number the row has in their file, so they must start on an empty group:
 * a caller that loads into an object empties the group first (pcs tables
 * load refuses a group that holds rows unless told --replace, which empties
 * it in the same save), so no loader sets a row it did not add. */
PCS_HOST_API void gtbmae(const int *flag, const int *handle, const int *row, const char *group,
                         const char *attribute, const int *count, const void *value, int *rc);

/* ---- specification entries ------------------------------------------------
 * An entry reference is the handle of the object that holds the entry's
 * tables (groups). *flag is 1. */

/* The name set `name` of object *owner as a new stack of 8-byte names, in
 * order; *stack 0 and rc 0 when the owner has no such set.
 * rc: PCS_HOST_NO_OBJECT, PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void gtbsas(const int *flag, const int *owner, const char *name, int *stack, int *rc);
/* The values of column `attribute` of table `table` (both read as 8-byte
 * names at the start of their fields) by row: a new stack whose entry k is
 * row k, entries of the attribute's length. *stack 0 and rc 0 when the entry
 * does not hold the table or the table has no such attribute.
 * rc: PCS_HOST_NO_ENTRY, PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void gtbrae(const int *flag, const int *entry, const char *table,
                         const char *attribute, int *stack, int *rc);
/* The entry's element class: its *length characters written to `value` (at
 * most 80), and a new stack holding it as its one entry; *length 0 and
 * *stack 0 when the entry has none. rc: PCS_HOST_NO_ENTRY. */
PCS_HOST_API void gtbrui(const int *flag, const int *entry, int *length, char *value, int *stack,
                         int *rc);

/* ---- project setup and catalogs ------------------------------------------ */

/* The setup entry of the four keys. For "PRO     ", "SETUP   ", "CATALOG "
 * and 8 blanks: stack 1 holds the catalog directory (one entry, blank-padded
 * to at least 80 characters), stack 2 the ids of all catalogs (4-byte ints),
 * stack 3 the current catalog id (one 4-byte int, 0 when none). Other keys,
 * or a setup without a catalog directory: three 0 handles and rc 0. */
PCS_HOST_API void gj0frd(const char *key1, const char *key2, const char *key3, const char *key4,
                         int *stack1, int *stack2, int *stack3, int *rc);
/* Item *item of data kind *kind; kind 2 item 30 is the current catalog id.
 * rc: PCS_HOST_BAD_ARGUMENT, PCS_HOST_NO_CATALOG (none current). */
PCS_HOST_API void pladata(const int *kind, const int *item, int *value, int *rc);
/* The file names of catalog *id from name *first + 1 on (first >= 0), at
 * most 32 of them, side by side as 8-character fields in `names`
 * (32 x 8 bytes); *count of them. rc: PCS_HOST_NO_CATALOG,
 * PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void pu3catn(const int *first, const int *id, char *names, int *count, int *rc);
/* The first seven file names of catalog *id, one 8-character field each;
 * blanks where the catalog has fewer. rc: PCS_HOST_NO_CATALOG. */
PCS_HOST_API void pu3cnam(const int *id, char *name1, char *name2, char *name3, char *name4,
                          char *name5, char *name6, char *name7, int *rc);

/* ---- standards and pipe sizes ---------------------------------------------
 * A standard (8-character name) has ordered size tables (e.g. "PRJSIZE "),
 * each with a size length L (1..40). Sizes are read as L-character fields
 * and compared without trailing blanks. */

/* The sizes of the table from size1 to size2 in the table's order (either
 * bound may come first; a blank bound is the other bound): a new stack of
 * L-byte entries. rc: PCS_HOST_NO_STANDARD, PCS_HOST_NO_SIZE. */
PCS_HOST_API void pclrng(const char *standard, const char *table, const char *size1,
                         const char *size2, int *stack, int *rc);
/* A size environment: a new stack of all the table's sizes in order (entries
 * of L bytes); end it with gusend. rc: PCS_HOST_NO_STANDARD. */
PCS_HOST_API void pclenv(const char *standard, const char *table, int *environment, int *rc);
/* The rank (1 = first) of `size` in the environment, read over the
 * environment's entry length; 0 when it is not there.
 * rc: the stack code when *environment is not an open stack. */
PCS_HOST_API void pu4fcsk(const int *environment, const char *size, int *rank, int *rc);
/* Non-zero when the project asks for the minimum size to be left out of the
 * part comparison (setup "ibafr7"). */
PCS_HOST_API int ibafr7(void);
/* Compacts the *length characters of `text` in place: leading blanks go, each
 * run of blanks inside becomes one, the rest is blank-filled. *length is left
 * as it is. rc: PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void sulbrm(char *text, int *length, int *rc);

/* ---- part objects and report units of the duplicate merge ---------------- */

/* The family of the part category (24-character field, trailing blanks
 * dropped). rc: PCS_HOST_NO_FAMILY. */
PCS_HOST_API void glrfam(const char *category, int *family, int *rc);
/* Deletes the part object of family *family, category (24 characters) and
 * stamp `eltime` (16 characters). rc: PCS_HOST_NO_FAMILY,
 * PCS_HOST_NO_PART_OBJECT (none such: the object is gone, which callers take
 * as success). */
PCS_HOST_API void gldobj(const int *family, const char *category, const char *eltime, int *rc);
/* Writes one report line of *length bytes to unit *unit (>= 0): kept in
 * memory and written to the unit's file when one is set (host/inprocess/model.h).
 * rc: PCS_HOST_BAD_ARGUMENT. */
PCS_HOST_API void gufswr(const int *unit, const char *line, const int *length, int *rc);

#ifdef __cplusplus
}
#endif

#endif
