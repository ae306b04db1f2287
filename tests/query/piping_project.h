// The tables of a piping specification in the in-process host model, for
// the query tests and the benchmarks: the size ranges, the standard, four
// end tables with their flag tables, and the query tables with the flag
// table GPRJMATL of PRJMATL.
#ifndef PCS_TESTS_QUERY_PIPING_PROJECT_H
#define PCS_TESTS_QUERY_PIPING_PROJECT_H

#include <string>
#include <vector>

#include "host/inprocess/model.h"

namespace pcs::pipingtest {

namespace model = pcs::host::model;

inline model::AttributeDef chars(const char *name, int length = 8) {
  return {model::name(name), 'C', length};
}
inline model::AttributeDef number(const char *name) { return {model::name(name), 'I', 4}; }

// Defines the groups and the types PSPEC (owner) and SPCENTRY (entries).
inline void define_spec_tables(model::Model &m) {
  m.define_group("SPCSZRNG", {chars("SIZE1"), chars("SIZE2")});
  m.define_group("PRJSTAND", {chars("STANDARD", 12)});
  m.define_group("PIPESIZE", {chars("SIZE")});
  std::vector<std::string> entry_groups = {"SPCSZRNG", "PRJSTAND"};
  for (int s = 1; s <= 4; ++s) {
    const std::string n = std::to_string(s);
    m.define_group("SPEC00" + n, {chars("RATG"), chars("SCH"), chars("WALL"), chars("ENDS")});
    m.define_group("GEN00" + n, {number("RATG"), number("SCH"), number("WALL"), number("ENDS")});
    entry_groups.push_back("SPEC00" + n);
    entry_groups.push_back("GEN00" + n);
  }
  m.define_group("PRJMATL", {chars("VNDRCOD"), chars("MAINCODE")});
  m.define_group("GPRJMATL", {number("VNDRCOD"), number("MAINCODE")});
  m.define_group("SPCFUNC", {chars("CATEGORY"), chars("FUNCTION"), chars("QRYNUMBR")});
  m.define_group("RHMINSIZ", {chars("MINSIZE")});
  m.define_group("RHMAXSIZ", {chars("MAXSIZE")});
  m.define_group("PRTNAME", {chars("NAME", 12)});
  m.define_group("RHPSOPT", {chars("OPTION")});
  for (const char *g : {"PRJMATL", "GPRJMATL", "SPCFUNC", "RHMINSIZ", "RHMAXSIZ", "PRTNAME", "RHPSOPT"})
    entry_groups.push_back(g);
  m.define_type("PSPEC", {});
  m.define_type("SPCENTRY", entry_groups);
}

// An owner object whose query setup lists the usual tables; its handle.
inline int add_spec_owner(model::Model &m, const std::string &name) {
  model::Object &owner = m.add_object("PSPEC", name);
  std::vector<std::string> &tables = owner.sets[model::name("QRY_DATA")];
  for (const char *t : {"PRJSTAND", "PRJMATL", "SPCFUNC", "RHMINSIZ", "RHMAXSIZ", "PRTNAME"})
    tables.push_back(model::name(t));
  owner.sets[model::name("PRJMATL")] = {model::name("GPRJMATL")};
  return owner.handle;
}

}  // namespace pcs::pipingtest

#endif
