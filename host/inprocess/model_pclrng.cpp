// Standards and their ordered pipe sizes: a range of sizes (pclrng), a size
// environment and a size's rank in it (pclenv, pu4fcsk); the minimum-size
// switch (ibafr7) and the text compaction of option texts (sulbrm).
#include <cstring>

#include "host/inprocess/model_internal.h"

using namespace pcs::host::model;
using namespace pcs::host::model::detail;

namespace {

// The size table of the standard, or nullptr and *code set.
const SizeTable *size_table(const char *standard, const char *table, int *code) {
  try {
    Model *m = ensure_model(code);
    if (!m) return nullptr;
    auto tables = m->standards.find(field(standard, kNameWidth));
    if (tables != m->standards.end()) {
      auto found = tables->second.find(field(table, kNameWidth));
      if (found != tables->second.end()) return &found->second;
    }
    *code = PCS_HOST_NO_STANDARD;
  } catch (...) {
    *code = PCS_HOST_NO_MEMORY;
  }
  return nullptr;
}

long position(const SizeTable &table, const std::string &size) {
  for (size_t i = 0; i < table.sizes.size(); ++i) {
    if (trim(table.sizes[i]) == size) return long(i);
  }
  return -1;
}

}  // namespace

extern "C" {

void pclrng(const char *standard, const char *table, const char *size1, const char *size2,
            int *stack, int *rc) {
  Service call("pclrng", rc);
  call.chars(standard).chars(table);
  if (stack) *stack = 0;
  int code = 0;
  const SizeTable *sizes = standard && table ? size_table(standard, table, &code) : nullptr;
  const size_t width = sizes ? size_t(sizes->length) : 0;
  call.chars(sizes ? size1 : nullptr, width).chars(sizes ? size2 : nullptr, width);
  call.run([&] {
    if (!standard || !table || !size1 || !size2 || !stack) return PCS_HOST_BAD_ARGUMENT;
    if (!sizes) return code;
    std::string from = trim(field(size1, width)), to = trim(field(size2, width));
    if (from.empty()) from = to;
    if (to.empty()) to = from;
    long first = position(*sizes, from), last = position(*sizes, to);
    if (from.empty() || first < 0 || last < 0) return PCS_HOST_NO_SIZE;
    if (first > last) std::swap(first, last);
    std::vector<std::string> range(sizes->sizes.begin() + first, sizes->sizes.begin() + last + 1);
    return make_stack(sizes->length, range, stack);
  });
}

void pclenv(const char *standard, const char *table, int *environment, int *rc) {
  Service call("pclenv", rc);
  call.chars(standard).chars(table);
  if (environment) *environment = 0;
  call.run([&] {
    if (!standard || !table || !environment) return PCS_HOST_BAD_ARGUMENT;
    int code = 0;
    const SizeTable *sizes = size_table(standard, table, &code);
    if (!sizes) return code;
    return make_stack(sizes->length, sizes->sizes, environment);
  });
}

void pu4fcsk(const int *environment, const char *size, int *rank, int *rc) {
  Service call("pu4fcsk", rc);
  call.number(environment);
  if (rank) *rank = 0;
  int width = 0, count = 0, code = 0;
  if (environment) gusinf(environment, &width, &count, &code);
  call.chars(code == 0 && width > 0 ? size : nullptr, size_t(width));
  call.run([&] {
    if (!environment || !size || !rank) return PCS_HOST_BAD_ARGUMENT;
    if (code != 0) return code;
    const std::string wanted = trim(field(size, size_t(width)));
    std::string entry(size_t(width), ' ');
    for (int i = 1; i <= count; ++i) {
      gusrea(environment, &i, entry.data(), &code);
      if (code != 0) return code;
      if (trim(entry) == wanted) {
        *rank = i;
        break;
      }
    }
    return 0;
  });
}

int ibafr7(void) {
  int answer = 0;
  Service call("ibafr7", nullptr);
  int code = call.run([&] {
    int loading = 0;
    Model *m = ensure_model(&loading);
    answer = m ? m->setup.ibafr7 : 0;
    return 0;
  });
  return code != 0 ? code : answer;
}

void sulbrm(char *text, int *length, int *rc) {
  Service call("sulbrm", rc);
  const bool ok = length && *length >= 0 && (text || *length == 0);
  call.chars(ok ? text : nullptr, ok ? size_t(*length) : 0).number(length);
  call.run([&] {
    if (!ok) return PCS_HOST_BAD_ARGUMENT;
    const size_t n = size_t(*length);
    std::string out;
    bool blank_pending = false;
    for (size_t i = 0; i < n; ++i) {
      if (text[i] == ' ') {
        blank_pending = !out.empty();
      } else {
        if (blank_pending) out += ' ';
        blank_pending = false;
        out += text[i];
      }
    }
    std::memcpy(text, pad(out, n).data(), n);
    return 0;
  });
}

}  // extern "C"
