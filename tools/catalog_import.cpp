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

struct ImportRun {
  const Schema &schema;
  Staged &out;
  std::vector<std::string> errors;
  long parts = 0, deleted = 0;

  // Checks a row; appends its part while no row has failed.
  void take(const std::vector<Column> &columns, std::vector<Cell> &cells,
            const std::string &where, bool csv) {
    std::vector<std::pair<const Column *, Cell>> pairs;
    pairs.reserve(cells.size());
    for (size_t i = 0; i < cells.size() && i < columns.size(); ++i)
      pairs.emplace_back(&columns[i], std::move(cells[i]));
    Row row;
    std::string error;
    size_t at = 0;
    if (!build_row(pairs, schema, &row, &error, &at))
      return note(where + (at < pairs.size() ? place(columns, at, csv) : "") + ": " + error);
    if (!errors.empty()) return;
    PartRecord *record = row_record(row, &error);
    if (!record) return note(where + ": " + error);
    int rc = 0;
    const int64_t start = out.size();
    const int written = cspgwrt(record, out.stream(), &rc);
    cspgfre(record);
    if (rc == 0 && row.deleted) cspdelrc(out.stream(), static_cast<int>(start), &rc);
    if (rc != 0) fail("cannot append the part of " + where + code_text(rc) + "; nothing imported");
    out.grow(written);
    ++parts;
    deleted += row.deleted ? 1 : 0;
  }
  static std::string place(const std::vector<Column> &columns, size_t at, bool csv) {
    const Column &c = columns[at];
    const std::string name = c.meta.empty() ? column_name(c.group, c.attribute, c.index, c.type) : c.meta;
    return csv ? ", column " + std::to_string(at + 1) + " (" + name + ")" : "";
  }
  void note(const std::string &error) {
    if (errors.size() < kErrorsShown) errors.push_back(error);
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
  while (reader.next(&cells)) {
    const std::string where = path + ": line " + std::to_string(reader.line());
    if (cells.size() != columns.size())
      run.note(where + ": " + std::to_string(cells.size()) + " fields where the header has " +
               std::to_string(columns.size()));
    else
      run.take(columns, cells, where, true);
    bar.update(std::ftell(in));
  }
  if (!reader.error().empty()) run.note(path + ": line " + std::to_string(reader.line()) + ": " + reader.error());
}

void read_jsonl(FILE *in, const std::string &path, ImportRun &run, ProgressBar &bar) {
  char *buffer = nullptr;
  size_t capacity = 0;
  std::vector<Column> columns;
  std::vector<Cell> cells;
  for (long line = 1;; ++line) {
    const ssize_t got = getline(&buffer, &capacity, in);
    if (got < 0) break;
    std::string text(buffer, static_cast<size_t>(got));
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    const std::string where = path + ": line " + std::to_string(line);
    std::string error;
    if (!json_row(text, run.schema, &columns, &cells, &error))
      run.note(where + ": " + error);
    else
      run.take(columns, cells, where, false);
    bar.update(std::ftell(in));
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
  ImportRun run{schema, out, {}, 0, 0};
  {
    ProgressBar bar("importing " + o.input, o.input == "-" ? 0 : size_of(o.input));
    if (format == "csv") read_csv(in, o.input, run, bar);
    else read_jsonl(in, o.input, run, bar);
  }
  const bool unread = std::ferror(in) != 0;
  if (in != stdin) std::fclose(in);
  if (unread) fail(o.input + ": cannot read the file; nothing imported");
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

std::map<std::pair<std::string, std::string>, CsvColumn> csv_columns(const Options &o, const Schema &schema) {
  std::map<std::pair<std::string, std::string>, CsvColumn> columns;
  each_record(o.catalog, o.state, [&](int64_t offset, bool, PartRecord *record) {
    for (const Field &f : record_fields(record, schema)) {
      auto it = columns.try_emplace({f.group, f.attribute}, CsvColumn{f.type, 0, false}).first;
      CsvColumn &c = it->second;
      if (c.type.length != f.type.length)
        fail(o.catalog + ": record at offset " + std::to_string(offset) + ": " + f.group + "." +
             f.attribute + " has values of " + std::to_string(f.type.length) + " bytes, other records " +
             std::to_string(c.type.length) + ": a CSV column has one length; export as JSON Lines");
      c.count = std::max(c.count, static_cast<int>(f.values.size()));
      c.characters = c.characters || f.type.type == 'C';
    }
  });
  for (auto &[name, c] : columns)
    if (c.characters && !schema.find(name.first, name.second)) c.type.type = 'C';
  return columns;
}

void check_shown(const Shown &shown, ValueType type, const std::string &where) {
  if (shown.kind == Shown::characters && type.type != 'C')
    fail(where + ": a value of type " + std::string(1, type.type) + " is not a finite number");
}

void export_parts(const Options &o) {
  const std::string format = o.output.empty() && o.format.empty() ? "jsonl" : format_of(o.format, o.output);
  const Schema schema = Schema::load(o.project);
  std::map<std::pair<std::string, std::string>, CsvColumn> columns;
  if (format == "csv") columns = csv_columns(o, schema);
  if (!o.output.empty()) Outputs({o.catalog, o.project}, o.force).check(o.output);
  std::unique_ptr<Staged> file;
  if (!o.output.empty()) file = std::make_unique<Staged>(o.output, false);
  FILE *out = file ? file->stream() : stdout;
  std::string text;
  if (format == "csv") {
    const char *comma = "";
    if (o.offsets) text += "@offset", comma = ",";
    if (o.state) text += std::string(comma) + "@state", comma = ",";
    for (const auto &[name, c] : columns)
      for (int k = 1; k <= c.count; ++k) {
        text += comma;
        csv_text(&text, column_name(name.first, name.second, k, k == 1 ? written_type(schema, name.first, name.second, c.type) : std::nullopt));
        comma = ",";
      }
    text += '\n';
  }
  long parts = 0;
  each_record(o.catalog, o.state, [&](int64_t offset, bool deleted, PartRecord *record) {
    const std::string where = o.catalog + ": record at offset " + std::to_string(offset);
    std::vector<Field> fields = record_fields(record, schema);
    if (format == "csv") {
      const char *comma = "";
      if (o.offsets) text += std::to_string(offset), comma = ",";
      if (o.state) text += std::string(comma) + (deleted ? "deleted" : "live"), comma = ",";
      for (const auto &[name, c] : columns) {
        const auto f = std::find_if(fields.begin(), fields.end(), [&name = name](const Field &x) {
          return x.group == name.first && x.attribute == name.second;
        });
        for (int k = 0; k < c.count; ++k) {
          text += comma;
          comma = ",";
          if (f == fields.end() || k >= static_cast<int>(f->values.size())) continue;
          const Shown shown = decode_value(reinterpret_cast<const unsigned char *>(f->values[static_cast<size_t>(k)].data()), c.type);
          check_shown(shown, c.type, where);
          csv_field(&text, shown);
        }
      }
    } else {
      std::string part, error;
      if (!json_part(&part, fields, schema, &error)) fail(where + ": " + error);
      std::string meta;
      if (o.offsets) meta += "\"@offset\":" + std::to_string(offset);
      if (o.state) meta += std::string(meta.empty() ? "" : ",") + "\"@state\":\"" + (deleted ? "deleted" : "live") + "\"";
      if (meta.empty()) text += part;
      else text += "{" + meta + (part == "{}" ? "}" : "," + part.substr(1));
    }
    text += '\n';
    ++parts;
    if (text.size() > (1 << 16)) {
      std::fwrite(text.data(), 1, text.size(), out);
      text.clear();
    }
  });
  std::fwrite(text.data(), 1, text.size(), out);
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
