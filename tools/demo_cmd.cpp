// `pcs demo`: the main job on a sample of its own. It writes a catalog of
// sample parts, builds its index, opens it through an environment variable,
// looks every key up, deletes a part, compresses and re-indexes the
// catalog, and keeps a small keyed project table.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/host_test.h"
#include "include/pcs.h"
#include "tools/command.h"
#include "tools/sample.h"

namespace pcs::tool {
namespace {

std::string code_of(int rc) { return host::code_name(rc) + " (" + std::to_string(rc) + ")"; }

void check(int rc, const std::string &what) {
  if (rc != 0) fail(what + ": " + code_of(rc));
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

void print_parts(CatalogHandle *catalog, const std::string &key) {
  int stack = 0, rc = 0;
  csggetm(&catalog, key.c_str(), &stack, &rc);
  check(rc, "look up " + key);
  int size = 0, count = 0;
  gusinf(&stack, &size, &count, &rc);
  for (int k = 1; k <= count; ++k) {
    PartRecord *part = nullptr;
    gusrea(&stack, &k, &part, &rc);
    std::printf("  %s  NPS %d  OD %7.1f mm  wall %5.2f mm\n", key.c_str(),
                int_value(part, "PIPE    ", "NPS     "), real_value(part, "DIMS    ", "OD      "),
                real_value(part, "DIMS    ", "WALL    "));
    csgfree(&part);
  }
  gusend(&stack, &rc);
}

// Opens the catalog through $PCS_DEMO, walks its index key by key and
// prints the parts of each key.
void list_catalog(int *records) {
  CatalogHandle *catalog = nullptr;
  int rc = 0;
  csgopen("rb+     ", "$PCS_DEMO/pipes.cat ", "$PCS_DEMO/pipes.idx ", &catalog, &rc);
  check(rc, "open $PCS_DEMO/pipes.cat");
  std::string key(kSampleKeyLength, ' '), previous;
  int offset = csidxfst(), length = 0, data = 0;
  csailn(&catalog->IndexFile, &length, &rc);
  *records = 0;
  while (cspgread(catalog->IndexFile, offset, &data, key.data(), &rc) > 0) {
    if (key != previous) print_parts(catalog, key);
    previous = key;
    offset += length;
    ++*records;
  }
  std::fclose(catalog->CatalogFile);
  std::fclose(catalog->IndexFile);
  gifree(catalog);
}

void delete_key(const std::string &name) {
  CatalogHandle *catalog = nullptr;
  int rc = 0;
  csgopen("rb+     ", "$PCS_DEMO/pipes.cat ", "$PCS_DEMO/pipes.idx ", &catalog, &rc);
  check(rc, "open $PCS_DEMO/pipes.cat");
  const std::string key = name_field(name, kSampleKeyLength);
  csgdelrc(&catalog, key.c_str(), &rc);
  std::fclose(catalog->CatalogFile);
  std::fclose(catalog->IndexFile);
  gifree(catalog);
  check(rc, "delete " + name);
}

// A keyed project table: wall thickness by nominal size, written, closed,
// reopened and read back by key.
void keyed_table() {
  const std::string name = name_field("$PCS_DEMO/walls.tbl", PCS_KEYED_NAME_LEN);
  const int count = 1, key_length = 4;
  KeyedFile *file = nullptr;
  int mode = 0, rc = 0;
  cspopn(name.c_str(), &count, "WALL    ", "NPS     ", &key_length, &file, &mode, &rc);
  check(rc, "create $PCS_DEMO/walls.tbl");
  for (const SamplePart &s : sample_parts()) {
    KeyedGroup *list = nullptr;
    const int one = 1, int_length = 4, real_length = 8;
    cspcre(&list, &rc);
    cspadd("WALL    ", "NPS     ", &one, &int_length, &s.nps, &list, &rc);
    if (rc == 0) cspadd("WALL    ", "THICK   ", &one, &real_length, &s.wall, &list, &rc);
    if (rc == 0) cspput(&file, &list, &rc);
    cspfre(&list);
    check(rc, "put a wall record");
  }
  cspcls(&file, &rc);
  check(rc, "close $PCS_DEMO/walls.tbl");
  mode = 1;
  cspopn(name.c_str(), &count, "WALL    ", "NPS     ", &key_length, &file, &mode, &rc);
  check(rc, "reopen $PCS_DEMO/walls.tbl");
  const int nps = 6;
  KeyedGroup *list = nullptr;
  cspget(reinterpret_cast<const char *>(&nps), &file, &list, &rc);
  double wall = 0;
  if (rc == 0) cspgtv("WALL    ", "THICK   ", &list, &wall, &rc);
  cspfre(&list);
  int close_rc = 0;
  cspcls(&file, &close_rc);
  check(rc, "read NPS 6 from $PCS_DEMO/walls.tbl");
  std::printf("  NPS 6 -> wall %.2f mm (the last record written for the key replaced the others)\n",
              wall);
}

void run_demo(const std::string &dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) fail(dir + ": cannot make the folder: " + error.message());
  const std::string root = std::filesystem::absolute(dir).string();
  setenv("PCS_DEMO", root.c_str(), 1);
  const std::string catalog = root + "/pipes.cat", index = root + "/pipes.idx";

  std::printf("1. catalog %s: %d bytes, %zu parts\n", catalog.c_str(),
              write_sample_catalog(catalog), sample_parts().size());
  index_sample_catalog(catalog, index);
  std::printf("2. index %s built by PART/NAME (12 characters)\n", index.c_str());
  std::printf("3. parts of every key, through $PCS_DEMO/pipes.idx:\n");
  int records = 0;
  list_catalog(&records);
  delete_key("GASKET");
  int rc = 0;
  cscprs(catalog.c_str(), &rc);
  check(rc, "compress " + catalog);
  index_sample_catalog(catalog, index);
  std::printf("4. GASKET deleted, catalog compressed to %d records and re-indexed:\n",
              csgrn(catalog.c_str()));
  list_catalog(&records);
  std::printf("5. keyed table $PCS_DEMO/walls.tbl:\n");
  keyed_table();
  if (host::memory().live_blocks != 0) fail("memory left behind by the demo");
  std::printf("done: %d index records, no memory left behind\n", records);
}

Register reg([](CLI::App &app) {
  static std::string dir = "pcs-demo";
  auto *demo = app.add_subcommand("demo", "Make a sample catalog and keyed table and work on them");
  demo->add_option("--dir", dir, "Folder for the sample files (made if absent)")
      ->capture_default_str();
  demo->callback([] { run_demo(dir); });
});

}  // namespace
}  // namespace pcs::tool
