// The model's state and its test interface: the in-memory model and its
// builders, the project path, sessions, the call record, failure injection,
// report units, and the field and value conversions the services share.
#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "host/inprocess/model_internal.h"

namespace pcs::host::model {
namespace detail {

State &state() {
  static State instance;
  return instance;
}

std::string field(const char *p, size_t width) { return std::string(p, width); }

std::string trim(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return std::string(text.substr(0, end));
}

std::string pad(std::string_view text, size_t width) {
  std::string out(text.substr(0, std::min(text.size(), width)));
  out.resize(width, ' ');
  return out;
}

std::string render(std::string_view bytes) {
  std::string out;
  for (unsigned char c : trim(bytes)) {
    if (c < 32 || c > 126) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string blank_value(const AttributeDef &attribute) {
  if (attribute.type == 'I' || attribute.type == 'R') {
    return std::string(static_cast<size_t>(attribute.length), '\0');
  }
  return std::string(static_cast<size_t>(attribute.length), ' ');
}

std::string value_text(const AttributeDef &attribute, std::string_view bytes) {
  char buffer[64];
  if (attribute.type == 'I' && bytes.size() >= sizeof(int32_t)) {
    int32_t value;
    std::memcpy(&value, bytes.data(), sizeof value);
    std::snprintf(buffer, sizeof buffer, "%" PRId32, value);
    return buffer;
  }
  if (attribute.type == 'R' && bytes.size() >= sizeof(double)) {
    double value;
    std::memcpy(&value, bytes.data(), sizeof value);
    std::snprintf(buffer, sizeof buffer, "%g", value);
    if (std::strtod(buffer, nullptr) != value) std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
  }
  return trim(bytes);
}

namespace {

// Plain decimal text (digits, sign, point, exponent), which from_chars reads
// exactly as strtod does, without a copy; anything else goes to strtod.
bool plain_number(std::string_view text) {
  return !text.empty() && text[0] != '+' &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 'e' || c == 'E';
         });
}

// The whole text as a number, as strtoll or strtod read it.
template <class Number>
bool whole_number(std::string_view text, Number *value) {
  if (plain_number(text)) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    if (error == std::errc() && end == text.data() + text.size()) return true;
  }
  const std::string copy(text);
  char *end = nullptr;
  if constexpr (std::is_integral_v<Number>)
    *value = std::strtoll(copy.c_str(), &end, 10);
  else
    *value = std::strtod(copy.c_str(), &end);
  return !copy.empty() && *end == '\0';
}

}  // namespace

bool value_from_text(const AttributeDef &attribute, std::string_view text, std::string *bytes) {
  if (attribute.type == 'I') {
    long long value = 0;
    if (!whole_number(text, &value) || value < INT32_MIN || value > INT32_MAX) return false;
    int32_t narrow = static_cast<int32_t>(value);
    bytes->assign(reinterpret_cast<const char *>(&narrow), sizeof narrow);
    return true;
  }
  if (attribute.type == 'R') {
    double value = 0;
    if (!whole_number(text, &value)) return false;
    bytes->assign(reinterpret_cast<const char *>(&value), sizeof value);
    return true;
  }
  if (text.size() > static_cast<size_t>(attribute.length)) return false;
  bytes->assign(text);
  bytes->resize(static_cast<size_t>(attribute.length), ' ');
  return true;
}

Row blank_row(const GroupDef &group) {
  Row row;
  row.reserve(group.attributes.size());
  for (const AttributeDef &attribute : group.attributes) row.push_back(blank_value(attribute));
  return row;
}

std::string &cell(Row &row, const GroupDef &group, size_t i) {
  while (row.size() <= i && row.size() < group.attributes.size()) {
    row.push_back(blank_value(group.attributes[row.size()]));
  }
  return row[i];
}

Model *ensure_model(int *code) {
  State &s = state();
  if (!s.loaded) {
    try {
      *code = load(project_path());
    } catch (...) {
      *code = PCS_HOST_NO_MEMORY;
    }
    if (*code != 0) return nullptr;
  }
  *code = 0;
  return &s.model;
}

int check_session(const int *ws) {
  const Session &session = state().session;
  if (!ws || *ws != kWorkspace || !session.open) return PCS_HOST_NO_WORKSPACE;
  return 0;
}

int check_writing(const int *ws) {
  int code = check_session(ws);
  if (code == 0 && !state().session.writing) code = PCS_HOST_READ_ONLY;
  return code;
}

int make_stack(int entry_size, const std::vector<std::string> &entries, int *stack) {
  int rc = 0;
  *stack = 0;
  gusini(&entry_size, stack, &rc);
  if (rc != 0) {
    *stack = 0;
    return rc;
  }
  std::string entry;
  for (const std::string &value : entries) {
    entry = pad(value, static_cast<size_t>(entry_size));
    int count = 0;
    guspus(stack, entry.data(), &count, &rc);
    if (rc != 0) {
      int ignored = 0;
      gusend(stack, &ignored);
      *stack = 0;
      return rc;
    }
  }
  return 0;
}

std::string int_entry(int value) {
  return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}

Service::Service(const char *name, int *rc, bool injectable)
    : name_(name), index_(static_cast<size_t>(-1)), rc_(rc ? rc : &spare_), injectable_(injectable) {
  *rc_ = 0;
  State &s = state();
  if (!s.recording) return;
  try {
    s.calls.push_back(Call{name, {}, 0});
    index_ = s.calls.size() - 1;
  } catch (...) {
  }
}

bool Service::recorded() const { return index_ < state().calls.size(); }

Service &Service::text(const char *text) {
  if (!recorded()) return *this;
  try {
    return this->text(std::string(text));
  } catch (...) {
    return *this;
  }
}

Service &Service::text(std::string &&text) {
  std::vector<Call> &calls = state().calls;
  if (index_ < calls.size()) {
    try {
      calls[index_].args.push_back(std::move(text));
    } catch (...) {
    }
  }
  return *this;
}

// The recording methods swallow allocation failures: a call that cannot be
// recorded in full still runs.
Service &Service::number(const int *value) {
  return value ? number(static_cast<long>(*value)) : text("null");
}

Service &Service::number(long value) {
  if (!recorded()) return *this;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%ld", value);
  return text(buffer);
}

Service &Service::real(const double *value) {
  if (!recorded()) return *this;
  if (!value) return text("null");
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", *value);
  return text(buffer);
}

Service &Service::real(const float *value) {
  if (!value) return text("null");
  double widened = *value;
  return real(&widened);
}

Service &Service::chars(const char *p, size_t width) {
  if (!recorded()) return *this;
  if (!p) return text("null");
  try {
    return text(render(std::string_view(p, width)));
  } catch (...) {
    return *this;
  }
}

bool Service::injected(int *code) {
  State &s = state();
  if (!injectable_ || s.failures.empty()) return false;
  auto found = s.failures.find(name_);
  if (found == s.failures.end()) return false;
  Failure &failure = found->second;
  if (failure.spent) return false;
  if (failure.countdown > 1) {
    --failure.countdown;
    return false;
  }
  failure.countdown = 1;
  if (!failure.from_then_on) failure.spent = true;
  ++s.injected;
  *code = failure.code;
  return true;
}

void Service::finish(int code) {
  *rc_ = code;
  std::vector<Call> &calls = state().calls;
  if (index_ < calls.size()) calls[index_].rc = code;
}

}  // namespace detail

