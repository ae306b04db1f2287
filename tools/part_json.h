// The JSON form of a query part (docs/part-json.md) and its text listing.
#ifndef PCS_TOOLS_PART_JSON_H
#define PCS_TOOLS_PART_JSON_H

#include <nlohmann/json.hpp>
#include <string>

#include "include/pcs.h"

namespace pcs::tool {

// A new part built from the JSON form; null with the reason in *error.
CgGroup *part_from_json(const nlohmann::json &doc, std::string *error);
// The part as JSON, groups and attributes in the order of the file they
// were read from (the reverse of the part's chains).
nlohmann::json part_to_json(const CgGroup *part);
// "  group NAME\n    ATTR count x length: "value" ...\n" per group, in
// file order.
std::string part_text(const CgGroup *part);

}  // namespace pcs::tool

#endif
