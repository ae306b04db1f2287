// The host error reporter (gue*): the current message set, the error action,
// the parameters given for the next report, and a record of every report so
// tests can read them back.
//
// Error action 0 is "quiet": gueuse then answers "do not report" and gueror
// records nothing. Any other action reports. The action starts at 1.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/inprocess/host_state.h"
#include "host/inprocess/testing.h"

namespace pcs::host {
namespace {

constexpr int kDefaultAction = 1;

struct ErrorState {
  char message_set[PCS_GUE_SAVE];
  int action = kDefaultAction;
  bool suppress = false;
  long rejected = 0;
  std::vector<std::string> parameters;
  std::vector<Report> reports;
};

ErrorState &errors() {
  static ErrorState state = [] {
    ErrorState fresh;
    std::memset(fresh.message_set, ' ', sizeof fresh.message_set);
    return fresh;
  }();
  return state;
}

bool echo = false;

bool quiet() { return errors().suppress || errors().action == 0; }

void print(const Report &report) {
  std::fprintf(stderr, "%s %d: %s", report.message_set.c_str(), report.code,
               code_text(report.code));
  for (const std::string &parameter : report.parameters) {
    std::fprintf(stderr, " [%s]", parameter.c_str());
  }
  std::fputc('\n', stderr);
}

}  // namespace

namespace state {
void reset_errors() {
  ErrorState &state = errors();
  std::memset(state.message_set, ' ', sizeof state.message_set);
  state.action = kDefaultAction;
  state.suppress = false;
  state.rejected = 0;
  state.parameters.clear();
  state.reports.clear();
}
}  // namespace state

const std::vector<Report> &reports() { return errors().reports; }
void clear_reports() { errors().reports.clear(); }
void echo_reports(bool on) { echo = on; }
void suppress_reports(bool on) { errors().suppress = on; }
int error_action() { return errors().action; }
std::string message_set() { return std::string(errors().message_set, PCS_GUE_SAVE); }
long rejected_lookups() { return errors().rejected; }

}  // namespace pcs::host

using namespace pcs::host;

extern "C" {

// The first area receives the message set, the second the error action;
// the others are cleared.
void guemod(char *save1, char *save2, char *save3, char *save4, char *save5, char *save6) {
  char *areas[] = {save1, save2, save3, save4, save5, save6};
  for (char *area : areas) {
    if (area) std::memset(area, 0, PCS_GUE_SAVE);
  }
  if (save1) std::memcpy(save1, errors().message_set, PCS_GUE_SAVE);
  if (save2) std::memcpy(save2, &errors().action, sizeof(int));
}

void gueuse(const char *message_set, int *suppress) {
  if (message_set) std::memcpy(errors().message_set, message_set, PCS_GUE_SAVE);
  if (suppress) *suppress = quiet() ? 1 : 0;
}

// A null or negative length takes the text up to its terminator.
void guepar(const char *text, const int *length) {
  if (!text) return;
  size_t size = length && *length >= 0 ? static_cast<size_t>(*length) : std::strlen(text);
  try {
    errors().parameters.emplace_back(text, size);
  } catch (...) {
  }
}

void gueror(const int *rc) {
  ErrorState &state = errors();
  std::vector<std::string> parameters;
  parameters.swap(state.parameters);
  if (!rc || quiet()) return;
  try {
    Report report{std::string(state.message_set, PCS_GUE_SAVE), *rc, std::move(parameters)};
    if (echo) print(report);
    state.reports.push_back(std::move(report));
  } catch (...) {
  }
}

void gueact(const int *new_action, int *old_action) {
  if (old_action) *old_action = errors().action;
  if (new_action) errors().action = *new_action;
}

void guerjo(void) { ++errors().rejected; }

}  // extern "C"
