// The JSON form of query parts for the command-line program: groups of
// attributes whose values are texts (blank-padded), numbers of type I or R
// (null when blank), or raw bytes in hexadecimal.
#include "tools/part_json.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "tools/catalog_values.h"
#include "tools/command.h"

namespace pcs::tools {
namespace {

std::string hex_of(const unsigned char *bytes, size_t n) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    out += two;
  }
  return out;
}

std::string bytes_of_hex(const std::string &hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd number of hex digits");
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// One value's bytes by the attribute's type letter.
std::string value_bytes(const nlohmann::json &value, char type, int length) {
  std::string bytes;
  if (value.is_null()) {
    bytes = std::string(static_cast<size_t>(length), ' ');
  } else if (value.is_object()) {
    bytes = bytes_of_hex(value.at("hex").get<std::string>());
  } else if (type == 'I') {
    const int32_t number = value.get<int32_t>();
    bytes.assign(reinterpret_cast<const char *>(&number), 4);
  } else if (type == 'R') {
    const double number = value.get<double>();
    bytes.assign(reinterpret_cast<const char *>(&number), 8);
  } else {
    bytes = value.get<std::string>();
  }
  if (static_cast<int>(bytes.size()) > length) throw std::runtime_error("a value is longer than its length");
  return name_field(bytes, static_cast<size_t>(length));
}

// A group or attribute name as its 8-character field; never cut.
std::string name_of(const nlohmann::json &text, const char *what) {
  const std::string name = text.get<std::string>();
  if (name.empty() || name.size() > PCS_NAME_LEN)
    throw std::runtime_error(std::string(what) + " name \"" + name + "\" must have 1 to 8 characters");
  return name_field(name);
}

std::string plain(const std::string &field) { return field.substr(0, field.find_last_not_of(' ') + 1); }

// The "length" of an attribute, `absent` when it has none; a length that
// is not a whole number from 0 to 4096 fails.
int length_of(const nlohmann::json &a, int absent) {
  const auto found = a.find("length");
  if (found == a.end()) return absent;
  if (!found->is_number_integer()) throw std::runtime_error("a length that is not a whole number");
  const int64_t length = found->get<int64_t>();
  if (length < 0 || length > 4096) throw std::runtime_error("a length outside 0..4096");
  return static_cast<int>(length);
}

// The value length: the schema's where it declares the attribute (an
// explicit length must agree), else the explicit one; numbers have theirs.
int value_length(const nlohmann::json &a, char type, const std::string &group,
                 const std::string &name, const DeclaredLength &declared) {
  const int schema = declared ? declared(group, name) : 0;
  const int fixed = type == 'I' ? 4 : type == 'R' ? 8 : 0;
  const int given = length_of(a, 0);
  if (schema > 0 && given > 0 && given != schema)
    throw std::runtime_error(plain(name) + " has length " + std::to_string(given) +
                             ", the project declares " + std::to_string(schema));
  const int length = schema > 0 ? schema : given > 0 ? given : fixed;
  if (length == 0)
    throw std::runtime_error(plain(name) + " needs its length: the project does not declare " +
                             plain(group) + "." + plain(name));
  if (length < 1 || length > 4096) throw std::runtime_error("a length outside 1..4096");
  return length;
}

void add_attribute(const nlohmann::json &a, const std::string &group, CgGroup **part,
                   const DeclaredLength &declared) {
  const std::string type_text = a.value("type", std::string("C"));
  const char type = type_text.empty() ? 'C' : type_text[0];
  const auto &values = a.at("values");
  if (!values.is_array() || values.empty()) throw std::runtime_error("an attribute needs values");
  const std::string name = name_of(a.at("name"), "attribute");
  int length = value_length(a, type, group, name, declared);
  const std::string type_field = name_field(std::string(1, type) + std::to_string(length));
  int rc = 0;
  for (const auto &v : values) {
    const std::string bytes = value_bytes(v, type, length);
    *part = cgpradd(bytes.data(), type_field.c_str(), &length, name.c_str(), group.c_str(), *part, &rc);
    if (rc != 0) throw std::runtime_error("no memory" + code_text(rc));
  }
}

bool printable(const unsigned char *bytes, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (bytes[i] < 32 || bytes[i] > 126) return false;
  return true;
}

template <class T>
std::vector<const T *> file_order(const T *first) {
  std::vector<const T *> out;
  for (const T *item = first; item; item = item->next) out.insert(out.begin(), item);
  return out;
}

const unsigned char *value_at(const CgAttribute *a, int k) {
  return a->values + static_cast<size_t>(k) * static_cast<size_t>(a->valueLength);
}

// The values of an attribute as its type shows them: numbers (null when
// blank) for the I and R values guess_type sees, texts when printable, else
// {"hex": ...}. *type is the type letter.
nlohmann::json typed_values(const CgAttribute *a, char *type) {
  *type = guess_type(a->values, a->valueCount, a->valueLength);
  nlohmann::json values = nlohmann::json::array();
  const auto n = static_cast<size_t>(a->valueLength);
  for (int k = 0; k < a->valueCount; ++k) {
    const unsigned char *v = value_at(a, k);
    const Shown shown = decode_value(v, {*type, a->valueLength});
    if (*type != 'C' && shown.kind == Shown::blank)
      values.push_back(nullptr);
    else if (shown.kind == Shown::integer)
      values.push_back(std::stoll(shown.text));
    else if (shown.kind == Shown::real)
      values.push_back(std::stod(shown.text));
    else if (printable(v, n))
      values.push_back(std::string(reinterpret_cast<const char *>(v), n));
    else
      values.push_back({{"hex", hex_of(v, n)}});
  }
  return values;
}

}  // namespace

