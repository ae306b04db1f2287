// The sample parts of the command-line program: a few pipes, fittings,
// flanges, a gasket and a valve, written to a catalog with the library's own
// writer and indexed with its index builder.
#ifndef PCS_TOOLS_SAMPLE_H
#define PCS_TOOLS_SAMPLE_H

#include <string>
#include <vector>

namespace pcs::tools {

// The sample key: attribute NAME of group PART, 12 characters.
inline constexpr int kSampleKeyLength = 12;

struct SamplePart {
  const char *name;
  double od;             // outside diameter, mm
  double wall;           // wall thickness, mm
  int nps;               // nominal pipe size, inches
  const char *number;    // PARTNUM/PARTNO, 40 characters
  const char *category;  // PARTDEF/CATEGORY, 8 characters
  const char *type;      // PARTDEF/PARTTYPE, 8 characters
};

// The sample part's PIPESIZE/SIZE, 8 characters ("4 IN").
std::string sample_size(const SamplePart &part);

const std::vector<SamplePart> &sample_parts();

// Writes every sample part to a new catalog file; returns its size in bytes.
int write_sample_catalog(const std::string &catalog_path);

// Builds the index of a catalog by the sample key.
void index_sample_catalog(const std::string &catalog_path, const std::string &index_path);

}  // namespace pcs::tools

#endif
