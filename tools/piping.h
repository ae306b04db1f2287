// Shared pieces of the piping specification commands: the specification
// and its entries as the project model holds them, query parts filled per
// entry, value texts, and the options of the commands.
#ifndef PCS_TOOLS_PIPING_H
#define PCS_TOOLS_PIPING_H

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "include/pcs.h"

namespace pcs::host::model {
struct Model;
}

namespace pcs::tool {

struct SpecOptions {
  std::string spec, project, parts_file, entry, size, part_number;
  bool json = false;
};

// An entry of a specification: object "<SPEC> <label>" of type SPCENTRY.
struct SpecEntry {
  std::string label;
  int handle = 0;
};

// A piping specification: the PSPEC object of that name (it holds the query
// setup) and its entries in handle order.
struct Specification {
  std::string name;
  int owner = 0;
  std::vector<SpecEntry> entries;
};

// Loads the project (the path, or the default project path when empty) and
// finds the specification; fails the command when either is missing.
Specification open_specification(const std::string &project, const std::string &name);

// Parts released with the object.
struct QueryParts {
  std::vector<CgPart> parts;
  QueryParts() = default;
  ~QueryParts();
  QueryParts(const QueryParts &) = delete;
  QueryParts &operator=(const QueryParts &) = delete;
};

// The query parts of one entry (cgqfill); fails the command on a code.
void fill_entry(const Specification &spec, const SpecEntry &entry, QueryParts *out);

// A field without trailing blanks, unprintable bytes as '?'.
std::string trimmed(const char *p, size_t n);
// Value k of an attribute read as type letter `type` (I, R, else text);
// "" when there is no such value.
std::string value_text(const CgAttribute &a, int k, char type);
// PIPESIZE/SIZE of a part, first value.
std::string size_of(CgPart part);

// ---- the sample specification (piping_sample.cpp) -----------------------------

inline constexpr const char *kSampleSpec = "DEMO";
inline constexpr int kPartNumberLength = 16;  // PARTNUM/PARTNO of catalog parts

// A catalog part of the sample: what a generic part file record holds.
struct CatalogPartDef {
  const char *number, *element_class, *category, *type, *size, *schedule, *material;
};

// Adds specification DEMO (tables, flag tables, standard ASME with its
// project sizes, two entries) to the model.
void add_sample_specification(host::model::Model &m);
const std::vector<CatalogPartDef> &sample_catalog_parts();
// The part of a definition (cgpradd); *rc 0 or the code of the failure.
CgPart make_catalog_part(const CatalogPartDef &part, int *rc);

// ---- catalog parts (piping_select.cpp) -------------------------------------

// A generic part file of catalog parts, indexed in memory by element class
// and query number; fails the command when it cannot be read.
class GenericParts {
 public:
  explicit GenericParts(const std::string &path);
  ~GenericParts();
  GenericParts(const GenericParts &) = delete;
  GenericParts &operator=(const GenericParts &) = delete;

  // Record positions of the parts with the query's element class and query
  // number.
  std::vector<int> candidates(CgPart query);
  // Part numbers of the candidates that satisfy the query (comparison and
  // size limits), in the order the index gives them.
  std::vector<std::string> select(CgPart query);
  // The part at a record position (the caller releases it).
  CgPart read(int position);
  // The first part with this part number, or null.
  CgPart find(const std::string &number);

 private:
  std::string path_;
  FILE *file_ = nullptr;
  int keys_ = 0;
  int key_length_ = 0;
};

// PARTNUM/PARTNO of a part, "" when it has none.
std::string part_number(CgPart part);
// True when the catalog part satisfies the query: cgpreql and cgminsz.
bool satisfies(CgPart query, CgPart catalog);

// The commands `spec parts` and `spec explain` with these options.
void print_selected_parts(const SpecOptions &o);
void print_explanation(const SpecOptions &o);

// The specification part of `pcs demo` in the folder `root`, whose project
// file the model holds: adds DEMO, writes the generic part file SPECPART
// and shows the query parts, the selected parts and one explanation.
void spec_demo(const std::string &root);

// Adds `spec parts` and `spec explain` (piping_select.cpp).
void add_selection_commands(CLI::App *spec, SpecOptions *o,
                            const std::function<void(CLI::App *)> &common);

}  // namespace pcs::tool

#endif
