// The CSV and JSON Lines forms of catalog rows.
#include "tools/catalog_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "tools/command.h"

namespace pcs::tools {

CsvReader::~CsvReader() { std::free(buffer_); }

namespace {

// The next cell of a record, its text cleared: cells are reused from record
// to record, so their text keeps its room.
Cell &next_cell(std::vector<Cell> *fields, size_t *n) {
  if (*n == fields->size()) fields->emplace_back();
  Cell &cell = (*fields)[(*n)++];
  cell.text.clear();
  return cell;
}

}  // namespace

bool CsvReader::read_line() {
  got_ = getline(&buffer_, &capacity_, stream_);
  if (got_ < 0) return false;
  consumed_ += got_;
  ++line_;
  return true;
}

bool CsvReader::line_end(ssize_t i) const {
  return buffer_[i] == '\n' || (buffer_[i] == '\r' && i + 2 == got_ && buffer_[i + 1] == '\n');
}

bool CsvReader::next(std::vector<Cell> *fields) {
  size_t n = 0;
  if (!read_line()) {
    fields->clear();
    return false;
  }
  first_line_ = line_;
  for (ssize_t i = 0;;) {
    Cell &cell = next_cell(fields, &n);
    if (i < got_ && buffer_[i] == '"') {
      if (!quoted(&cell, &i)) return false;
      if (i < got_ && buffer_[i] != ',' && !line_end(i)) {
        error_ = "text after the closing quote of field " + std::to_string(n);
        return false;
      }
    } else {
      const ssize_t start = i;
      while (i < got_ && buffer_[i] != ',' && !line_end(i)) ++i;
      cell.text.assign(buffer_ + start, static_cast<size_t>(i - start));
      cell.kind = i > start ? Cell::filled : Cell::absent;
    }
    if (i < got_ && buffer_[i] == ',') {
      ++i;
      continue;
    }
    fields->resize(n);
    return true;
  }
}

bool CsvReader::quoted(Cell *cell, ssize_t *at) {
  cell->kind = Cell::filled;
  for (ssize_t i = *at + 1;;) {
    if (i == got_) {
      // A quoted field goes on over the line end.
      if (!read_line()) {
        error_ = "a quoted field opened on line " + std::to_string(first_line_) + " never ends";
        return false;
      }
      i = 0;
      continue;
    }
    const char *quote = static_cast<const char *>(std::memchr(buffer_ + i, '"', static_cast<size_t>(got_ - i)));
    const ssize_t end = quote ? quote - buffer_ : got_;
    cell->text.append(buffer_ + i, static_cast<size_t>(end - i));
    i = end;
    if (i == got_) continue;
    if (i + 1 < got_ && buffer_[i + 1] == '"') {
      cell->text += '"';
      i += 2;
      continue;
    }
    *at = i + 1;
    return true;
  }
}

namespace {

// One JSON value as a cell of a column of type `type` (0: not known).
bool json_cell(const nlohmann::json &value, char type, Cell *cell, std::string *why) {
  if (value.is_null()) {
    *cell = {Cell::blank, ""};
  } else if (value.is_number()) {
    if (type == 'C') {
      *why = "a number where the attribute holds characters (write it as a string)";
      return false;
    }
    *cell = {Cell::filled, value.dump()};
  } else if (value.is_string()) {
    const std::string &text = value.get_ref<const std::string &>();
    if ((type == 'I' || type == 'R') && !text.empty()) {
      *why = "text where the attribute holds numbers (\"" + text + "\")";
      return false;
    }
    *cell = {Cell::filled, text};
  } else {
    *why = "neither a number, a string, null nor a list of them";
    return false;
  }
  return true;
}

}  // namespace

bool json_row(const std::string &line, const Schema &schema, std::vector<Column> *columns,
              std::vector<Cell> *cells, std::string *error) {
  columns->clear();
  cells->clear();
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(line);
  } catch (const nlohmann::json::parse_error &e) {
    *error = "not JSON (the text goes wrong at byte " + std::to_string(e.byte) + ")";
    return false;
  } catch (const nlohmann::json::out_of_range &) {
    *error = kNumberTooLarge;
    return false;
  }
  if (!doc.is_object()) {
    *error = "not a JSON object {\"GROUP.ATTRIBUTE\": value, ...}";
    return false;
  }
  for (const auto &[key, value] : doc.items()) {
    Column column;
    std::string why;
    if (!parse_column(key, &column, &why)) {
      *error = "key " + why;
      return false;
    }
    const ValueType *declared = column.type ? &*column.type : schema.find(column.group, column.attribute);
    const char type = declared ? declared->type : 0;
    const bool list = value.is_array();
    const size_t n = list ? value.size() : 1;
    for (size_t k = 0; k < n; ++k) {
      Cell cell;
      if (!json_cell(list ? value[k] : value, type, &cell, &why)) {
        *error = "key \"" + key + "\"" + (list ? ", value " + std::to_string(k + 1) : "") + ": " + why;
        return false;
      }
      Column numbered = column;
      numbered.index = column.index + static_cast<int>(k);
      columns->push_back(numbered);
      cells->push_back(std::move(cell));
    }
  }
  return true;
}