using namespace detail;

std::string name(std::string_view text) { return pad(text, kNameWidth); }

int GroupDef::find(std::string_view attribute) const {
  const std::string key = pad(attribute, kNameWidth);
  for (size_t i = 0; i < attributes.size(); ++i) {
    if (attributes[i].name == key) return static_cast<int>(i);
  }
  return -1;
}

GroupDef &Model::define_group(std::string_view group, std::vector<AttributeDef> attributes,
                              bool single_row) {
  for (AttributeDef &attribute : attributes) {
    attribute.name = name(attribute.name);
    if (attribute.type == 'I') attribute.length = 4;
    if (attribute.type == 'R') attribute.length = 8;
  }
  GroupDef &def = groups[name(group)];
  def = GroupDef{name(group), single_row, std::move(attributes)};
  return def;
}

TypeDef &Model::define_type(std::string_view type, const std::vector<std::string> &type_groups,
                            std::string_view host_name) {
  TypeDef &def = types[name(type)];
  def.name = name(type);
  def.host_name = host_name.empty() ? trim(type) : std::string(host_name);
  def.groups.clear();
  for (const std::string &group : type_groups) def.groups.push_back({name(group), name("SETUP")});
  return def;
}

// 0 when the highest handle is taken: no handle left.
int Model::next_handle() const {
  if (objects.empty()) return 1;
  const int last = objects.rbegin()->first;
  return last >= INT32_MAX ? 0 : last + 1;
}

