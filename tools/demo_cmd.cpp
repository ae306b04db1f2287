// `pcs demo`: the main job on a sample of its own. It makes a project database
// and a catalog of sample parts, rebuilds the catalog's index files from the
// project setup, opens the catalog through an environment variable, looks
// parts up by part number and by category, deletes a part, compresses and
// re-indexes the catalog, keeps a small keyed project table, turns sample
// table dumps into project tables and a piping class, and finds the parts of
// a query in a generic part file of the sample parts.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "host/inprocess/tools.h"
#include "host/inprocess/model.h"
#include "include/pcs.h"
#include "tools/command.h"
#include "tools/sample.h"
#include "tools/tables.h"
#include "tools/piping.h"

namespace pcs::tools {
namespace {

// Fails with what the demo was doing and the cause of `operation`'s code.
void check(int rc, const char *operation, const std::string &what) {
  if (rc != 0) fail("cannot " + what + cause(operation, rc));
}

double real_value(PartRecord *part, const char *group, const char *attribute) {
  double value = 0;
  int rc = 0;
  csggetv(&part, group, attribute, &value, &rc);
  return rc == 0 ? value : 0;
}

int int_value(PartRecord *part, const char *group, const char *attribute) {
  int value = 0, rc = 0;
  csggetv(&part, group, attribute, &value, &rc);
  return rc == 0 ? value : 0;
}

// A key or name field without its trailing blanks.
std::string field_to_text(std::string field) {
  field.erase(field.find_last_not_of(' ') + 1);
  return field;
}

void print_parts(CatalogHandle *catalog, const std::string &key) {
  int stack = 0, rc = 0;
  csggetm(&catalog, key.c_str(), &stack, &rc);
  check(rc, "csggetm", "look up " + key);
  int size = 0, count = 0;
  gusinf(&stack, &size, &count, &rc);
  for (int k = 1; k <= count; ++k) {
    PartRecord *part = nullptr;
    gusrea(&stack, &k, &part, &rc);
    char name[13] = {};
    int name_rc = 0;
    csggetv(&part, "PART    ", "NAME    ", name, &name_rc);
    std::printf("  %-15s %-11s NPS %d  OD %6.1f mm  wall %5.2f mm\n",
                field_to_text(key).c_str(), field_to_text(name).c_str(), int_value(part, "PIPE    ", "NPS     "),
                real_value(part, "DIMS    ", "OD      "), real_value(part, "DIMS    ", "WALL    "));
    csgfree(&part);
  }
  gusend(&stack, &rc);
}

// The project's catalog: its file and three index files, named as the
// project setup lists them (the catalog first).
const char *const kCatalogNames[] = {"PIPESCAT", "PIPEIDX1", "PIPEIDX2", "PIPEIDX3", "CLASSCAT",
                                     "CLASSIDX", "SYMBCAT ", "SYMBIDX ", "GENPARTS"};

void write_project(const std::string &root) {
  std::vector<std::string> names(std::begin(kCatalogNames), std::end(kCatalogNames));
  const std::string path = root + "/project.db";
  // The catalogs sit beside the database: a copied folder uses its own.
  if (host::tools::create_project(path, ".", names) != 0)
    fail(path + ": cannot write the project: " + host::tools::project_error());
  // The query lookup reads catalog 2, whose third file is the generic part
  // file, and the element class and query number attributes.
  host::model::Model &m = host::model::data();
  m.catalogs.push_back(host::model::Catalog{2, {}});
  for (const char *name : {"PIPESCAT", "PIPEIDX1", "GENPARTS"})
    m.catalogs.back().names.push_back(host::model::name(name));
  m.define_group("ELCLASS", {{host::model::name("AELCLASS"), 'C', 8}});
  m.define_group("SPCFUNC", {{host::model::name("QRYNUMBR"), 'C', 8}});
  if (host::tools::save_project() != 0)
    fail(path + ": cannot write the project: " + host::tools::project_error());
}

void rebuild_indexes() {
  int kind = 0, rc = 0;
  cscprt2(&kind, &rc);
  check(rc, "cscprt2", "rebuild the indexes of the project's part catalog");
}

// Opens the catalog with one of its index files, through $PCS_DEMO.
struct OpenCatalog {
  CatalogHandle *handle = nullptr;
  explicit OpenCatalog(const std::string &index) {
    int rc = 0;
    const std::string index_path = "$PCS_DEMO/" + index + " ";
    csgopen("rb+     ", "$PCS_DEMO/PIPESCAT ", index_path.c_str(), &handle, &rc);
    check(rc, "csgopen", "open $PCS_DEMO/PIPESCAT with " + index);
  }
  ~OpenCatalog() {
    std::fclose(handle->CatalogFile);
    std::fclose(handle->IndexFile);
    gifree(handle);
  }
  OpenCatalog(const OpenCatalog &) = delete;
  OpenCatalog &operator=(const OpenCatalog &) = delete;
};

// Walks the part number index key by key and prints the part of each key;
// returns the number of index records.
int list_catalog() {
  OpenCatalog catalog("PIPEIDX1");
  std::string key(40, ' '), previous;
  int offset = csidxfst(), length = 0, data = 0, rc = 0, records = 0;
  csailn(&catalog.handle->IndexFile, &length, &rc);
  while (cspgread(catalog.handle->IndexFile, offset, &data, key.data(), &rc) > 0) {
    if (key != previous) print_parts(catalog.handle, key);
    previous = key;
    offset += length;
    ++records;
  }
  return records;
}

void delete_part(const std::string &number) {
  OpenCatalog catalog("PIPEIDX1");
  const std::string key = name_field(number, 40);
  int rc = 0;
  csgdelrc(&catalog.handle, key.c_str(), &rc);
  check(rc, "csgdelrc", "delete part " + number);
}

// A keyed project table: wall thickness by nominal size, written, closed,
// reopened and read back by key.
void keyed_table() {
  const std::string name = name_field("$PCS_DEMO/walls.tbl", PCS_KEYED_NAME_LEN);
  const int count = 1, key_length = 4;
  KeyedFile *file = nullptr;
  int mode = 0, rc = 0;
  cspopn(name.c_str(), &count, "WALL    ", "NPS     ", &key_length, &file, &mode, &rc);
  check(rc, "cspopn", "create $PCS_DEMO/walls.tbl");
  for (const SamplePart &s : sample_parts()) {
    KeyedGroup *list = nullptr;
    const int one = 1, int_length = 4, real_length = 8;
    cspcre(&list, &rc);
    cspadd("WALL    ", "NPS     ", &one, &int_length, &s.nps, &list, &rc);
    if (rc == 0) cspadd("WALL    ", "THICK   ", &one, &real_length, &s.wall, &list, &rc);
    if (rc == 0) cspput(&file, &list, &rc);
    cspfre(&list);
    check(rc, "cspput", "put a wall record");
  }
  cspcls(&file, &rc);
  check(rc, "cspcls", "close $PCS_DEMO/walls.tbl");
  mode = 1;
  cspopn(name.c_str(), &count, "WALL    ", "NPS     ", &key_length, &file, &mode, &rc);
  check(rc, "cspopn", "reopen $PCS_DEMO/walls.tbl");
  const int nps = 6;
  KeyedGroup *list = nullptr;
  cspget(reinterpret_cast<const char *>(&nps), &file, &list, &rc);
  double wall = 0;
  if (rc == 0) cspgtv("WALL    ", "THICK   ", &list, &wall, &rc);
  cspfre(&list);
  int close_rc = 0;
  cspcls(&file, &close_rc);
  check(rc, "cspget", "read NPS 6 from $PCS_DEMO/walls.tbl");
  std::printf("  NPS 6 -> wall %.2f mm (the last record written for the key replaced the others)\n",
              wall);
}

// A generic part file of the sample parts (element class: category, query
// number: part type, options: size), then the parts of one query through
// the query catalog (id 2), whose third file is GENPARTS.
void query_parts(const std::string &root) {
  const std::string path = root + "/GENPARTS";
  FILE *file = std::fopen(path.c_str(), "w+b");
  if (!file) fail(path + ": cannot create the generic part file");
  int rc = 0;
  for (const SamplePart &s : sample_parts()) {
    const std::string number = name_field(s.number, 40), category = name_field(s.category),
                      type = name_field(s.type), size = sample_size(s);
    const int eight = 8, forty = 40;
    CgGroup *part = cgpradd(category.data(), "C8      ", &eight, "AELCLASS", "ELCLASS ", nullptr, &rc);
    part = cgpradd(type.data(), "C8      ", &eight, "QRYNUMBR", "SPCFUNC ", part, &rc);
    part = cgpradd(number.data(), "C40     ", &forty, "PARTNO  ", "PARTNUM ", part, &rc);
    part = cgpradd(size.data(), "C8      ", &eight, "OPTIONS ", "TYPEOPTS", part, &rc);
    if (rc == 0) cggput(file, &part, &rc);
    cggfre(part);
    if (rc != 0) break;
  }
  std::fclose(file);
  check(rc, "cggput", "write " + path);
  host::model::data().setup.current_catalog = 2;
  int parts = 0, options = 0;
  pclrdcg("FITTING ", "ELBOW90 ", &parts, &options, &rc);
  host::model::data().setup.current_catalog = 1;
  check(rc, "pclrdcg", "look up the query FITTING ELBOW90");
  int size = 0, count = 0, ignored = 0;
  gusinf(&parts, &size, &count, &ignored);
  for (int k = 1; k <= count; ++k) {
    std::string number(static_cast<size_t>(size), ' '), option(8, ' ');
    gusrea(&parts, &k, number.data(), &ignored);
    gusrea(&options, &k, option.data(), &ignored);
    std::printf("  %-12s options %s\n", field_to_text(number).c_str(), field_to_text(option).c_str());
  }
  gusend(&parts, &ignored);
  gusend(&options, &ignored);
}

// The files the demo writes; it replaces them only in a folder it made
// (marked by kMarker) or with --force.
const char *const kDemoFiles[] = {"project.db", "PIPESCAT", "PIPEIDX1", "PIPEIDX2",
                                  "PIPEIDX3",   "walls.tbl", "GENPARTS", "SPECPART"};
const char kMarker[] = ".pcs-demo";

void claim_folder(const std::string &root, bool force) {
  if (!force && !std::filesystem::exists(root + "/" + kMarker)) {
    for (const char *name : kDemoFiles) {
      if (std::filesystem::exists(root + "/" + name))
        fail(root + "/" + name + ": the file exists and the demo did not make it; give --force "
                                 "to replace it");
    }
  }
  FILE *marker = std::fopen((root + "/" + kMarker).c_str(), "w");
  if (!marker || std::fclose(marker) != 0)
    fail(root + ": cannot write in the folder: " + std::strerror(errno));
}

void run_demo(const std::string &dir, bool force) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) fail(dir + ": cannot make the folder: " + error.message());
  const std::string root = std::filesystem::absolute(dir).lexically_normal().string();
  if (root.size() + 9 > 79) fail(root + ": the folder path is too long for a catalog directory");
  claim_folder(root, force);
  setenv("PCS_DEMO", root.c_str(), 1);
  write_project(root);
  const std::string catalog = root + "/PIPESCAT";
  std::printf("1. project %s/project.db, catalog %s: %d bytes, %zu parts\n", root.c_str(),
              catalog.c_str(), write_sample_catalog(catalog), sample_parts().size());
  rebuild_indexes();
  std::printf("2. index files rebuilt from the project setup: PIPEIDX1 (part number),\n"
              "   PIPEIDX2 (category, type), PIPEIDX3 (category, type, size)\n");
  std::printf("3. every part, by part number through $PCS_DEMO/PIPEIDX1:\n");
  list_catalog();
  std::printf("4. the elbows, by category and type through $PCS_DEMO/PIPEIDX2:\n");
  {
    OpenCatalog by_type("PIPEIDX2");
    print_parts(by_type.handle, name_field("FITTING") + name_field("ELBOW90"));
  }
  delete_part("GSK-SW-6");
  int rc = 0;
  cscprs(catalog.c_str(), &rc);
  check(rc, "cscprs", "compress " + catalog);
  rebuild_indexes();
  std::printf("5. GSK-SW-6 deleted, catalog compressed to %d records and re-indexed:\n",
              csgrn(catalog.c_str()));
  const int records = list_catalog();
  std::printf("6. keyed table $PCS_DEMO/walls.tbl:\n");
  keyed_table();
  std::printf("7. project tables from sample dumps, loaded into the project model:\n");
  demo_tables(root);
  std::printf("8. generic part file $PCS_DEMO/GENPARTS; the parts of query FITTING ELBOW90:\n");
  query_parts(root);
  spec_demo(root);
  if (host::tools::live_blocks() != 0) fail("memory left behind by the demo");
  std::printf("done: %d index records, no memory left behind\n", records);
}

Register reg([](CLI::App &app) {
  static std::string dir = "pcs-demo";
  static bool force = false;
  auto *demo = app.add_subcommand("demo", "Make a sample catalog and keyed table and work on them");
  demo->add_option("--dir", dir, "Folder for the sample files (made if absent)")
      ->capture_default_str();
  demo->add_flag("--force", force, "Replace sample files in a folder the demo did not make");
  demo->callback([] { run_demo(dir, force); });
});

}  // namespace
}  // namespace pcs::tools