CgGroup *part_from_json(const nlohmann::json &doc, std::string *error,
                        const DeclaredLength &declared) {
  CgGroup *part = nullptr;
  try {
    if (!doc.is_array() || doc.empty()) throw std::runtime_error("a part is a list of groups");
    for (const auto &g : doc) {
      const std::string group = name_of(g.at("group"), "group");
      for (const auto &a : g.at("attributes")) add_attribute(a, group, &part, declared);
    }
    return part;
  } catch (const std::exception &e) {
    cggfre(part);
    *error = json_reason(e);
    return nullptr;
  }
}

KeyedGroup *keyed_list_from_json(const nlohmann::json &doc, std::string *error) {
  KeyedGroup *list = nullptr;
  try {
    // cspadd puts new groups and attributes first: add them back to front.
    for (auto g = doc.rbegin(); g != doc.rend(); ++g) {
      std::string group = name_field(g->at("group").get<std::string>());
      const auto &attributes = g->at("attributes");
      for (auto a = attributes.rbegin(); a != attributes.rend(); ++a) {
        auto values = a->at("values").get<std::vector<std::string>>();
        size_t longest = 0;
        for (const std::string &v : values) longest = std::max(longest, v.size());
        int length = length_of(*a, static_cast<int>(std::min<size_t>(longest, 4097)));
        if (length > 4096) throw std::runtime_error("a value longer than 4096 characters");
        std::string bytes;
        for (const std::string &v : values) bytes += name_field(v, static_cast<size_t>(length));
        std::string name = name_field(a->at("name").get<std::string>());
        int count = static_cast<int>(values.size()), rc = 0;
        cspadd(group.c_str(), name.c_str(), &count, &length, bytes.data(), &list, &rc);
        if (rc != 0) throw std::runtime_error("cannot add " + name + code_text(rc));
      }
    }
  } catch (const std::exception &e) {
    cspfre(&list);
    *error = json_reason(e);
  }
  return list;
}

nlohmann::json part_to_json(const CgGroup *part) {
  nlohmann::json doc = nlohmann::json::array();
  for (const CgGroup *g : file_order(part)) {
    nlohmann::json attributes = nlohmann::json::array();
    for (const CgAttribute *a : file_order(g->attributes)) {
      char type = 'C';
      nlohmann::json values = typed_values(a, &type);
      attributes.push_back({{"name", plain(std::string(a->name, strnlen(a->name, 8)))}});
      if (type != 'C') attributes.back()["type"] = std::string(1, type);
      attributes.back()["length"] = a->valueLength;
      attributes.back()["values"] = std::move(values);
    }
    doc.push_back({{"group", plain(std::string(g->name, 8))}, {"attributes", attributes}});
  }
  return doc;
}

std::string part_text(const CgGroup *part) {
  std::string out;
  char line[64];
  for (const CgGroup *g : file_order(part)) {
    out += "  group " + std::string(g->name, 8) + "\n";
    for (const CgAttribute *a : file_order(g->attributes)) {
      std::snprintf(line, sizeof line, "    %.8s %d x %d:", a->name, a->valueCount, a->valueLength);
      out += line;
      char type = 'C';
      for (const nlohmann::json &value : typed_values(a, &type)) {
        out += ' ';
        if (value.is_object())
          out.append("0x").append(value.at("hex").get<std::string>());
        else
          out += value.is_null() ? std::string("blank") : value.dump();
      }
      out += "\n";
    }
  }
  return out;
}

}  // namespace pcs::tools
