// The JSON form of a query part (docs/part-json.md) and its text listing,
// and the JSON description of a keyed record.
#ifndef PCS_TOOLS_PART_JSON_H
#define PCS_TOOLS_PART_JSON_H

#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "include/pcs.h"

namespace pcs::tools {

// The value length a schema declares for an attribute (group and attribute
// as 8-character fields), or 0 where it declares none.
using DeclaredLength = std::function<int(const std::string &group, const std::string &attribute)>;

// A new part built from the JSON form; null with the reason in *error.
// Names have 1 to 8 characters. A text attribute takes the length the
// schema declares, else the length the JSON gives (required then).
CgGroup *part_from_json(const nlohmann::json &doc, std::string *error,
                        const DeclaredLength &declared);
// A keyed record's group list from its description, [{"group": "PIPE",
// "attributes": [{"name": "SIZE", "length": 4, "values": ["0100"]}]}]: a
// value is blank-padded to the length (0 to 4096), which defaults to the
// longest value. Null with the reason in *error (empty for an empty list).
KeyedGroup *keyed_list_from_json(const nlohmann::json &doc, std::string *error);
// The part as JSON, groups and attributes in the order of the file they
// were read from (the reverse of the part's chains).
nlohmann::json part_to_json(const CgGroup *part);
// "  group NAME\n    ATTR count x length: "value" ...\n" per group, in
// file order.
std::string part_text(const CgGroup *part);

}  // namespace pcs::tools

#endif
