// Shared pieces of the piping specification commands: the specification
// and its entries as the project model holds them, query parts filled per
// entry, value texts, and the options of the commands.
#ifndef PCS_TOOLS_PIPING_H
#define PCS_TOOLS_PIPING_H

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "include/pcs.h"
#include "include/pcs_select.h"

namespace pcs::host::model {
struct Model;
}

namespace pcs::tools {

struct SpecOptions {
  std::string spec, project, parts_file, entry, size, part_number, html;
  bool json = false, force = false;
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
std::string printable(const char *p, size_t n);
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

// The library's selection over a specification and a generic part file, in
// a session of the project; fails the command, in words, on any code.
class Selection {
 public:
  Selection(const Specification &spec, const std::string &parts_file);
  ~Selection();
  Selection(const Selection &) = delete;
  Selection &operator=(const Selection &) = delete;

  struct Part {
    std::string number;
    int position = 0;
    bool selected = false;
  };
  // The sizes of the entry's query parts, in their order.
  std::vector<std::string> sizes(const std::string &entry);
  // The candidates of the query part of the entry and size, each found or
  // rejected, in record position order.
  std::vector<Part> find(const std::string &entry, const std::string &size);
  // The explanation of candidate k (from 1) of the last find.
  nlohmann::json explain(int k);
  // What the explanation of candidate k says in sum, without building it:
  // the checks it failed (values not satisfied, sizes outside a limit) and
  // whether its PIPESIZE group is unsatisfied.
  struct Misses {
    size_t failed = 0;
    bool other_size = false;
  };
  Misses misses(int k);

 private:
  const Specification &spec_;
  PcsSelection *handle_ = nullptr;
  bool session_ = false;
};

// The commands `spec parts` and `spec explain` with these options.
void print_selected_parts(const SpecOptions &o);
void print_explanation(const SpecOptions &o);

// The specification part of `pcs demo` in the folder `root`, whose project
// file the model holds: adds DEMO, writes the generic part file SPECPART
// and shows the query parts, the selected parts and one explanation.
void spec_demo(const std::string &root);

// Adds `spec parts`, `spec explain` (piping_select.cpp) and `spec coverage`.
void add_selection_commands(CLI::App *spec, SpecOptions *o,
                            const std::function<void(CLI::App *)> &common);
// Adds `spec coverage` (piping_coverage.cpp).
void add_coverage_command(CLI::App *spec, SpecOptions *o,
                          const std::function<void(CLI::App *)> &common);

}  // namespace pcs::tools

#endif
