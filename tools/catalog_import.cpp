// `catalog import` appends the parts of a CSV or JSON Lines file to a
// catalog, all of them or none; `catalog export` writes a catalog's parts
// in either form; `catalog list` shows its records one per line.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "include/pcs.h"
#include "tools/catalog_scan.h"
#include "tools/catalog_text.h"
#include "tools/catalog_values.h"
#include "tools/clobber.h"
#include "tools/command.h"
#include "tools/maint.h"
#include "tools/progress.h"

namespace pcs::tools {
namespace {

struct Options {
  std::string catalog, input, output, format, project, index;
  std::vector<std::string> keys;
  bool offsets = false, state = false, force = false;
};
Options options;

// Errors shown before an import gives up.
constexpr size_t kErrorsShown = 10;

std::string format_of(const std::string &format, const std::string &path) {
  if (!format.empty()) return format;
  const std::string extension = std::filesystem::path(path).extension().string();
  if (extension == ".jsonl" || extension == ".json" || extension == ".ndjson") return "jsonl";
  if (extension == ".csv") return "csv";
  fail(path + ": cannot tell the format from the name; give --format csv or --format jsonl", kUsage);
}

int64_t size_of(const std::string &path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : 0;
}

FILE *open_input(const std::string &path) {
  if (path == "-") return stdin;
  FILE *stream = std::fopen(path.c_str(), "rb");
  if (!stream) fail(path + ": cannot open the file: " + std::strerror(errno));
  return stream;
}

// A new file written beside its target and put in its place at commit();
// the target is untouched until then, and the temporary goes when the
// command fails.
class Staged {
 public:
  // With `keep`, the temporary starts as a copy of the target.
  Staged(std::string target, bool keep) : target_(std::move(target)), temp_(target_ + ".pcs-new") {
    std::error_code error;
    // Not append mode: marking a record deleted writes inside the file.
    const bool copied = keep && std::filesystem::exists(target_) &&
                        std::filesystem::copy_file(target_, temp_,
                                                   std::filesystem::copy_options::overwrite_existing, error);
    stream_ = error ? nullptr : std::fopen(temp_.c_str(), copied ? "r+b" : "w+b");
    if (!stream_) {
      const std::string why = error ? error.message() : std::strerror(errno);
      std::remove(temp_.c_str());
      fail(temp_ + ": cannot create the file: " + why);
    }
    std::fseek(stream_, 0, SEEK_END);
    size_ = std::ftell(stream_);
  }
  ~Staged() {
    if (stream_) std::fclose(stream_);
    if (!committed_) std::remove(temp_.c_str());
  }
  FILE *stream() const { return stream_; }
  int64_t size() const { return size_; }
  void grow(int64_t bytes) { size_ += bytes; }
  void commit() {
    const bool written = std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
    const int error = errno;
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    if (!written || !closed) fail(temp_ + ": cannot write the file: " + std::strerror(error));
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
      fail(target_ + ": cannot put the new file in place: " + std::strerror(errno));
    committed_ = true;
  }
  Staged(const Staged &) = delete;
  Staged &operator=(const Staged &) = delete;

 private:
  std::string target_, temp_;
  FILE *stream_ = nullptr;
  int64_t size_ = 0;
  bool committed_ = false;
};

// ---- import -----------------------------------------------------------------

// Encoded records gathered before one large write.
constexpr size_t kWriteBlock = size_t{4} << 20;

struct ImportRun {
  ImportRun(const Schema &s, Staged &o) : schema(s), out(o) {}
  const Schema &schema;
  Staged &out;
  std::vector<std::string> errors;
  long parts = 0, deleted = 0;
  std::vector<unsigned char> block = std::vector<unsigned char>(kWriteBlock);
  size_t filled = 0;

