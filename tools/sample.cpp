// The sample catalog of the command-line program.
#include "tools/sample.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "include/pcs.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

PartRecord *sample_part(const SamplePart &s) {
  PartRecord *part = nullptr;
  int rc = 0;
  cspgcre(&part, &rc);
  if (rc != 0) fail("cannot create a part record" + code_text(rc));
  std::string key = name_field(s.name, kSampleKeyLength);
  cspgadd(part, "PART    ", "NAME    ", 1, kSampleKeyLength, key.data(), &rc);
  if (rc == 0) cspgadd(part, "DIMS    ", "OD      ", 1, 8, &s.od, &rc);
  if (rc == 0) cspgadd(part, "DIMS    ", "WALL    ", 1, 8, &s.wall, &rc);
  if (rc == 0) cspgadd(part, "PIPE    ", "NPS     ", 1, 4, &s.nps, &rc);
  const std::string number = name_field(s.number, 40), category = name_field(s.category),
                    type = name_field(s.type), size = sample_size(s);
  if (rc == 0) cspgadd(part, "PARTNUM ", "PARTNO  ", 1, 40, number.data(), &rc);
  if (rc == 0) cspgadd(part, "PARTDEF ", "CATEGORY", 1, 8, category.data(), &rc);
  if (rc == 0) cspgadd(part, "PARTDEF ", "PARTTYPE", 1, 8, type.data(), &rc);
  if (rc == 0) cspgadd(part, "PIPESIZE", "SIZE    ", 1, 8, size.data(), &rc);
  // The stamp that names the part's model object (the duplicate merge
  // deletes that object with the part).
  const std::string stamp = name_field(s.number, 16);
  if (rc == 0) cspgadd(part, "ELCATLOG", "ELTIME  ", 1, 16, stamp.data(), &rc);
  if (rc != 0) {
    cspgfre(part);
    fail("cannot build part " + std::string(s.name) + code_text(rc));
  }
  return part;
}

}  // namespace

const std::vector<SamplePart> &sample_parts() {
  static const std::vector<SamplePart> parts = {
      {"PIPE", 114.3, 6.02, 4, "P-STD-4", "PIPE", "SMLS"},
      {"ELBOW-90", 114.3, 6.02, 4, "E90-LR-4", "FITTING", "ELBOW90"},
      {"TEE", 114.3, 6.02, 4, "TEE-EQ-4", "FITTING", "TEE"},
      {"ELBOW-90", 168.3, 7.11, 6, "E90-LR-6", "FITTING", "ELBOW90"},
      {"FLANGE-WN", 168.3, 7.11, 6, "WN-150-6", "FLANGE", "WN"},
      {"GASKET", 168.3, 3.0, 6, "GSK-SW-6", "GASKET", "SPIRAL"},
      {"VALVE-GATE", 219.1, 8.18, 8, "GATE-150-8", "VALVE", "GATE"},
  };
  return parts;
}

std::string sample_size(const SamplePart &part) {
  return name_field(std::to_string(part.nps) + " IN");
}

int write_sample_catalog(const std::string &catalog_path) {
  FILE *catalog = std::fopen(catalog_path.c_str(), "w+b");
  if (!catalog) fail(catalog_path + ": cannot create the catalog file: " + std::strerror(errno));
  int size = 0;
  for (const SamplePart &s : sample_parts()) {
    PartRecord *part = sample_part(s);
    int rc = 0;
    size += cspgwrt(part, catalog, &rc);
    cspgfre(part);
    if (rc != 0) {
      std::fclose(catalog);
      fail(catalog_path + ": cannot write part " + s.name + code_text(rc));
    }
  }
  if (std::fclose(catalog) != 0) fail(catalog_path + ": cannot write the catalog file: " + std::strerror(errno));
  return size;
}

void index_sample_catalog(const std::string &catalog_path, const std::string &index_path) {
  if (catalog_path.size() > PCS_PATH_MAX || index_path.size() > PCS_PATH_MAX ||
      catalog_path.find(' ') != std::string::npos || index_path.find(' ') != std::string::npos)
    fail(catalog_path + ": paths must be at most 255 characters without blanks");
  int fields = 1, width = kSampleKeyLength, rc = 0;
  const std::string catalog = catalog_path + " ", index = index_path + " ";
  csgbldx(&fields, "PART    ", "NAME    ", &width, catalog.c_str(), index.c_str(), &rc);
  if (rc != 0) fail(index_path + ": cannot build the index" + cause("csgbldx", rc));
}

}  // namespace pcs::tools
