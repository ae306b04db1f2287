// The key records of the index builder and the duplicate merge: the
// record space the key readers fill and the sort by key.
#ifndef PCS_COMMON_KEY_RECORDS_H
#define PCS_COMMON_KEY_RECORDS_H

#include "include/pcs.h"

namespace pcs {

// Key records for `count` source records, each with a zero-filled key
// buffer of key_length + 1 bytes, all in one host block (so FreeRecordSpace
// needs only the array, whatever order the records were sorted into).
// Null when memory cannot be obtained or the size overflows.
KeyRecord *GetRecordSpace(int count, int key_length);
void FreeRecordSpace(KeyRecord *records, int count);
// Key order: unsigned bytes up to the terminating 0, as strcmp.
int compare(const KeyRecord *first, const KeyRecord *second);
// Sorts the first n records by key order; equal keys by record offset, so
// the same source always gives the same index file.
void sort_key_records(KeyRecord *records, int n);
// Moves the keys of the first n records (of a space of `count` made by
// GetRecordSpace) into that space in the records' order, so that the
// sorted keys are read from sequential memory; keys elsewhere, or no
// memory for the move, leave the records as they are.
void pack_record_keys(KeyRecord *records, int count, int n, int key_length);
// sort_key_records, then pack_record_keys; a large set moves its keys one
// half on each thread, into the sort's own work memory, so that the work
// records and a second copy of the keys are never held at once.
void sort_and_pack_key_records(KeyRecord *records, int count, int n, int key_length);

}  // namespace pcs

#endif
