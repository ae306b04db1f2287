// Test helpers of the query fill and the part creation: a project with a
// piping specification built in the in-process host model, parts built from
// a compact description, and parts rendered as text.
#ifndef PCS_TESTS_QUERY_PIPING_FIXTURE_H
#define PCS_TESTS_QUERY_PIPING_FIXTURE_H

#include <cstring>
#include <string>
#include <vector>

#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tests/query/piping_project.h"
#include "tests/support/support.h"

namespace pcs::pipingtest {

// One attribute of a hand-built part: group, attribute, type, values (each
// blank-padded to the type's length, or an int for I4), flags (empty: none).
struct PartValue {
  std::string group, attribute, type;
  std::vector<std::string> values;
  std::vector<int> flags;
};

inline CgPart make_part(const std::vector<PartValue> &values) {
  CgPart part = nullptr;
  for (const PartValue &v : values) {
    int length = std::atoi(v.type.c_str() + 1), rc = 0;
    for (size_t k = 0; k < v.values.size(); ++k) {
      std::string bytes = field(v.values[k], size_t(length));
      if (v.type[0] == 'I') {
        int n = std::atoi(v.values[k].c_str());
        bytes.assign(reinterpret_cast<const char *>(&n), 4);
      }
      part = cgpradd(bytes.data(), field(v.type).c_str(), &length, field(v.attribute).c_str(),
                     field(v.group).c_str(), part, &rc);
      EXPECT_EQ(rc, 0);
    }
    if (!v.flags.empty()) {
      CgAttribute *a = cgafnd(field(v.attribute).c_str(),
                              cgagfnd(field(v.group).c_str(), part)->attributes);
      a->genericFlags = static_cast<int32_t *>(gimaloc(v.flags.size() * 4));
      for (size_t k = 0; k < v.flags.size(); ++k) a->genericFlags[k] = v.flags[k];
    }
  }
  return part;
}

// "GROUP[m]" per group ("m" only for match flag 0), then per attribute
// " NAME:type=v|v" with values as characters (I as a number) and "/f,f"
// with the generic flags when there are any; groups end with ";".
inline std::string part_text(const CgGroup *part) {
  std::string out;
  for (const CgGroup *g = part; g; g = g->next) {
    out += std::string(g->name, 8) + (g->matchFlag == 0 ? "[m]" : "");
    for (const CgAttribute *a = g->attributes; a; a = a->next) {
      out += " " + std::string(a->name, 8) + ":" + std::string(a->type, 3) + "=";
      for (int k = 0; k < a->valueCount; ++k) {
        const unsigned char *p = a->values + size_t(k) * size_t(a->valueLength);
        int n = 0;
        if (a->type[0] == 'I') std::memcpy(&n, p, 4);
        out += (k ? "|" : "") + (a->type[0] == 'I' ? std::to_string(n)
                                                   : std::string(reinterpret_cast<const char *>(p),
                                                                 size_t(a->valueLength)));
      }
      for (int k = 0; a->genericFlags && k < a->valueCount; ++k)
        out += (k ? "," : "/") + std::to_string(a->genericFlags[k]);
    }
    out += ";";
  }
  return out;
}

// The parts of a part stack, released with the stack.
inline std::vector<std::string> take_parts(int *stack) {
  std::vector<std::string> texts;
  if (*stack == 0) return texts;
  for (const std::string &entry : model::stack_entries(*stack)) {
    CgPart part;
    std::memcpy(&part, entry.data(), sizeof part);
    texts.push_back(part_text(part));
    cggfre(part);
  }
  int rc = 0;
  gusend(stack, &rc);
  *stack = 0;
  return texts;
}

// A stack of 4-byte ints.
inline int int_stack(const std::vector<int> &values) {
  int stack = 0, rc = 0, count = 0, size = 4;
  gusini(&size, &stack, &rc);
  for (int v : values) guspus(&stack, &v, &count, &rc);
  return stack;
}

// A project with a query setup and two specification entries over the
// standard ASME (project sizes 1, 2, 3, 4, 6, 8):
//  - entry 1 ("PIPE" class, category PIPE): rows (2..4) and (6, blank);
//    it has no RHMINSIZ table and a GPRJMATL flag table;
//  - entry 2 ("GATEVALVE" class, category VALVE): one row (3, 3).
class SpecProject : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    model::clear();
    build(model::data());
  }
  void TearDown() override {
    model::clear();
    HostTest::TearDown();
  }

  void build(model::Model &m) {
    define_spec_tables(m);
    m.standards[model::name("ASME")][model::name("PRJSIZE")] = {8, {"1", "2", "3", "4", "6", "8"}};
    owner_ = add_spec_owner(m, "A1");

    model::Object &pipe = m.add_object("SPCENTRY", "A1 PIPE");
    pipe.element_class = "PIPE";
    pipe_ = pipe.handle;
    m.object(pipe_)->groups.erase(model::name("RHMINSIZ"));
    row(pipe_, "SPCSZRNG", {{"SIZE1", "2"}, {"SIZE2", "4"}});
    row(pipe_, "SPCSZRNG", {{"SIZE1", "6"}, {"SIZE2", ""}});
    for (int r = 0; r < 2; ++r) {
      row(pipe_, "PRJSTAND", {{"STANDARD", "ASME"}});
      row(pipe_, "SPEC001", {{"RATG", r ? "300" : "150"}, {"SCH", r ? "80" : "40"}, {"ENDS", "BW"}});
      row(pipe_, "GEN001", {{"SCH", r ? "0" : "1"}});
      row(pipe_, "PRJMATL", {{"VNDRCOD", r ? "V200" : "V100"}, {"MAINCODE", r ? "SS" : "CS"}});
      row(pipe_, "GPRJMATL", {{"VNDRCOD", "2"}, {"MAINCODE", r ? "0" : "1"}});
      row(pipe_, "SPCFUNC", {{"CATEGORY", "PIPE"}, {"FUNCTION", "PIPE"}, {"QRYNUMBR", r ? "2" : "1"}});
      row(pipe_, "RHMAXSIZ", {{"MAXSIZE", ""}});
      row(pipe_, "PRTNAME", {{"NAME", "PIPE"}});
    }

    model::Object &valve = m.add_object("SPCENTRY", "A1 VALVE");
    valve.element_class = "GATEVALVE";
    valve_ = valve.handle;
    row(valve_, "SPCSZRNG", {{"SIZE1", "3"}, {"SIZE2", "3"}});
    row(valve_, "PRJSTAND", {{"STANDARD", "ASME"}});
    row(valve_, "SPEC001", {{"RATG", "150"}, {"ENDS", "FL"}});
    row(valve_, "PRJMATL", {{"VNDRCOD", "V300"}, {"MAINCODE", "CS"}});
    row(valve_, "SPCFUNC", {{"CATEGORY", "VALVE"}, {"FUNCTION", "GATE"}, {"QRYNUMBR", "1"}});
    row(valve_, "RHMINSIZ", {{"MINSIZE", "2"}});
    row(valve_, "RHMAXSIZ", {{"MAXSIZE", "6"}});
    row(valve_, "PRTNAME", {{"NAME", "GATE VALVE"}});
  }

  void row(int handle, const char *group,
           const std::vector<std::pair<std::string, std::string>> &values) {
    model::data().add_row(handle, group, values);
  }

  int owner_ = 0, pipe_ = 0, valve_ = 0;
};

}  // namespace pcs::pipingtest

#endif
