/*
 * The host's utility services as the library calls them: memory, ordered
 * lists, pointer arrays, stacks, error reporting and string conversion.
 *
 * The library never defines these functions; it calls them by name and the
 * host that loads the library provides them. Our own in-process host
 * (libpcshost, sources beside this header) is one such provider; a real
 * host application can provide them instead.
 *
 * Conventions: `&` arguments of the host are pointers here; names are
 * 8-character blank-padded fields without terminator; rc is 0 on success.
 */
#ifndef PCS_HOST_SERVICES_H
#define PCS_HOST_SERVICES_H

#include <stddef.h>

#if defined(__GNUC__)
#define PCS_HOST_API __attribute__((visibility("default")))
#else
#define PCS_HOST_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Comparator over two elements (or an element and a bare key); list order. */
typedef int (*PcsCompare)(const void *first, const void *second);
/* Visitor called with each element of a list in order. */
typedef void (*PcsVisit)(void *element);

/* ---- memory --------------------------------------------------------------
 * Blocks are aligned for any type. gicaloc zero-fills. girealoc(null, n) is
 * gimaloc(n); when it fails the old block is left as it was. gifree(null)
 * does nothing. */
PCS_HOST_API void *gimaloc(size_t size);
PCS_HOST_API void *gicaloc(size_t count, size_t size);
PCS_HOST_API void *girealoc(void *block, size_t size);
PCS_HOST_API void gifree(void *block);

/* ---- ordered lists ------------------------------------------------------
 * A list handle is the address of the list's first node; null is the empty
 * list. Elements are kept in comparator order; an element comparing equal to
 * existing ones goes after them (a null comparator appends). Nodes come from
 * gimaloc: pplstins returns null when memory fails and the list is then
 * unchanged. pplstfnd calls compare(element, key) and returns the first node
 * in order giving 0. It assumes that the key comparator orders the elements
 * as the list is ordered (the callers pair each insertion comparator with a
 * key comparator of the same order): from 8 elements on a list is indexed
 * (a skip list over its nodes), and the search passes over elements and
 * stops at the first that compares greater than the key; a shorter list is
 * searched whole. An indexed list searched far more often than it changes
 * is searched by halving an ordered copy of its elements that pplstfnd
 * keeps in the index: a list is never searched from two threads at once.
 * pplstdel frees the node (not its element) and returns the new first node,
 * or the list unchanged for a node that is not in it; pplstfre frees all
 * nodes and none of the elements. Insert, find and
 * delete take about log n steps; pplstnxt and pplstgtd one. pplsttrs reads a
 * node's successor before visiting it, so the visitor may release the
 * element. */
PCS_HOST_API void *pplstins(void *list, void *element, PcsCompare compare);
PCS_HOST_API void *pplstfnd(void *list, const void *key, PcsCompare compare);
PCS_HOST_API void *pplstgtd(void *node);
PCS_HOST_API void *pplstnxt(void *node);
PCS_HOST_API void *pplstdel(void *list, void *node);
PCS_HOST_API void pplstfre(void *list);
PCS_HOST_API void pplsttrs(void *list, PcsVisit visit);

/* ---- pointer arrays ------------------------------------------------------
 * pparynew gives n null slots (null for n < 0 or no memory); slots count
 * from 0; pparystr ignores and pparyget answers null for a slot out of
 * range. pparyfre releases the array, not the pointees. */
PCS_HOST_API void *pparynew(int slots);
PCS_HOST_API void pparystr(void *array, int slot, void *pointer);
PCS_HOST_API void *pparyget(void *array, int slot);
PCS_HOST_API int pparysiz(void *array);
PCS_HOST_API void pparyfre(void *array);

/* ---- stacks --------------------------------------------------------------
 * A stack holds entries of one size, given at creation, and is named by a
 * 32-bit handle. Entries are read by number from 1 (the first pushed).
 * Handle 0 is never a stack; a released stack's handle stays invalid.
 * guspop on an empty stack sets *empty != 0 with rc 0 and copies nothing.
 * Result codes of the stack services: */
#define PCS_GUS_BAD_HANDLE 1   /* no open stack has this handle */
#define PCS_GUS_BAD_INDEX 2    /* gusrea: entry number outside 1..count */
#define PCS_GUS_BAD_SIZE 3     /* gusini: entry size below 1 */
#define PCS_GUS_NO_MEMORY 4    /* the stack could not be created or grown */
#define PCS_GUS_BAD_ARGUMENT 5 /* a null pointer where an entry or buffer is due */
/* The stack services: create (gusini), push (guspus, *count the new
 * count), pop (guspop), read entry *index (gusrea), entry size and count
 * (gusinf), empty (gusemp) and release (gusend). */
PCS_HOST_API void gusini(const int *entry_size, int *stack, int *rc);
PCS_HOST_API void guspus(const int *stack, const void *entry, int *count, int *rc);
PCS_HOST_API void guspop(const int *stack, void *buffer, int *empty, int *rc);
PCS_HOST_API void gusrea(const int *stack, const int *index, void *buffer, int *rc);
PCS_HOST_API void gusinf(const int *stack, int *entry_size, int *count, int *rc);
PCS_HOST_API void gusemp(const int *stack, int *rc);
PCS_HOST_API void gusend(const int *stack, int *rc);

/* ---- error reporting -----------------------------------------------------
 * guemod saves the error context in six areas of PCS_GUE_SAVE bytes each;
 * the first receives the current message set name, so that gueuse(first)
 * restores it. gueuse selects a message set; *suppress != 0 tells the caller
 * not to report. guepar gives one text parameter for the next gueror (the
 * text's first *length bytes; a null length: up to its terminator).
 * Error action 0 is quiet: gueuse answers "do not report" and gueror
 * reports nothing. Any other action reports; the action starts at 1. */
#define PCS_GUE_SAVE 8
/* The error services: save the context (guemod), select a message set
 * (gueuse), give a text parameter (guepar), report a code (gueror), swap
 * the error action (gueact) and note a rejected lookup (guerjo). */
PCS_HOST_API void guemod(char *save1, char *save2, char *save3, char *save4, char *save5,
                         char *save6);
PCS_HOST_API void gueuse(const char *message_set, int *suppress);
PCS_HOST_API void guepar(const char *text, const int *length);
PCS_HOST_API void gueror(const int *rc);
PCS_HOST_API void gueact(const int *new_action, int *old_action);
PCS_HOST_API void guerjo(void);

/* ---- string conversion ---------------------------------------------------
 * sufscs: blank-padded field of *width characters -> 0-terminated string
 * (trailing blanks dropped; buffer holds *width + 1 bytes).
 * sucsfs: 0-terminated string -> blank-padded field of *width characters;
 * rc 1 when the string was longer than the field (it is cut).
 * Both give rc 2 for a null pointer or a negative width. */
PCS_HOST_API void sufscs(const char *field, char *buffer, const int *width, int *rc);
PCS_HOST_API void sucsfs(const char *string, char *field, const int *width, int *rc);

#ifdef __cplusplus
}
#endif

#endif