  // Checks a JSON Lines row; appends its part while no row has failed.
  void take(const std::vector<Column> &columns, std::vector<Cell> &cells, const std::string &where) {
    std::vector<std::pair<const Column *, Cell>> pairs;
    pairs.reserve(cells.size());
    for (size_t i = 0; i < cells.size() && i < columns.size(); ++i)
      pairs.emplace_back(&columns[i], std::move(cells[i]));
    Row row;
    std::string error;
    size_t at = 0;
    if (!build_row(pairs, schema, &row, &error, &at)) return note(where + ": " + error);
    if (!errors.empty()) return;
    PartRecord *record = row_record(row, &error);
    if (!record) return note(where + ": " + error);
    append(record, row.deleted, where);
    cspgfre(record);
  }
  // Checks a CSV row; appends its part while no row has failed.
  void take(RowRecords &rows, const std::vector<Column> &columns, const std::vector<Cell> &cells,
            const std::string &path, long line) {
    std::string error;
    size_t at = 0;
    bool gone = false;
    PartRecord *record = rows.build(cells, &gone, &error, &at);
    if (!record)
      return note(where(path, line) + (at < cells.size() ? place(columns, at) : "") + ": " + error);
    if (errors.empty()) append(record, gone, where(path, line));
  }
  static std::string where(const std::string &path, long line) {
    return path + ": line " + std::to_string(line);
  }
  static std::string place(const std::vector<Column> &columns, size_t at) {
    const Column &c = columns[at];
    const std::string name = c.meta.empty() ? column_name(c.group, c.attribute, c.index, c.type) : c.meta;
    return ", column " + std::to_string(at + 1) + " (" + name + ")";
  }
  void note(const std::string &error) {
    if (errors.size() < kErrorsShown) errors.push_back(error);
  }
  // Lays the record after those gathered, writing them out first when the
  // block is full.
  void append(PartRecord *record, bool gone, const std::string &where) {
    int rc = 0;
    const int64_t at = out.size() + static_cast<int64_t>(filled);
    long long length = cspgenc(record, gone, at, block.data() + filled, static_cast<long long>(block.size() - filled), &rc);
    if (rc == 0 && length > static_cast<long long>(block.size() - filled)) {
      flush();
      if (static_cast<size_t>(length) > block.size()) block.resize(static_cast<size_t>(length));
      length = cspgenc(record, gone, at, block.data(), static_cast<long long>(block.size()), &rc);
    }
    if (rc != 0) fail("cannot append the part of " + where + code_text(rc) + "; nothing imported");
    filled += static_cast<size_t>(length);
    ++parts;
    deleted += gone ? 1 : 0;
  }
  void flush() {
    if (filled > 0 && std::fwrite(block.data(), 1, filled, out.stream()) != filled)
      fail(std::string("cannot write the imported parts: ") + std::strerror(errno) + "; nothing imported");
    out.grow(static_cast<int64_t>(filled));
    filled = 0;
  }
};

void read_csv(FILE *in, const std::string &path, ImportRun &run, ProgressBar &bar) {
  CsvReader reader(in);
  std::vector<Cell> header, cells;
  if (!reader.next(&header))
    fail(path + ": " + (reader.error().empty() ? "empty: a header line is needed" : "line 1: " + reader.error()));
  std::vector<Column> columns(header.size());
  for (size_t i = 0; i < header.size(); ++i) {
    std::string error;
    if (!parse_column(header[i].text, &columns[i], &error))
      fail(path + ": line 1, column " + std::to_string(i + 1) + ": " + error);
  }
  RowRecords rows(columns, run.schema);
  while (reader.next(&cells)) {
    if (cells.size() != columns.size())
      run.note(ImportRun::where(path, reader.line()) + ": " + std::to_string(cells.size()) +
               " fields where the header has " + std::to_string(columns.size()));
    else
      run.take(rows, columns, cells, path, reader.line());
    bar.update(reader.consumed());
  }
  if (!reader.error().empty()) run.note(path + ": line " + std::to_string(reader.line()) + ": " + reader.error());
}

void read_jsonl(FILE *in, const std::string &path, ImportRun &run, ProgressBar &bar) {
  char *buffer = nullptr;
  size_t capacity = 0;
  std::vector<Column> columns;
  std::vector<Cell> cells;
  int64_t consumed = 0;
  for (long line = 1;; ++line) {
    const ssize_t got = getline(&buffer, &capacity, in);
    if (got < 0) break;
    consumed += got;
    std::string text(buffer, static_cast<size_t>(got));
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    const std::string where = ImportRun::where(path, line);
    std::string error;
    if (!json_row(text, run.schema, &columns, &cells, &error))
      run.note(where + ": " + error);
    else
      run.take(columns, cells, where);
    bar.update(consumed);
  }
  std::free(buffer);
}

void import_parts(const Options &o) {
  const std::string format = format_of(o.format, o.input);
  const std::vector<KeyField> fields = key_fields(o.keys);
  if (o.index.empty() != fields.empty()) fail("--index and --key go together", kUsage);
  if (!o.index.empty()) check_index_path(o.catalog, o.index, o.force);
  {
    Outputs guard({o.input}, o.force);
    guard.check_in_place(o.catalog);
    if (!o.index.empty()) guard.check_in_place(o.index);
  }
  const Schema schema = Schema::load(o.project);
  FILE *in = open_input(o.input);
  Staged out(o.catalog, true);
  ImportRun run{schema, out};
  {
    ProgressBar bar("importing " + o.input, o.input == "-" ? 0 : size_of(o.input));
    if (format == "csv") read_csv(in, o.input, run, bar);
    else read_jsonl(in, o.input, run, bar);
  }
  const bool unread = std::ferror(in) != 0;
  if (in != stdin) std::fclose(in);
  if (unread) fail(o.input + ": cannot read the file; nothing imported");
  if (run.errors.empty()) run.flush();
  if (!run.errors.empty()) {
    for (const std::string &e : run.errors) std::fprintf(stderr, "pcs: %s\n", e.c_str());
    fail(o.catalog + ": nothing imported (" +
         (run.errors.size() < kErrorsShown ? std::to_string(run.errors.size()) : "at least " + std::to_string(kErrorsShown)) +
         " bad row(s))");
  }
  out.commit();
  const long long bytes = size_of(o.catalog);
  note(o.catalog + ": " + std::to_string(run.parts) + " part(s) imported" +
           (run.deleted ? " (" + std::to_string(run.deleted) + " marked deleted)" : "") + ", " +
           std::to_string(bytes) + " bytes",
       {{"catalog", o.catalog}, {"parts", run.parts}, {"deleted", run.deleted}, {"bytes", bytes}});
  if (!o.index.empty()) {
    write_index(o.catalog, o.index, fields);
    note(o.index + ": index rebuilt", {{"index", o.index}});
  }
  finish_report();
}

// ---- export -----------------------------------------------------------------

// Calls visit(offset, deleted, record) for each record of the catalog in
// file order; deleted records only when `deleted` is set. Fails on damage.
template <class Visit>
void each_record(const std::string &path, bool deleted, Visit &&visit) {
  std::vector<unsigned char> bytes;
  const WalkEnd end = walk_records(path, 16, [&](FILE *stream, const RecordStep &at) {
    if (at.flag != 0 && !deleted) return;
    int length = 0, rc = 0;
    PartRecord *record = nullptr;
    if (at.flag == 0) {
      record = cspgetrc(stream, static_cast<int>(at.offset), &length, &rc);
    } else {
      // A deleted record is read as it would be live: its flag word cleared.
      bytes.resize(static_cast<size_t>(at.length));
      std::fseek(stream, static_cast<long>(at.offset), SEEK_SET);
      if (std::fread(bytes.data(), 1, bytes.size(), stream) == bytes.size()) {
        std::memset(bytes.data() + 4, 0, 4);
        if (FILE *copy = fmemopen(bytes.data(), bytes.size(), "rb")) {
          record = cspgetrc(copy, 0, &length, &rc);
          std::fclose(copy);
        }
      }
    }
    if (!record) fail(path + ": the record at offset " + std::to_string(at.offset) + " is damaged (pcs check shows more)");
    visit(at.offset, at.flag != 0, record);
    cspgfre(record);
  });
  if (end.kind != WalkEnd::clean) fail(path + ": " + end.text());
}

// The columns of a CSV export: each attribute's type and most values.
struct CsvColumn {
  ValueType type;
  int count = 0;
  bool characters = false;  // some record shows it as characters
};
using CsvColumns = std::map<std::pair<std::string, std::string>, CsvColumn>;

// One attribute of a record as cspgvisit finds it.
struct Found {
  const char *group, *name;
  int count, length;
  const unsigned char *values;
};

int collect(void *found, const char *group, const char *attribute, int count, int length,
            const unsigned char *values) {
  static_cast<std::vector<Found> *>(found)->push_back({group, attribute, count, length, values});
  return 0;
}

// The attributes of one record layout: names, as a part record would order
// them (by group, then attribute), the project's type, and what each pass
// of an export keeps about them.
struct Shape {
  std::vector<size_t> order;  // positions in the record, in name order
  std::vector<std::pair<std::string, std::string>> names;  // by position, without blanks
  std::vector<const ValueType *> declared;                 // by position
  std::vector<CsvColumn *> columns;                        // by position
  std::vector<int> at;  // by export column: position, -1 when absent
};

// Walks the records of a catalog by their bytes, each with its shape: the
// attributes a record holds are looked up once per distinct layout.
class RecordShapes {
 public:
  explicit RecordShapes(const Schema &schema) : schema_(schema) {}
  // visit(offset, deleted, found attributes, shape) per record in file
  // order; deleted records only when `deleted` is set. Fails on damage.
  template <class Visit>
  void each(const std::string &path, bool deleted, Visit &&visit) {
    const WalkEnd end = walk_record_bytes(path, 16, [&](const RecordStep &at, const unsigned char *bytes) {
      if (at.flag != 0 && !deleted) return;
      found_.clear();
      if (cspgvisit(bytes, at.length, collect, &found_) != 0) damaged(path, at.offset);
      key_.clear();
      for (const Found &f : found_) key_.append(f.group, PCS_NAME_LEN).append(f.name, PCS_NAME_LEN);
      auto shape = shapes_.find(key_);
      if (shape == shapes_.end()) shape = shapes_.emplace(key_, shape_of(path, at.offset)).first;
      visit(at.offset, at.flag != 0, found_, shape->second);
    });
    if (end.kind != WalkEnd::clean) fail(path + ": " + end.text());
  }

