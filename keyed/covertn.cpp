// File name resolution of keyed group files: a leading "$NAME" of a
// blank-padded name field is replaced by the value of the environment
// variable NAME.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "keyed/keyed.h"

namespace pcs::keyed {
namespace {

// End of the variable name: the index of the first '/', blank or 0 byte
// after the '$', or the width.
int variable_end(const char *name, int width) {
  int p = 1;
  while (p < width && name[p] != '/' && name[p] != ' ' && name[p] != '\0') ++p;
  return p;
}

const char *variable_value(const char *name, int end) {
  char variable[PCS_KEYED_NAME_LEN + 1];
  int n = std::min(end - 1, PCS_KEYED_NAME_LEN);
  std::memcpy(variable, name + 1, static_cast<size_t>(n));
  variable[n] = '\0';
  return std::getenv(variable);
}

// covertn proper; false when the variable is unset (the name is copied).
bool expand(const char *name, char *destination, int width) {
  if (width <= 0) return true;
  if (name[0] != '$') {
    std::strncpy(destination, name, static_cast<size_t>(width));
    return true;
  }
  int p = variable_end(name, width);
  const char *value = variable_value(name, std::min(p, PCS_KEYED_NAME_LEN + 1));
  if (!value) {
    std::strncpy(destination, name, static_cast<size_t>(width));
    return false;
  }
  int v = static_cast<int>(std::min(std::strlen(value), static_cast<size_t>(width)));
  std::memset(destination, ' ', static_cast<size_t>(width));
  std::memcpy(destination, value, static_cast<size_t>(v));
  int room = width - std::max(p, v);
  if (room > 0) std::strncpy(destination + v, name + p, static_cast<size_t>(room));
  for (int i = width - 1; i >= 0 && destination[i] == ' '; --i) destination[i] = '\0';
  return true;
}

}  // namespace

char *covertn(const char *name, char *destination, const int *width) {
  expand(name, destination, *width);
  return destination;
}

namespace {

// True when the variable's value and the rest of the name fit the field, so
// that the expansion drops nothing: two long names must never resolve to
// the same file.
bool expansion_fits(const char *name) {
  if (name[0] != '$') return true;
  const int p = variable_end(name, PCS_KEYED_NAME_LEN);
  const char *value = variable_value(name, p);
  if (!value) return true;
  int end = 0;
  for (int i = 0; i < PCS_KEYED_NAME_LEN && name[i] != '\0'; ++i)
    if (name[i] != ' ') end = i + 1;
  return std::strlen(value) + static_cast<size_t>(std::max(end - p, 0)) <=
         static_cast<size_t>(PCS_KEYED_NAME_LEN);
}

}  // namespace

bool resolve_keyed_name(const char *name, char path[PCS_KEYED_NAME_LEN + 1]) {
  if (!expansion_fits(name)) {
    path[0] = '\0';
    return false;
  }
  bool set = expand(name, path, PCS_KEYED_NAME_LEN);
  path[PCS_KEYED_NAME_LEN] = '\0';
  for (int i = PCS_KEYED_NAME_LEN - 1; i >= 0 && path[i] == ' '; --i) path[i] = '\0';
  return set;
}

}  // namespace pcs::keyed