Object &Model::add_object(std::string_view type, std::string_view object_name) {
  Object object;
  object.handle = next_handle();
  object.type = name(type);
  object.name = trim(object_name);
  auto found = types.find(object.type);
  if (found != types.end()) {
    for (const TypeGroup &group : found->second.groups) object.groups[group.group];
  }
  return objects[object.handle] = std::move(object);
}

Object *Model::object(int handle) {
  auto found = objects.find(handle);
  return found == objects.end() ? nullptr : &found->second;
}

Object *Model::find_object(std::string_view type, std::string_view object_name) {
  const std::string key = name(type);
  const std::string wanted = trim(object_name);
  for (auto &[handle, object] : objects) {
    if (object.type == key && object.name == wanted) return &object;
  }
  return nullptr;
}

const GroupDef *Model::group(std::string_view group) const {
  auto found = groups.find(name(group));
  return found == groups.end() ? nullptr : &found->second;
}

int Model::add_row(int handle, std::string_view group_name,
                   const std::vector<std::pair<std::string, std::string>> &values) {
  Object *target = object(handle);
  const GroupDef *def = group(group_name);
  if (!target || !def) return 0;
  Row row = blank_row(*def);
  for (const auto &[attribute, value] : values) {
    int i = def->find(attribute);
    if (i < 0 || !value_from_text(def->attributes[i], value, &row[i])) return 0;
  }
  std::vector<Row> &rows = target->groups[def->name];
  rows.push_back(std::move(row));
  return static_cast<int>(rows.size());
}

std::string Model::text(int handle, std::string_view group_name, int row,
                        std::string_view attribute) const {
  auto found = objects.find(handle);
  const GroupDef *def = group(group_name);
  if (found == objects.end() || !def) return "";
  auto rows = found->second.groups.find(def->name);
  int i = def->find(attribute);
  if (rows == found->second.groups.end() || i < 0 || row < 1 ||
      row > static_cast<int>(rows->second.size())) {
    return "";
  }
  Row copy = rows->second[static_cast<size_t>(row - 1)];
  return value_text(def->attributes[i], cell(copy, *def, static_cast<size_t>(i)));
}

std::vector<std::string> Model::column(int handle, std::string_view group_name,
                                       std::string_view attribute) const {
  std::vector<std::string> out;
  auto found = objects.find(handle);
  const GroupDef *def = group(group_name);
  if (found == objects.end() || !def) return out;
  auto rows = found->second.groups.find(def->name);
  if (rows == found->second.groups.end()) return out;
  for (size_t r = 1; r <= rows->second.size(); ++r) {
    out.push_back(text(handle, group_name, static_cast<int>(r), attribute));
  }
  return out;
}

Model &data() {
  state().loaded = true;
  return state().model;
}

bool loaded() { return state().loaded; }

const std::string &load_error() { return state().load_error; }

namespace {

int take_model(int code, Model &&fresh, std::string &&error) {
  State &s = state();
  s.load_error = std::move(error);
  if (code != 0) return code;
  s.model = std::move(fresh);
  s.loaded = true;
  return 0;
}

}  // namespace

int load(const std::string &path) {
  Model fresh;
  std::string error;
  int code = store_load(path, &fresh, &error);
  code = take_model(code, std::move(fresh), std::move(error));
  if (code == 0) state().path_override = path;
  return code;
}

int load_text(const std::string &text) {
  Model fresh;
  std::string error;
  int code = parse_project(text, "project text", &fresh, &error);
  return take_model(code, std::move(fresh), std::move(error));
}

int save(const std::string &path) {
  State &s = state();
  return store_save(s.model, path, &s.load_error);
}

int import_json(const std::string &json_path, const std::string &project) {
  State &s = state();
  Model fresh;
  bool empty = false;
  int code = read_json_file(json_path, &fresh, &s.load_error);
  if (code == 0) code = store_is_empty(project, &empty, &s.load_error);
  if (code == 0 && !empty) {
    s.load_error = project + ": holds a model already; import needs a new or empty project";
    code = PCS_HOST_SAVE_FAILED;
  }
  if (code == 0) code = store_save(fresh, project, &s.load_error);
  if (code != 0) return code;
  return load(project);
}

void set_project_path(const std::string &path) { state().path_override = path; }