 private:
  [[noreturn]] static void damaged(const std::string &path, int64_t offset) {
    fail(path + ": the record at offset " + std::to_string(offset) + " is damaged (pcs check shows more)");
  }
  Shape shape_of(const std::string &path, int64_t offset) const {
    Shape shape;
    const size_t n = found_.size();
    shape.order.resize(n);
    for (size_t i = 0; i < n; ++i) {
      shape.order[i] = i;
      shape.names.emplace_back(trimmed(found_[i].group, PCS_NAME_LEN), trimmed(found_[i].name, PCS_NAME_LEN));
      shape.declared.push_back(schema_.find(shape.names[i].first, shape.names[i].second));
    }
    auto compare = [&](size_t a, size_t b) {
      const int group = std::strncmp(found_[a].group, found_[b].group, PCS_NAME_LEN);
      return group != 0 ? group : std::strncmp(found_[a].name, found_[b].name, PCS_NAME_LEN);
    };
    std::sort(shape.order.begin(), shape.order.end(), [&](size_t a, size_t b) { return compare(a, b) < 0; });
    // A part record cannot hold one attribute twice: that is damage.
    for (size_t i = 1; i < n; ++i)
      if (compare(shape.order[i - 1], shape.order[i]) == 0) damaged(path, offset);
    shape.columns.assign(n, nullptr);
    return shape;
  }

