/*
 * pcs_select.h - piping catalog services, the selection interface.
 *
 * From a piping specification of the project to the catalog parts that
 * satisfy it, with the reasons behind every decision. A host opens a
 * selection for a specification and a generic part file, asks for an entry
 * of the specification and a pipe size, and receives the candidates (the
 * catalog parts of the entry's element class and query number), each found
 * or rejected, and on request the explanation of any candidate: every value
 * compared with both values, the generic flag, the cell of the decision
 * table and the result, and every size-limit check. The explanation is
 * produced by the same comparison that decides.
 *
 * These operations are not among the entry points of the module header
 * `vomhead`; they are exported by the library beside them. They follow the
 * conventions of <pcs.h>: arguments by reference, the result code in the
 * last argument `rc` (0 success, PCS_SELECT_CODES below otherwise; a code
 * of a lower operation, such as a host service's, is passed through),
 * memory from the host memory service given back through pcs_sel_free and
 * pcs_sel_close. Unlike the name fields of
 * <pcs.h>, the names given here (specification, entry, size) are
 * 0-terminated texts, and texts handed back are 0-terminated.
 *
 * A session of the host model must be open (gimcrw) while a selection is
 * opened and used: the specification and its entries are found through it.
 */
#ifndef PCS_SELECT_H
#define PCS_SELECT_H

#include "pcs.h"

/* Marks the selection operations that the library exports. */
#if defined(__GNUC__)
#define PCS_SELECT_API __attribute__((visibility("default")))
#else
#define PCS_SELECT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define PCS_SEL_TEXT 81 /* a value, size or part number as text, with its 0 */

/* Result codes of the selection operations, X(name, value, meaning). */
#define PCS_SELECT_CODES(X)                                                     \
  X(PCS_SEL_NO_MEMORY, 20201, "memory could not be obtained for the selection") \
  X(PCS_SEL_BAD_ARGUMENT, 20202, "a null argument, or a text too long for its field") \
  X(PCS_SEL_NO_SPEC, 20203, "the project has no piping specification of that name") \
  X(PCS_SEL_NO_FILE, 20204, "the generic part file cannot be opened or read")   \
  X(PCS_SEL_DAMAGED, 20205, "a record of the generic part file is damaged")     \
  X(PCS_SEL_NO_ENTRY, 20206, "the specification has no entry of that name")     \
  X(PCS_SEL_NO_SIZE, 20207, "the entry covers no pipe size of that name")       \
  X(PCS_SEL_NO_CANDIDATE, 20208, "no candidate of that number in the last answer")

#define PCS_SELECT_ENUM_(name, value, text) name = value,
/* The selection codes as constants of one enumeration. */
enum PcsSelectCode { PCS_SELECT_CODES(PCS_SELECT_ENUM_) PCS_SELECT_CODE_END_ };
#undef PCS_SELECT_ENUM_

/* Value classes and decisions of the part comparison. A query value that
 * is empty or absent accepts any catalog value unless it is generic, in
 * which case the catalog value must be empty or absent; a present query
 * value is compared with the catalog value (PCS_SEL_COMPARE), which a
 * generic one also accepts when empty or absent. */
enum PcsSelClass { PCS_SEL_ABSENT = 0, PCS_SEL_EMPTY = 1, PCS_SEL_PRESENT = 2 };
/* The decision of the table's cell: unequal, equal, or compare the values. */
enum PcsSelDecision { PCS_SEL_UNEQUAL = 0, PCS_SEL_EQUAL = 1, PCS_SEL_COMPARE = 2 };
/* The limit a size check tests. */
enum PcsSelLimit { PCS_SEL_MINIMUM = 1, PCS_SEL_MAXIMUM = 2 };

/* An open selection (opaque). */
typedef struct PcsSelection PcsSelection;

/* One value of the query part compared with the value in the same place of
 * the catalog part. */
typedef struct PcsSelValue {
  char group[PCS_NAME_LEN + 1];     /* query group, trailing blanks dropped */
  char attribute[PCS_NAME_LEN + 1]; /* attribute name */
  int32_t index;                    /* value number, from 1 */
  char type;                        /* the query's type letter: C, I, R */
  int32_t hasCatalog;               /* 1 when the catalog part has the attribute */
  char query[PCS_SEL_TEXT];         /* the query value as text */
  char catalog[PCS_SEL_TEXT];       /* the catalog value ("" when absent) */
  int32_t generic;                  /* 1 when the query value is generic */
  int32_t queryClass;               /* PcsSelClass of the query value */
  int32_t catalogClass;             /* PcsSelClass of the catalog value */
  int32_t decision;                 /* PcsSelDecision: the table's cell */
  int32_t equal;                    /* 1 when the value is satisfied */
} PcsSelValue;

/* One group of the query part. */
typedef struct PcsSelGroup {
  char name[PCS_NAME_LEN + 1]; /* group name, trailing blanks dropped */
  int32_t compared;  /* 0: its match flag leaves it out of the comparison */
  int32_t satisfied; /* 1 when compared and every value is satisfied, or not compared */
} PcsSelGroup;

/* One catalog size tested against a size limit of the query. */
typedef struct PcsSelSize {
  int32_t limit;                /* PcsSelLimit */
  char limitSize[PCS_SEL_TEXT]; /* the limit as text */
  int32_t limitRank;            /* rank of the limit among the project sizes */
  int32_t index;                /* catalog size number, from 1 */
  char size[PCS_SEL_TEXT];      /* the catalog size as text */
  int32_t rank;                 /* its rank among the project sizes */
  int32_t outside;              /* 1 when the size breaks the limit */
} PcsSelSize;

