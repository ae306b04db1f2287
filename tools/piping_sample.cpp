// The sample piping specification of the command-line program: specification
// DEMO with a pipe entry over sizes 2 to 6 and an elbow entry over sizes 2
// to 4, their tables and flag tables, and the catalog parts they draw on.
#include <cstdio>
#include <cstring>

#include "host/inprocess/model.h"
#include "tools/command.h"
#include "tools/piping.h"

namespace pcs::tools {

namespace model = host::model;

namespace {

model::AttributeDef text(const char *name, int length = 8) {
  return {model::name(name), 'C', length};
}
model::AttributeDef flag(const char *name) { return {model::name(name), 'I', 4}; }

void define_tables(model::Model &m) {
  std::vector<std::string> groups = {"SPCSZRNG", "PRJSTAND"};
  m.define_group("SPCSZRNG", {text("SIZE1"), text("SIZE2")});
  m.define_group("PRJSTAND", {text("STANDARD")});
  m.define_group("PIPESIZE", {text("SIZE")});
  for (int end = 1; end <= 4; ++end) {
    const std::string n = std::to_string(end);
    m.define_group("SPEC00" + n, {text("RATG"), text("SCH"), text("WALL"), text("ENDS")});
    m.define_group("GEN00" + n, {flag("RATG"), flag("SCH"), flag("WALL"), flag("ENDS")});
    groups.push_back("SPEC00" + n);
    groups.push_back("GEN00" + n);
  }
  m.define_group("PRJMATL", {text("VNDRCOD"), text("MAINCODE")});
  m.define_group("GPRJMATL", {flag("VNDRCOD"), flag("MAINCODE")});
  m.define_group("SPCFUNC", {text("CATEGORY"), text("FUNCTION"), text("QRYNUMBR")});
  m.define_group("RHMINSIZ", {text("MINSIZE")});
  m.define_group("RHMAXSIZ", {text("MAXSIZE")});
  m.define_group("PRTNAME", {text("NAME", 16)});
  for (const char *g : {"PRJMATL", "GPRJMATL", "SPCFUNC", "RHMINSIZ", "RHMAXSIZ", "PRTNAME"})
    groups.push_back(g);
  m.define_type("PSPEC", {});
  m.define_type("SPCENTRY", groups);
}

struct EntryDef {
  const char *label, *element_class, *size1, *size2, *category, *function, *minimum;
  int generic_schedule;
};

void add_entry(model::Model &m, const std::string &spec, const EntryDef &e) {
  model::Object &entry = m.add_object("SPCENTRY", spec + " " + e.label);
  entry.element_class = e.element_class;
  const int h = entry.handle;
  m.add_row(h, "SPCSZRNG", {{"SIZE1", e.size1}, {"SIZE2", e.size2}});
  m.add_row(h, "PRJSTAND", {{"STANDARD", "ASME"}});
  m.add_row(h, "SPEC001", {{"SCH", "40"}, {"ENDS", "BW"}});
  m.add_row(h, "GEN001", {{"SCH", std::to_string(e.generic_schedule)}});
  m.add_row(h, "PRJMATL", {{"VNDRCOD", "V100"}, {"MAINCODE", "CS"}});
  m.add_row(h, "GPRJMATL", {{"VNDRCOD", "1"}, {"MAINCODE", "0"}});
  m.add_row(h, "SPCFUNC", {{"CATEGORY", e.category}, {"FUNCTION", e.function}, {"QRYNUMBR", "1"}});
  m.add_row(h, "RHMINSIZ", {{"MINSIZE", e.minimum}});
  m.add_row(h, "RHMAXSIZ", {{"MAXSIZE", ""}});
}

}  // namespace

void add_sample_specification(model::Model &m) {
  define_tables(m);
  m.setup.ibafr7 = 1;  // the minimum size is checked by cgminsz, not compared
  m.standards[model::name("ASME")][model::name("PRJSIZE")] = {8, {"1", "2", "3", "4", "6", "8"}};
  model::Object &owner = m.add_object("PSPEC", kSampleSpec);
  owner.sets[model::name("QRY_DATA")] = {model::name("PRJSTAND"), model::name("PRJMATL"),
                                         model::name("SPCFUNC"), model::name("RHMINSIZ"),
                                         model::name("RHMAXSIZ"), model::name("PRTNAME")};
  owner.sets[model::name("PRJMATL")] = {model::name("GPRJMATL")};
  add_entry(m, kSampleSpec, {"PIPE", "PIPE", "2", "6", "PIPE", "PIPE", "", 0});
  add_entry(m, kSampleSpec, {"ELBOW", "ELBOW", "2", "4", "FITTING", "ELBOW90", "3", 1});
}

const std::vector<CatalogPartDef> &sample_catalog_parts() {
  static const std::vector<CatalogPartDef> parts = {
      {"PIPE-2-40", "PIPE", "PIPE", "PIPE", "2", "40", "CS"},
      {"PIPE-3-40", "PIPE", "PIPE", "PIPE", "3", "40", "CS"},
      {"PIPE-4-40", "PIPE", "PIPE", "PIPE", "4", "40", "CS"},
      {"PIPE-4-80", "PIPE", "PIPE", "PIPE", "4", "80", "CS"},
      {"PIPE-6-40", "PIPE", "PIPE", "PIPE", "6", "40", "CS"},
      {"PIPE-6-40-SS", "PIPE", "PIPE", "PIPE", "6", "40", "SS"},
      {"ELL-2-40", "ELBOW", "FITTING", "ELBOW90", "2", "40", "CS"},
      {"ELL-3-40", "ELBOW", "FITTING", "ELBOW90", "3", "40", "CS"},
      {"ELL-3-STD", "ELBOW", "FITTING", "ELBOW90", "3", "", "CS"},
      {"ELL-4-80", "ELBOW", "FITTING", "ELBOW90", "4", "80", "CS"},
      {"GATE-3", "VALVE", "VALVE", "GATE", "3", "", "CS"},
  };
  return parts;
}

CgPart make_catalog_part(const CatalogPartDef &d, int *rc) {
  struct Field {
    const char *group, *attribute, *value;
    int length;
  };
  const Field fields[] = {
      {"PARTNUM ", "PARTNO  ", d.number, kPartNumberLength},
      {"ELCLASS ", "AELCLASS", d.element_class, 8},
      {"SPCFUNC ", "QRYNUMBR", "1", 8},
      {"PIPESIZE", "SIZE    ", d.size, 8},
      {"STANDATA", "STANDARD", "ASME", 8},
      {"PARTDEF ", "CATEGORY", d.category, 8},
      {"PARTDEF ", "PARTTYPE", d.type, 8},
      {"ELMMATL ", "MAINCODE", d.material, 8},
  };
  CgPart part = nullptr;
  *rc = 0;
  for (const Field &f : fields) {
    std::string value(f.value);
    value.resize(static_cast<size_t>(f.length), ' ');
    part = cgpradd(value.data(), "C       ", &f.length, f.attribute, f.group, part, rc);
  }
  // Two ends of the same rating, schedule and end style.
  for (const char *attribute : {"SCH     ", "ENDS    "}) {
    std::string value(attribute[0] == 'S' ? d.schedule : "BW");
    value.resize(8, ' ');
    const int length = 8;
    const char *group = std::strcmp(d.category, "PIPE") == 0 ? "PIPESPEC" : "ENDSPEC ";
    for (int end = 0; end < 2; ++end)
      part = cgpradd(value.data(), "C       ", &length, attribute, group, part, rc);
  }
  return part;
}

void spec_demo(const std::string &root) {
  add_sample_specification(model::data());
  // The demo's one project database gets the specification too.
  const std::string project = model::project_path();
  if (model::save(project) != 0) fail(project + ": cannot save the project");
  const std::string generic = root + "/SPECPART";
  FILE *file = std::fopen(generic.c_str(), "wb");
  if (!file) fail(generic + ": cannot create the generic part file");
  for (const CatalogPartDef &d : sample_catalog_parts()) {
    int rc = 0;
    CgPart part = make_catalog_part(d, &rc);
    if (rc == 0) cggput(file, &part, &rc);
    cggfre(part);
    if (rc != 0) fail(generic + ": cannot write catalog part " + d.number + code_text(rc));
  }
  if (std::fclose(file) != 0) fail(generic + ": cannot write the generic part file");
  const Specification spec = open_specification(project, kSampleSpec);
  std::printf("9. piping specification %s, its query parts by entry:\n", kSampleSpec);
  for (const SpecEntry &entry : spec.entries) {
    QueryParts parts;
    fill_entry(spec, entry, &parts);
    std::string sizes;
    for (CgPart part : parts.parts) sizes += (sizes.empty() ? "" : ", ") + size_of(part);
    std::printf("  %-6s sizes %s\n", entry.label.c_str(), sizes.c_str());
  }
  std::printf("10. the catalog parts of $PCS_DEMO/SPECPART (%zu parts) that satisfy them:\n",
              sample_catalog_parts().size());
  SpecOptions o;
  o.spec = kSampleSpec;
  o.project = project;
  o.parts_file = generic;
  print_selected_parts(o);
  std::printf("11. why ELL-4-80 is not an elbow of size 4:\n");
  o.entry = "ELBOW";
  o.size = "4";
  o.part_number = "ELL-4-80";
  print_explanation(o);
}

}  // namespace pcs::tools