std::string project_path() {
  const State &s = state();
  if (!s.path_override.empty()) return s.path_override;
  const char *env = std::getenv("PCS_PROJECT");
  if (env && *env) return env;
  return "./project.db";
}

void clear() { state() = State{}; }

const Session &session() { return state().session; }

std::string Call::text() const {
  std::string out = service + "(";
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += ", ";
    out += args[i];
  }
  return out + ")";
}

const std::vector<Call> &calls() { return state().calls; }

std::vector<Call> calls_of(const std::string &service) {
  std::vector<Call> out;
  for (const Call &call : state().calls) {
    if (call.service == service) out.push_back(call);
  }
  return out;
}

void clear_calls() { state().calls.clear(); }

void record_calls(bool on) { state().recording = on; }

void fail_service(const std::string &service, int code, long nth, bool from_then_on) {
  state().failures[service] = Failure{code, nth > 0 ? nth : 1, from_then_on, false};
}

void clear_failures() { state().failures.clear(); }

long injected_failures() { return state().injected; }

void fail_save(SaveFault fault) { state().save_fault = fault; }

void test_save_hook(void (*hook)(int step)) { state().save_hook = hook; }

void set_busy_timeout(int milliseconds) { state().busy_timeout_ms = milliseconds; }

const std::vector<std::string> &unit_lines(int unit) { return state().units[unit].lines; }

void set_unit_file(int unit, FILE *file) { state().units[unit].file = file; }

std::vector<std::string> stack_entries(int stack) {
  std::vector<std::string> out;
  int size = 0, count = 0, rc = 0;
  gusinf(&stack, &size, &count, &rc);
  if (rc != 0) return out;
  std::string buffer(static_cast<size_t>(size), '\0');
  for (int i = 1; i <= count; ++i) {
    gusrea(&stack, &i, buffer.data(), &rc);
    if (rc != 0) break;
    out.push_back(buffer);
  }
  return out;
}

std::string code_name(int code) {
  static const std::map<int, const char *> names = {
      {PCS_HOST_NO_ENTRY, "PCS_HOST_NO_ENTRY"},
      {PCS_HOST_BAD_ARGUMENT, "PCS_HOST_BAD_ARGUMENT"},
      {PCS_HOST_NO_PROJECT, "PCS_HOST_NO_PROJECT"},
      {PCS_HOST_BAD_PROJECT, "PCS_HOST_BAD_PROJECT"},
      {PCS_HOST_SAVE_FAILED, "PCS_HOST_SAVE_FAILED"},
      {PCS_HOST_NO_WORKSPACE, "PCS_HOST_NO_WORKSPACE"},
      {PCS_HOST_SESSION_OPEN, "PCS_HOST_SESSION_OPEN"},
      {PCS_HOST_READ_ONLY, "PCS_HOST_READ_ONLY"},
      {PCS_HOST_NO_TYPE, "PCS_HOST_NO_TYPE"},
      {PCS_HOST_NO_GROUP, "PCS_HOST_NO_GROUP"},
      {PCS_HOST_NO_ATTRIBUTE, "PCS_HOST_NO_ATTRIBUTE"},
      {PCS_HOST_NO_OBJECT, "PCS_HOST_NO_OBJECT"},
      {PCS_HOST_NOT_ATTACHED, "PCS_HOST_NOT_ATTACHED"},
      {PCS_HOST_ATTACHED, "PCS_HOST_ATTACHED"},
      {PCS_HOST_NO_ROW, "PCS_HOST_NO_ROW"},
      {PCS_HOST_NO_CATALOG, "PCS_HOST_NO_CATALOG"},
      {PCS_HOST_NO_STANDARD, "PCS_HOST_NO_STANDARD"},
      {PCS_HOST_NO_SIZE, "PCS_HOST_NO_SIZE"},
      {PCS_HOST_NO_FAMILY, "PCS_HOST_NO_FAMILY"},
      {PCS_HOST_NO_MEMORY, "PCS_HOST_NO_MEMORY"},
      {PCS_HOST_NO_MODEL, "PCS_HOST_NO_MODEL"},
      {PCS_HOST_BUSY, "PCS_HOST_BUSY"},
      {PCS_HOST_NO_PART_OBJECT, "PCS_HOST_NO_PART_OBJECT"},
  };
  auto found = names.find(code);
  return found == names.end() ? std::to_string(code) : found->second;
}

}  // namespace pcs::host::model