/* The explanation of one candidate. */
typedef struct PcsSelExplanation {
  char partNumber[PCS_SEL_TEXT]; /* PARTNUM/PARTNO, "" when it has none */
  int32_t position;              /* record position in the generic part file */
  int32_t groupCount;            /* number of groups */
  PcsSelGroup *groups;           /* the query's groups in order */
  int32_t valueCount;            /* number of values compared */
  PcsSelValue *values;           /* every value compared, group by group */
  int32_t sizeCount;             /* number of sizes tested */
  PcsSelSize *sizes;             /* every size tested, in order */
  int32_t unequal;               /* number of values not satisfied */
  int32_t groupsSatisfied;       /* 1 when the comparison accepts the part */
  int32_t withinLimits;          /* 1 when no size breaks a limit */
  int32_t selected;              /* groupsSatisfied and withinLimits */
} PcsSelExplanation;

/* pcs_sel_open: opens the selection of a piping specification over a
 * generic part file. The file is read once, in large sequential reads, and
 * indexed once by element class and query number; it is not read again.
 *  ws       (in) the host workspace of the open session
 *  spec     (in) specification name (the PSPEC object)
 *  parts    (in) path of the generic part file
 *  selection (out) the new selection (pcs_sel_close); null on failure
 *  rc (out) 0; PCS_SEL_BAD_ARGUMENT, PCS_SEL_NO_SPEC, PCS_SEL_NO_FILE,
 *     PCS_SEL_DAMAGED, PCS_SEL_NO_MEMORY, or a host service's code. */
PCS_SELECT_API void pcs_sel_open(const int *ws, const char *spec, const char *parts,
                                 PcsSelection **selection, int *rc);

/* pcs_sel_sizes: the pipe sizes an entry covers, in the order of its query
 * parts (the query fill of the entry; kept until another entry is asked).
 *  entry (in) entry name (the SPCENTRY object "<spec> <entry>")
 *  count (out) number of sizes; pcs_sel_size gives each
 *  rc (out) 0; PCS_SEL_NO_ENTRY, PCS_SEL_BAD_ARGUMENT, the fill's code. */
PCS_SELECT_API void pcs_sel_sizes(PcsSelection *selection, const char *entry, int *count,
                                  int *rc);
/* pcs_sel_size: size k (from 1) of the entry last given to pcs_sel_sizes
 * or pcs_sel_find, PCS_SEL_TEXT bytes with the 0.
 *  rc (out) 0; PCS_SEL_NO_SIZE when there is no size k. */
PCS_SELECT_API void pcs_sel_size(PcsSelection *selection, const int *k, char *size, int *rc);

/* pcs_sel_find: the candidates of the query part of an entry and a size,
 * each tested: the part comparison (cgpreql), then the size limits
 * (cgminsz). The answer is kept until the next pcs_sel_find.
 *  entry, size (in) names; the size as pcs_sel_size gives it
 *  candidates (out) number of candidates, in record position order
 *  found      (out) number of them that satisfy the query part
 *  rc (out) 0; PCS_SEL_NO_ENTRY, PCS_SEL_NO_SIZE, PCS_SEL_DAMAGED,
 *     PCS_SEL_NO_MEMORY, PCS_SEL_BAD_ARGUMENT, or the code of the fill or
 *     of cgminsz. */
PCS_SELECT_API void pcs_sel_find(PcsSelection *selection, const char *entry, const char *size,
                                 int *candidates, int *found, int *rc);

/* pcs_sel_part: candidate k (from 1) of the last answer.
 *  number   (out) its part number, PCS_SEL_TEXT bytes with the 0
 *  position (out) its record position
 *  selected (out) 1 when it satisfies the query part
 *  rc (out) 0; PCS_SEL_NO_CANDIDATE. */
PCS_SELECT_API void pcs_sel_part(PcsSelection *selection, const int *k, char *number,
                                 int *position, int *selected, int *rc);

/* pcs_sel_explain: the explanation of candidate k (from 1) of the last
 * answer, made by the comparison and the size check themselves.
 *  explanation (out) new explanation (pcs_sel_free); null on failure
 *  rc (out) 0; PCS_SEL_NO_CANDIDATE, PCS_SEL_NO_MEMORY, cgminsz's code. */
PCS_SELECT_API void pcs_sel_explain(PcsSelection *selection, const int *k,
                                    PcsSelExplanation **explanation, int *rc);

/* pcs_sel_free: releases an explanation (null is accepted). */
PCS_SELECT_API void pcs_sel_free(PcsSelExplanation *explanation);

/* pcs_sel_close: releases the selection and everything it holds (null is
 * accepted); explanations already given stay the caller's. */
PCS_SELECT_API void pcs_sel_close(PcsSelection *selection);

/* pcs_sel_text: the meaning of a result code: of the selection operations
 * or one of the five-digit codes of <pcs.h>; a fixed text
 * ("unknown result code") for any other. */
PCS_SELECT_API const char *pcs_sel_text(int code);

/* pcs_sel_value: value k (from 1) of a generic part attribute as text, as
 * the explanations give it: type 'I' in decimal, 'R' as printf's %g, any
 * other the characters without trailing blanks, each byte outside
 * printable ASCII as '?'; "" when the attribute has no value k.
 *  attribute (in) the attribute
 *  k         (in) the value's number, from 1
 *  type      (in) the type letter to read the value by (one character)
 *  text      (out) the text with its 0, cut to size - 1 bytes
 *  size      (in) bytes at text, at least 1; valueLength + 40 always suffice
 *  length    (out) the length of the whole text, without its 0
 *  rc (out) 0; PCS_SEL_BAD_ARGUMENT for a null pointer or a size below 1. */
PCS_SELECT_API void pcs_sel_value(const CgAttribute *attribute, const int *k, const char *type,
                                  char *text, const int *size, int *length, int *rc);

#ifdef __cplusplus
}
#endif

#endif
