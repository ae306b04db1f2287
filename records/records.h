// Internal operations of the part records: attribute objects and their
// serialized form, attribute groups and the group list of a part record.
// The public record operations (cspg*, comparators, dumps) are in
// include/pcs.h. Everything here allocates through the host memory service
// and keeps its lists with the host list service (pplst*).
//
// Serialized forms (32-bit big-endian integers), written by csatrwrt and
// csgrpwrt inside a catalog record:
//   attribute: name (8) | nAttrs (4) | nAttrLength (4) | value bytes
//   group:     name (8) | AttrCount n (4) | n attribute offsets (4 each,
//              counted from the start of the record) | the attributes
#ifndef PCS_RECORDS_RECORDS_H
#define PCS_RECORDS_RECORDS_H

#include <cstdio>

#include "host/host_services.h"
#include "include/pcs.h"

namespace pcs::records {

// ---- attributes -----------------------------------------------------------

// Result codes of the attribute and group operations.
inline constexpr int kRecNoMemory = 1;     // csatrnew, csgrpins, csgrlins
inline constexpr int kAttrShortWrite = 2;  // csatrwrt
inline constexpr int kAttrDuplicate = 2;   // csgrpins
inline constexpr int kNoContainer = 3;     // csgrpins, csgrlins: null group/record
inline constexpr int kGroupShortWrite = PCS_RECORD_GROUP_SHORT_WRITE;  // csgrpwrt

// A new attribute holding a copy of `name` (8 raw bytes) and of count*length
// value bytes. A count or length below 1 gives null with *rc 0 (nothing to
// add); no memory gives null with *rc 1. Release with csatrfre.
Attribute *csatrnew(const char *name, int count, int length, const void *values, int *rc);
// Copies all nAttrs * nAttrLength value bytes to `destination`.
void csatrgtv(const Attribute *attribute, void *destination);
// Number of values and value length.
void csatrgtn(const Attribute *attribute, int *count, int *length);
// Copies the 8 name bytes to `destination`.
void csatrgnm(const Attribute *attribute, char *destination);
// Releases the values and the object; null is accepted.
void csatrfre(Attribute *attribute);
// Writes the serialized attribute at the stream's position (through
// pcs::io::write). Returns the bytes written; *rc 0, or 2 when a write fell
// short (the operation stops at the short write).
int csatrwrt(FILE *stream, const Attribute *attribute, int *rc);
// Serialized size, 16 + nAttrs * nAttrLength; 0 for null.
int csatrsiz(const Attribute *attribute);

// ---- attribute groups -----------------------------------------------------

// A new empty group named `name` (copied as strncpy with 8 does), or null
// when memory cannot be obtained.
AttrGroup *csgrpnew(const char *name);
// Inserts `attribute` (the group takes it over on success). *rc: 0 done;
// 1 no memory (list unchanged); 2 an element comparing equal is there
// already; 3 null group.
void csgrpins(AttrGroup *group, Attribute *attribute, int *rc, PcsCompare compare);
// The attribute whose name compares equal to `name`, or null (also for a
// null group or an empty list).
Attribute *csgrpfnd(const AttrGroup *group, const char *name, PcsCompare compare);
// Removes and releases the attribute named `name`; nothing when absent.
void csgrpdel(AttrGroup *group, const char *name, PcsCompare compare);
// Releases the list nodes and the group object, NOT the attributes (run
// DeleteAttribute first). Null is accepted.
void csgrpfre(AttrGroup *group);
// Calls visit(attribute) for each attribute in list order.
void csgrptrs(AttrGroup *group, PcsVisit visit);
// Cursor: csgrpset goes back before the first attribute; csgrpnxt moves to
// the next one and returns it, or null past the end (after which the next
// call starts over at the first).
void csgrpset(AttrGroup *group);
Attribute *csgrpnxt(AttrGroup *group);
// Address of GroupName (not terminated); *length = 8.
char *csgrpgtn(AttrGroup *group, int *length);
int csgrpcnt(const AttrGroup *group);
// Writes the serialized group, which stands at `offset` in its record, at the
// stream's position (through pcs::io::write). Returns the bytes written (the
// group's serialized size on success); *rc 0, or 4 when a write fell short.
int csgrpwrt(AttrGroup *group, int offset, FILE *stream, int *rc);

// ---- group list (the part record) -----------------------------------------

// A new empty record, or null when memory cannot be obtained.
PartRecord *csgrlnew();
// Inserts `group` (the record takes it over on success); no duplicate check.
// *rc: 0 done; 1 no memory (list unchanged); 3 null record.
void csgrlins(PartRecord *record, AttrGroup *group, int *rc, PcsCompare compare);
// The group whose name compares equal to `name`, or null.
AttrGroup *csgrlfnd(const PartRecord *record, const char *name, PcsCompare compare);
// Removes the group named `name` and releases it with its attributes;
// nothing when absent.
void csgrldeg(PartRecord *record, const char *name, PcsCompare compare);
// Cursor over the groups, as csgrpset/csgrpnxt; csgrlgtd returns the group
// at the cursor (null before the first or past the end).
void csgrlset(PartRecord *record);
AttrGroup *csgrlnxt(PartRecord *record);
AttrGroup *csgrlgtd(const PartRecord *record);
// GroupCount.
int csgrlgng(const PartRecord *record);
// Releases the list nodes (not the groups) and resets the record to empty;
// the record object stays usable.
void csgrlfrn(PartRecord *record);
// csgrlfrn, then releases the record object.
void csgrlfre(PartRecord *record);

// Releases every attribute of the group, leaving its list nodes dangling: a
// step of cspgdel only, to be followed at once by csgrpfre.
void DeleteAttribute(AttrGroup *group);

// ---- record operations without reporting ------------------------------------
// The cores of the public cspg* operations: they return the five-digit code
// and report nothing, so callers that report once themselves can use them.

// cspgadd without the report: 0, 20001 or 20002.
int record_add(PartRecord *record, const char *group_name, const char *attr_name, int count,
               int length, const void *values);
// Adds attributes to a record that starts empty as record_add does, with
// the same results, but makes no lookup for a group or attribute whose name
// is above every name in its list: attributes added in name order, as a
// written record holds them, are known to be new.
class RecordAppender {
 public:
  explicit RecordAppender(PartRecord *record);
  int add(const char *group_name, const char *attr_name, int count, int length,
          const void *values);

 private:
  PartRecord *record_;
  AttrGroup *group_ = nullptr;     // the highest group, added last
  Attribute *last_ = nullptr;      // the highest attribute of group_, added last
  bool in_order_;                  // false: every add is a record_add
};

// An attribute looked up by group and attribute name: `attribute` is null
// when rc is 20003 (no group; `missing` is the group name) or 20005 (no
// attribute; `missing` is the attribute name).
struct Lookup {
  Attribute *attribute;
  int rc;
  const char *missing;
};
Lookup record_find(const PartRecord *record, const char *group_name, const char *attr_name);

// cspgdela and cspgdel.
void record_delete_attribute(PartRecord *record, const char *group_name, const char *attr_name);
void record_empty(PartRecord *record);

}  // namespace pcs::records

#endif
