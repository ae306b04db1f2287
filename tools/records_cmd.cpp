// Part record commands: `record-demo` builds a small part record, dumps it to
// standard error and lists its groups and attributes on standard output.
#include <cstdio>
#include <string>

#include "host/host_services.h"
#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

struct DemoAttribute {
  const char *group;
  const char *name;
  int count;
  int length;
  const void *values;
};

const int kNps[2] = {4, 6};
const double kOd[2] = {114.3, 168.3};
const double kWall[2] = {6.02, 7.11};
const double kPoints[6] = {0, 0, 0, 152.4, 0, 0};
const char kStandard[] = "ASME B36.10M        ";  // 20 characters

const DemoAttribute kDemo[] = {
    {"PIPE", "NPS", 2, 4, kNps},
    {"DIMS", "WALL", 2, 8, kWall},
    {"DIMS", "OD", 2, 8, kOd},
    {"GEOM", "ENDS", 2, 24, kPoints},
    {"STD", "NAME", 1, 20, kStandard},
};

void print_attribute(void *element) {
  const auto *attribute = static_cast<const Attribute *>(element);
  std::printf("  %.8s %d x %d bytes\n", attribute->AttrName, attribute->nAttrs,
              attribute->nAttrLength);
}

void print_group(void *element) {
  auto *group = static_cast<AttrGroup *>(element);
  std::printf("group %.8s: %d attribute(s)\n", group->GroupName, group->AttrCount);
  if (group->AttrList) pplsttrs(group->AttrList, print_attribute);
}

void dump_group(void *group) { csgrpdmp(static_cast<const AttrGroup *>(group)); }

void record_demo() {
  PartRecord *record = nullptr;
  int rc = 0;
  cspgcre(&record, &rc);
  if (rc != 0) fail("record-demo: cannot create a part record" + code_text(rc));
  for (const DemoAttribute &a : kDemo) {
    std::string group = name_field(a.group), name = name_field(a.name);
    cspgadd(record, group.c_str(), name.c_str(), a.count, a.length, a.values, &rc);
    if (rc != 0) {
      cspgfre(record);
      fail("record-demo: cannot add " + name + " to group " + group + code_text(rc));
    }
  }
  csgrltrs(record, dump_group);
  std::fflush(stderr);
  std::printf("part record: %d group(s)\n", record->GroupCount);
  csgrltrs(record, print_group);
  cspgfre(record);
}

Register reg([](CLI::App &app) {
  app.add_subcommand("record-demo",
                     "Build a sample part record, dump it to standard error and list its "
                     "groups and attributes")
      ->callback(record_demo);
});

}  // namespace
}  // namespace pcs::tools
