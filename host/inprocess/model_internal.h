// Internals shared by the model service families: the model's state, field
// and value conversions, the call frame every service runs in, stack
// building over the host stack service, and how failures of the project's
// files become a code and a message.
#ifndef PCS_HOST_MODEL_INTERNAL_H
#define PCS_HOST_MODEL_INTERNAL_H

#include <cstddef>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "host/inprocess/model.h"

namespace pcs::host::model::detail {

struct Failure {
  int code = 0;
  long countdown = 0;  // calls until the first failure
  bool from_then_on = false;
  bool spent = false;
};

struct Unit {
  std::vector<std::string> lines;
  FILE *file = nullptr;
};

// The open project database (model_store.cpp).
struct Store;
struct StoreDeleter {
  void operator()(Store *store) const;
};
using StorePtr = std::unique_ptr<Store, StoreDeleter>;

struct State {
  Model model;
  bool loaded = false;
  std::string path_override;
  std::string load_error;
  Session session;
  std::vector<Call> calls;
  bool recording = true;  // calls are recorded
  std::map<std::string, Failure> failures;
  long injected = 0;
  SaveFault save_fault = SaveFault::none;
  void (*save_hook)(int step) = nullptr;
  int busy_timeout_ms = 5000;
  std::map<int, Unit> units;
  StorePtr store;  // the project database the model was loaded from or saved to
};
State &state();

constexpr int kWorkspace = 1;
constexpr size_t kNameWidth = 8;
constexpr size_t kObjectName = 256;

// The `width` bytes at p as a string.
std::string field(const char *p, size_t width);
// Without trailing blanks.
std::string trim(std::string_view text);
// Cut or blank-padded to width.
std::string pad(std::string_view text, size_t width);
// For the call record: trailing blanks dropped, unprintable bytes as \xNN.
std::string render(std::string_view bytes);

// Value bytes of an attribute: blanks for characters, zeros for numbers.
std::string blank_value(const AttributeDef &attribute);
// The value as text: characters trimmed, I in decimal, R with %g (or %.17g
// when %g loses digits).
std::string value_text(const AttributeDef &attribute, std::string_view bytes);
// Text to value bytes; false when a number does not parse or a text is
// longer than the attribute.
bool value_from_text(const AttributeDef &attribute, std::string_view text, std::string *bytes);
// A fresh row of blank values for the group.
Row blank_row(const GroupDef &group);
// The row's value slot for attribute i, grown with blanks if the row is
// shorter than the group.
std::string &cell(Row &row, const GroupDef &group, size_t i);

// Failures inside the project store travel as this exception to the entry
// functions, which turn it into a code and a message.
struct StoreError {
  int code;
  std::string message;
};

[[noreturn]] inline void fail(int code, const std::string &message) {
  throw StoreError{code, message};
}

// Runs body: 0 with *error cleared, or the code of what it threw (`code`
// for an exception of another kind) with its message in *error.
template <class F>
int guarded(std::string *error, int code, F body) {
  try {
    body();
  } catch (const StoreError &e) {
    *error = e.message;
    return e.code;
  } catch (const std::bad_alloc &) {
    *error = "out of memory";
    return PCS_HOST_NO_MEMORY;
  } catch (const std::exception &e) {
    *error = e.what();
    return code;
  }
  error->clear();
  return 0;
}

// The model, loaded from the project database on first use; nullptr and *code
// set when the file cannot be loaded.
Model *ensure_model(int *code);
// Loads the model from the JSON file at path (or from the JSON text,
// `origin` naming it in messages) into `into`; 0 or a code, with the reason
// in *error.
int read_json_file(const std::string &path, Model *into, std::string *error);
int parse_project(const std::string &text, const std::string &origin, Model *into,
                  std::string *error);
// The model as JSON text.
std::string project_text(const Model &model);

// Loads the project database at path into `into` and makes it the open
// store. 0, PCS_HOST_NO_PROJECT, PCS_HOST_BAD_PROJECT or PCS_HOST_NO_MEMORY.
int store_load(const std::string &path, Model *into, std::string *error);
// Writes what differs between the model and the database at path (created
// when missing) in one transaction. When another process saved since the
// model was read, this save's own changes are merged onto what it wrote
// and the model becomes the merged one (see merge_saves). 0,
// PCS_HOST_SAVE_FAILED or PCS_HOST_BUSY; a failed save leaves the database
// as it was.
int store_save(Model &model, const std::string &path, std::string *error);
// *empty: path is missing, or a database without a model or with an empty one.
int store_is_empty(const std::string &path, bool *empty, std::string *error);

// 0 when *ws is the open workspace; a code otherwise.
int check_session(const int *ws);
// As check_session, and the model must be switched to writing.
int check_writing(const int *ws);

// Creates a stack of `entry_size`-byte entries holding `entries` (each cut or
// blank-padded to the size). 0, or the stack code with *stack 0 and nothing
// left open.
int make_stack(int entry_size, const std::vector<std::string> &entries, int *stack);
// A 4-byte entry holding the int.
std::string int_entry(int value);

// The frame every service runs in: records the call, applies an injected
// failure, turns exceptions into codes and stores the code in *rc and in the
// record.
class Service {
 public:
  // A service without a result code (pr0ini, pr0vws, pr0end) passes
  // injectable = false: injected failures do not touch it.
  Service(const char *name, int *rc, bool injectable = true);
  Service &number(const int *value);
  Service &number(long value);
  Service &real(const double *value);
  Service &real(const float *value);
  Service &chars(const char *p, size_t width = kNameWidth);
  Service &text(const char *text);
  Service &text(std::string &&text);

  // Runs body() -> int unless a failure is injected; returns the code.
  template <class F>
  int run(F &&body) {
    int code = 0;
    if (!injected(&code)) {
      try {
        code = body();
      } catch (const std::bad_alloc &) {
        code = PCS_HOST_NO_MEMORY;
      } catch (...) {
        code = PCS_HOST_BAD_ARGUMENT;
      }
    }
    finish(code);
    return code;
  }

 private:
  bool injected(int *code);
  void finish(int code);
  bool recorded() const;

  const char *name_;
  size_t index_;
  int *rc_;
  bool injectable_;
  int spare_ = 0;
};

}  // namespace pcs::host::model::detail

#endif
