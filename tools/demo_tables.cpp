// The project table part of `pcs demo`: sample weld, branch, end style,
// pipe dimension and encoded dumps converted into table files and loaded
// into the project model, and a piping class created from them.
#include <filesystem>
#include <fstream>
#include <string>

#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tools/command.h"
#include "tools/tables.h"

namespace pcs::tools {
namespace {

namespace model = pcs::host::model;

// The groups and object types the project tables need.
void define_schema() {
  model::Model &m = model::data();
  auto chars = [&](const char *name, int length = 8) { return model::AttributeDef{name, 'C', length}; };
  auto real = [](const char *name) { return model::AttributeDef{name, 'R', 8}; };
  m.define_group("PRJBNAME", {chars("NAME", 40)}, true);
  m.define_group("PRJWRULS", {chars("ENDS1"), chars("ENDS2"), real("WALL1"), real("WALL2"),
                              chars("FABSITE"), chars("WELDTYPE")});
  m.define_group("PRJBRULS", {chars("R_NOD"), chars("B_NOD"), chars("SIZEKEY"), chars("B_FUNC"),
                              chars("ENDS"), chars("PADTYPE")});
  m.define_group("PRJCMPT", {chars("NAME"), chars("STANDRD1"), chars("SPEC1"), chars("STANDRD2"),
                             chars("SPEC2")});
  m.define_group("PIPEDIM", {chars("SIZE"), chars("SCH"), real("OD"), real("WALL")});
  m.define_group("PRJENDS", {chars("ENC_ENDS"), chars("ENDS", 40)});
  m.define_group("PRJSIZE", {chars("ENC_SIZE"), chars("SIZE", 40)});
  m.define_group("SPCDATA", {chars("STANDARD")}, true);
  for (const char *g : {"PRJWNAMS", "PRJBNAMS"}) m.define_group(g, {chars("NAME", 40)});
  m.define_group("PRJFNAMS", {chars("NAME", 40), chars("CATNAME", 40)});
  m.define_type("WLDTABLE", {"PRJBNAME", "PRJWRULS"}, "WELD TABLE");
  m.define_type("BRTABLE", {"PRJBNAME", "PRJBRULS"}, "BRANCH TABLE");
  m.define_type("PROCESS", {"PRJCMPT"});
  m.define_type("STANDARD", {"PIPEDIM", "PRJENDS", "PRJSIZE"});
  m.define_type("PSPEC", {"SPCDATA", "PRJWNAMS", "PRJBNAMS", "PRJFNAMS"}, "PIPING SPEC");
  m.define_type("PIPE", {}, "PIPECAT");
}

void write_text(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::trunc);
  if (!(out << text) || !(out.flush())) fail(path + ": cannot write the sample dump");
}

// The dumps, converted; returns the folder of the table files.
std::string convert_dumps(const std::string &root) {
  const std::string dir = root + "/tables";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/encoded");
  std::filesystem::create_directories(dir + "/CS150");
  write_text(dir + "/weld.dmp", "WELDHEAD\nWELDNTRY BW S 2 3.0 3.0 FW 3.0 5.5 GW\nCTFTBEN\n");
  write_text(dir + "/branch.dmp", "BRNCHEAD\nBRNCNTRY 6 4 TEE BW NONE 0\nCTFTBEN\n");
  write_text(dir + "/ends.dmp", "ESTYHEAD\nESTYNTRY BW SW\nCTFTBEN\n");
  write_text(dir + "/od.dmp", "PIODHEAD\nPIODNTRY 4 114.3\nPIODNTRY 6 168.3\nCTFTBEN\n");
  write_text(dir + "/wall.dmp", "PITHHEAD\nPITHNTRY 4 40 6.02\nPITHNTRY 6 40 7.11\nCTFTBEN\n");
  write_text(dir + "/encoded.dmp",
             "GEOHEAD\nENDNTRY BW, Butt weld\nENDNTRY SW, Socket weld\nNOMNTRY 4, 4 inch\nCTFTBEN\n");
  write_text(dir + "/class.dmp", "* the sample class\nCLASS CLSNAM=CS150 WLDTB=WELD1\n& BRHTB=BRANCH1\n");
  write_text(dir + "/CS150/CS150_PIPE", "");
  int rc = 0;
  auto in = [&](const char *name) { return dir + "/" + name; };
  cgwtcr(in("weld.dmp").c_str(), in("WELD1").c_str(), &rc);
  check_table_call(rc, "convert the weld dump");
  cgbtcr(in("branch.dmp").c_str(), in("BRANCH1").c_str(), &rc);
  check_table_call(rc, "convert the branch dump");
  cgcmptcr(in("ends.dmp").c_str(), in("COMPAT").c_str(), "ASME", &rc);
  check_table_call(rc, "convert the end style dump");
  cgpdtcr(in("wall.dmp").c_str(), in("od.dmp").c_str(), in("PIPEDIM").c_str(), &rc);
  check_table_call(rc, "convert the pipe dimension dumps");
  cgencdec(in("encoded.dmp").c_str(), in("encoded").c_str(), &rc);
  check_table_call(rc, "convert the encoded dump");
  cgclprs(in("class.dmp").c_str(), in("CS150").c_str(), &rc);
  check_table_call(rc, "parse the class map dump");
  return dir;
}

void load_tables(const std::string &dir) {
  const double one = 1.0;
  int rc = 0, stack = 0;
  cgwtcr2((dir + "/WELD1").c_str(), &one, &rc);
  check_table_call(rc, "load the weld table");
  cgbtcr2((dir + "/BRANCH1").c_str(), &rc);
  check_table_call(rc, "load the branch table");
  cgcmtcr2((dir + "/COMPAT").c_str(), &rc);
  check_table_call(rc, "load the compatibility table");
  cgpdtcr2((dir + "/PIPEDIM").c_str(), "ASME", &one, &rc);
  check_table_call(rc, "load the pipe dimensions");
  cgstdcr((dir + "/encoded").c_str(), "ASME", &one, &rc);
  check_table_call(rc, "load the encoded tables");
  cgpscr((dir + "/CS150").c_str(), "ASME", &stack, &rc);
  int ignored = 0;
  if (stack != 0) gusend(&stack, &ignored);
  check_table_call(rc, "create the piping class");
}

std::string joined(const std::vector<std::string> &values) {
  std::string text;
  for (const std::string &v : values) text += (text.empty() ? "" : ", ") + v;
  return text;
}

}  // namespace

