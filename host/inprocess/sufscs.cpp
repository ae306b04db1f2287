// String conversion between blank-padded fields and 0-terminated strings.
#include <cstring>

#include "host/host_services.h"

namespace {

constexpr int kBadArgument = 2;

// True, with *rc set, for a null pointer or a negative width.
bool bad_arguments(const char *from, char *to, const int *width, int *rc) {
  if (from && to && width && *width >= 0) return false;
  *rc = kBadArgument;
  return true;
}

}  // namespace

extern "C" {

// rc 2 for a null pointer or a negative width.
void sufscs(const char *field, char *buffer, const int *width, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  if (bad_arguments(field, buffer, width, rc)) return;
  size_t length = static_cast<size_t>(*width);
  while (length > 0 && field[length - 1] == ' ') --length;
  std::memmove(buffer, field, length);
  buffer[length] = '\0';
  *rc = 0;
}

// rc 1 when the string is cut to the field; rc 2 as for sufscs.
void sucsfs(const char *string, char *field, const int *width, int *rc) {
  int spare = 0;
  if (!rc) rc = &spare;
  if (bad_arguments(string, field, width, rc)) return;
  size_t size = static_cast<size_t>(*width);
  size_t length = strnlen(string, size + 1);
  size_t copied = length < size ? length : size;
  std::memmove(field, string, copied);
  std::memset(field + copied, ' ', size - copied);
  *rc = length > size ? 1 : 0;
}

}  // extern "C"