void csv_text(std::string *out, const std::string &text) {
  // A plain loop: find_first_of searches the set with a call per character.
  const bool plain = std::none_of(text.begin(), text.end(),
                                  [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
  if (plain && !text.empty()) {
    *out += text;
    return;
  }
  *out += '"';
  for (char c : text) {
    if (c == '"') *out += '"';
    *out += c;
  }
  *out += '"';
}

void csv_field(std::string *out, const Shown &value) {
  if (value.kind == Shown::characters) return csv_text(out, value.text);
  *out += value.kind == Shown::blank ? "\"\"" : value.text;
}

void json_string(std::string *out, const std::string &text) {
  static const char kHex[] = "0123456789abcdef";
  *out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += static_cast<char>(c);
    } else if (c < 0x20) {
      *out += "\\u00";
      *out += kHex[c >> 4];
      *out += kHex[c & 15];
    } else {
      *out += static_cast<char>(c);
    }
  }
  *out += '"';
}

void json_value(std::string *out, const Shown &value, char type) {
  if (value.kind == Shown::blank) *out += type == 'C' ? "\"\"" : "null";
  else if (value.kind == Shown::characters) json_string(out, value.text);
  else *out += value.text;
}

bool json_part(std::string *out, const std::vector<Field> &fields, const Schema &schema, std::string *error) {
  *out += '{';
  for (const Field &f : fields) {
    if (out->back() != '{') *out += ',';
    json_string(out, column_name(f.group, f.attribute, 1, written_type(schema, f.group, f.attribute, f.type)));
    *out += ':';
    if (f.values.size() > 1) *out += '[';
    for (size_t k = 0; k < f.values.size(); ++k) {
      if (k > 0) *out += ',';
      const Shown shown = decode_value(reinterpret_cast<const unsigned char *>(f.values[k].data()), f.type);
      if (shown.kind == Shown::characters && f.type.type != 'C') {
        *error = f.group + "." + f.attribute + ": a value of type " + f.type.type + " is not a finite number";
        return false;
      }
      json_value(out, shown, f.type.type);
    }
    if (f.values.size() > 1) *out += ']';
  }
  *out += '}';
  return true;
}

std::string text_part(const std::vector<Field> &fields) {
  std::string out;
  for (const Field &f : fields) {
    std::string line = "  " + f.group + "." + f.attribute;
    line.resize(std::max<size_t>(line.size() + 2, 21), ' ');
    for (size_t k = 0; k < f.values.size(); ++k) {
      const Shown shown = decode_value(reinterpret_cast<const unsigned char *>(f.values[k].data()), f.type);
      line += (k > 0 ? ", " : "") + (shown.kind == Shown::blank ? std::string("(blank)") : shown.text);
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace pcs::tools