  const Schema &schema_;
  std::map<std::string, Shape> shapes_;
  std::vector<Found> found_;
  std::string key_;
};

// The type values of `f` show as in a record: the project's when it
// declares the attribute at this length, else the guessed one.
char shown_type(const Found &f, const ValueType *declared) {
  return declared && declared->length == f.length ? declared->type : guess_type(f.values, f.count, f.length);
}

CsvColumns csv_columns(const Options &o, const Schema &schema, RecordShapes &shapes) {
  CsvColumns columns;
  shapes.each(o.catalog, o.state, [&](int64_t offset, bool, const std::vector<Found> &found, Shape &shape) {
    for (size_t i : shape.order) {
      const Found &f = found[i];
      CsvColumn *&c = shape.columns[i];
      if (!c)
        c = &columns.try_emplace(shape.names[i], CsvColumn{{shown_type(f, shape.declared[i]), f.length}, 0, false})
                 .first->second;
      if (c->type.length != f.length)
        fail(o.catalog + ": record at offset " + std::to_string(offset) + ": " + shape.names[i].first + "." +
             shape.names[i].second + " has values of " + std::to_string(f.length) + " bytes, other records " +
             std::to_string(c->type.length) + ": a CSV column has one length; export as JSON Lines");
      c->count = std::max(c->count, f.count);
      c->characters = c->characters || shown_type(f, shape.declared[i]) == 'C';
    }
  });
  for (auto &[name, c] : columns)
    if (c.characters && !schema.find(name.first, name.second)) c.type.type = 'C';
  return columns;
}

void check_shown(const Shown &shown, ValueType type, const std::string &catalog, int64_t offset) {
  if (shown.kind == Shown::characters && type.type != 'C')
    fail(catalog + ": record at offset " + std::to_string(offset) + ": a value of type " +
         std::string(1, type.type) + " is not a finite number");
}

// The header line of a CSV export.
std::string csv_header(const Options &o, const Schema &schema, const CsvColumns &columns) {
  std::string text;
  const char *comma = "";
  if (o.offsets) text += "@offset", comma = ",";
  if (o.state) text += std::string(comma) + "@state", comma = ",";
  for (const auto &[name, c] : columns)
    for (int k = 1; k <= c.count; ++k) {
      text += comma;
      csv_text(&text, column_name(name.first, name.second, k, k == 1 ? written_type(schema, name.first, name.second, c.type) : std::nullopt));
      comma = ",";
    }
  return text + '\n';
}

// Writes text once it has grown past a large block (all of it with `all`).
void write_out(std::string *text, FILE *out, bool all) {
  if (!all && text->size() < (size_t{1} << 20)) return;
  std::fwrite(text->data(), 1, text->size(), out);
  text->clear();
}

long export_csv(const Options &o, const Schema &schema, RecordShapes &shapes, const CsvColumns &columns,
                FILE *out) {
  std::vector<const CsvColumn *> order;
  std::vector<std::pair<std::string, std::string>> names;
  for (const auto &[name, c] : columns) order.push_back(&c), names.push_back(name);
  std::string text = csv_header(o, schema, columns);
  long parts = 0;
  shapes.each(o.catalog, o.state, [&](int64_t offset, bool deleted, const std::vector<Found> &found, Shape &shape) {
    if (shape.at.empty()) {
      shape.at.assign(order.size(), -1);
      for (size_t i = 0; i < shape.names.size(); ++i)
        if (auto c = std::lower_bound(names.begin(), names.end(), shape.names[i]); c != names.end() && *c == shape.names[i])
          shape.at[static_cast<size_t>(c - names.begin())] = static_cast<int>(i);
    }
    const char *comma = "";
    if (o.offsets) text += std::to_string(offset), comma = ",";
    if (o.state) text += std::string(comma) + (deleted ? "deleted" : "live"), comma = ",";
    for (size_t col = 0; col < order.size(); ++col) {
      const CsvColumn &c = *order[col];
      const Found *f = shape.at[col] < 0 ? nullptr : &found[static_cast<size_t>(shape.at[col])];
      // The file changed since the column pass: the values no longer fit.
      if (f && f->length != c.type.length)
        fail(o.catalog + ": record at offset " + std::to_string(offset) + " changed during the export");
      for (int k = 0; k < c.count; ++k) {
        text += comma;
        comma = ",";
        if (!f || k >= f->count) continue;
        const Shown shown = decode_value(f->values + static_cast<size_t>(k) * static_cast<size_t>(f->length), c.type);
        check_shown(shown, c.type, o.catalog, offset);
        csv_field(&text, shown);
      }
    }
    text += '\n';
    ++parts;
    write_out(&text, out, false);
  });
  write_out(&text, out, true);
  return parts;
}

long export_jsonl(const Options &o, const Schema &schema, FILE *out) {
  std::string text;
  long parts = 0;
  each_record(o.catalog, o.state, [&](int64_t offset, bool deleted, PartRecord *record) {
    std::string part, error;
    if (!json_part(&part, record_fields(record, schema), schema, &error))
      fail(o.catalog + ": record at offset " + std::to_string(offset) + ": " + error);
    std::string meta;
    if (o.offsets) meta += "\"@offset\":" + std::to_string(offset);
    if (o.state) meta += std::string(meta.empty() ? "" : ",") + "\"@state\":\"" + (deleted ? "deleted" : "live") + "\"";
    if (meta.empty()) text += part;
    else text += "{" + meta + (part == "{}" ? "}" : "," + part.substr(1));
    text += '\n';
    ++parts;
    write_out(&text, out, false);
  });
  write_out(&text, out, true);
  return parts;
}

void export_parts(const Options &o) {
  const std::string format = o.output.empty() && o.format.empty() ? "jsonl" : format_of(o.format, o.output);
  const Schema schema = Schema::load(o.project);
  RecordShapes shapes(schema);
  CsvColumns columns;
  if (format == "csv") columns = csv_columns(o, schema, shapes);
  if (!o.output.empty()) Outputs({o.catalog, o.project}, o.force).check(o.output);
  std::unique_ptr<Staged> file;
  if (!o.output.empty()) file = std::make_unique<Staged>(o.output, false);
  FILE *out = file ? file->stream() : stdout;
  const long parts = format == "csv" ? export_csv(o, schema, shapes, columns, out) : export_jsonl(o, schema, out);
  if (file) {
    file->commit();
    std::fprintf(stderr, "pcs: %s: %ld part(s) exported to %s\n", o.catalog.c_str(), parts, o.output.c_str());
  } else if (std::fflush(stdout) != 0) {
    fail("cannot write to standard output: " + std::string(std::strerror(errno)));
  }
}

// ---- list -------------------------------------------------------------------

// Keys by record offset from an index file.
std::map<int64_t, std::string> index_keys(const std::string &path) {
  FILE *index = std::fopen(path.c_str(), "rb");
  if (!index) fail(path + ": cannot open the file: " + std::strerror(errno));
  int r = 0, rc = 0;
  csailn(&index, &r, &rc);
  if (rc != 0) {
    std::fclose(index);
    fail(path + ": not an index file (its header does not match its size)");
  }
  const int k = r - PCS_INDEX_OVERHEAD;
  std::map<int64_t, std::string> keys;
  std::vector<char> key(static_cast<size_t>(k));
  for (int at = PCS_INDEX_HEADER;; at += r) {
    int data = 0;
    const int count = cspgread(index, at, &data, key.data(), &rc);
    if (rc != 0 || count == 0) break;
    keys[data] = std::string(key.data(), key.size());
  }
  std::fclose(index);
  return keys;
}

void list_records(const Options &o) {
  std::map<int64_t, std::string> keys;
  const bool keyed = !o.index.empty() || !o.keys.empty();
  if (!o.index.empty()) {
    keys = index_keys(o.index);
  } else if (!o.keys.empty()) {
    for (const KeyedRecord &r : scan_keys(o.catalog, key_fields(o.keys), false).records) keys[r.offset] = r.key;
  }
  nlohmann::json all = nlohmann::json::array();
  long live = 0, deleted = 0;
  const WalkEnd end = walk_records(o.catalog, 16, [&](FILE *, const RecordStep &at) {
    const char *state = at.flag == 0 ? "live" : "deleted";
    (at.flag == 0 ? live : deleted)++;
    auto key = keys.find(at.offset);
    if (json_output()) {
      nlohmann::json line = {{"offset", at.offset}, {"length", at.length}, {"state", state}};
      if (keyed) line["key"] = key == keys.end() ? nlohmann::json() : nlohmann::json(key->second);
      all.push_back(line);
    } else {
      std::printf("%10lld %8d %-7s", static_cast<long long>(at.offset), at.length, state);
      if (keyed && key != keys.end()) std::printf("  %s", key->second.c_str());
      std::printf("\n");
    }
  });
  if (json_output()) print_json(all);
  else std::printf("%ld live, %ld deleted record(s)\n", live, deleted);
  if (end.kind != WalkEnd::clean) fail(o.catalog + ": " + end.text());
}

void add_project(CLI::App *command, Options &o) {
  command->add_option("--project", o.project,
                      "Project database whose schema types the values (default: $PCS_PROJECT or "
                      "./project.db when it exists)");
}

}  // namespace

void add_catalog_io_commands(CLI::App *catalog) {
  Options &o = options;
  CLI::App *in = catalog->add_subcommand(
      "import",
      "Append the parts of a CSV or JSON Lines file to a catalog: every row is checked first, "
      "then all are added or none");
  in->add_option("catalog", o.catalog, "Catalog file (made when absent)")->required();
  in->add_option("input", o.input, "CSV or JSON Lines file, or - for standard input")->required();
  in->add_option("--format", o.format, "csv or jsonl (default: from the input's extension)")
      ->check(CLI::IsMember({"csv", "jsonl"}));
  add_project(in, o);
  in->add_option("--index", o.index, "Index file to rebuild after the import");
  in->add_option("-k,--key", o.keys, "Key field of --index, GROUP.ATTR:LENGTH, in key order");
  in->add_flag("--force", o.force, "Replace an --index file that is not an index");
  add_json_flag(in);
  in->callback([] { import_parts(options); });

  CLI::App *out = catalog->add_subcommand("export", "Write the parts of a catalog as CSV or JSON Lines");
  out->add_option("catalog", o.catalog, "Catalog file")->required();
  out->add_option("-o,--output", o.output, "File to write (default: standard output)");
  out->add_option("--format", o.format, "csv or jsonl (default: from the output's extension, else jsonl)")
      ->check(CLI::IsMember({"csv", "jsonl"}));
  add_project(out, o);
  out->add_flag("--force", o.force, "Replace an existing output file");
  out->add_flag("--offsets", o.offsets, "Add each record's offset (@offset)");
  out->add_flag("--state", o.state, "Add deleted records too, with each record's state (@state)");
  out->callback([] { export_parts(options); });

  CLI::App *list = catalog->add_subcommand("list", "Show the records of a catalog: offset, length, state, key");
  list->add_option("catalog", o.catalog, "Catalog file")->required();
  list->add_option("--index", o.index, "Show each record's key from this index");
  list->add_option("-k,--key", o.keys, "Show each live record's key of these fields, GROUP.ATTR:LENGTH");
  add_json_flag(list);
  list->callback([] { list_records(options); });
}

}  // namespace pcs::tools