void demo_tables(const std::string &root) {
  define_schema();
  const std::string dir = convert_dumps(root);
  std::printf("   converted: WELD1 (%d lines), BRANCH1 (%d), COMPAT (%d), PIPEDIM (%d),\n"
              "   encoded/ENDNTRY (%d), encoded/NOMNTRY (%d), CS150/CLASSMAP (%d)\n",
              count_lines(dir + "/WELD1"), count_lines(dir + "/BRANCH1"),
              count_lines(dir + "/COMPAT"), count_lines(dir + "/PIPEDIM"),
              count_lines(dir + "/encoded/ENDNTRY"), count_lines(dir + "/encoded/NOMNTRY"),
              count_lines(dir + "/CS150/CLASSMAP"));
  load_tables(dir);
  model::Model &m = model::data();
  const model::Object *standard = m.find_object("STANDARD", "ASME");
  const model::Object *spec = m.find_object("PSPEC", "CS150");
  if (!standard || !spec) fail("the loaded tables are not in the project model");
  std::printf("   standard ASME: pipe sizes %s, outside diameters %s mm, end styles %s\n",
              joined(m.column(standard->handle, "PIPEDIM", "SIZE")).c_str(),
              joined(m.column(standard->handle, "PIPEDIM", "OD")).c_str(),
              joined(m.column(standard->handle, "PRJENDS", "ENDS")).c_str());
  std::printf("   piping class CS150: standard %s, weld tables %s, branch tables %s, files %s (%s)\n",
              m.text(spec->handle, "SPCDATA", 1, "STANDARD").c_str(),
              joined(m.column(spec->handle, "PRJWNAMS", "NAME")).c_str(),
              joined(m.column(spec->handle, "PRJBNAMS", "NAME")).c_str(),
              joined(m.column(spec->handle, "PRJFNAMS", "NAME")).c_str(),
              joined(m.column(spec->handle, "PRJFNAMS", "CATNAME")).c_str());
  std::printf("   the class as `pcs model show PSPEC CS150` prints it:\n");
  show_model_object("PSPEC", "CS150");
}

}  // namespace pcs::tools
