// The C interface of the selection engine (include/pcs_select.h): every
// entry point checks its arguments, runs the engine guarded so that no
// exception leaves it, and returns the engine's code.
#include <algorithm>
#include <cstring>

#include "common/report.h"
#include "query/query_fill.h"
#include "query/selection.h"

using namespace pcs::query;

namespace {

struct CodeText {
  int code;
  const char *text;
};
#define PCS_SELECT_TEXT_(name, value, text) {value, text},
constexpr CodeText kTexts[] = {PCS_SELECT_CODES(PCS_SELECT_TEXT_) PCS_RESULT_CODES(PCS_SELECT_TEXT_)};
#undef PCS_SELECT_TEXT_

}  // namespace

extern "C" {

void pcs_sel_open(const int *ws, const char *spec, const char *parts, PcsSelection **selection,
                  int *rc) {
  if (!rc) return;
  if (!selection) {
    *rc = PCS_SEL_BAD_ARGUMENT;
    return;
  }
  *selection = nullptr;
  pcs::guarded(rc, PCS_SEL_NO_MEMORY, [&] {
    *rc = ws ? open_selection(*ws, spec, parts, selection) : PCS_SEL_BAD_ARGUMENT;
  });
}

void pcs_sel_sizes(PcsSelection *selection, const char *entry, int *count, int *rc) {
  if (!rc) return;
  *rc = PCS_SEL_BAD_ARGUMENT;
  if (!selection || !count) return;
  pcs::guarded(rc, PCS_SEL_NO_MEMORY, [&] { *rc = entry_sizes(selection, entry, count); });
}

void pcs_sel_size(PcsSelection *selection, const int *k, char *size, int *rc) {
  if (!rc) return;
  *rc = PCS_SEL_BAD_ARGUMENT;
  if (!selection || !k || !size) return;
  *rc = PCS_SEL_NO_SIZE;
  const auto &parts = selection->queries.parts;
  if (*k < 1 || *k > static_cast<int>(parts.size())) return;
  pcs::guarded(rc, PCS_SEL_NO_MEMORY, [&] {
    copy_text(size, query_size(parts[static_cast<size_t>(*k - 1)]));
    *rc = 0;
  });
}

void pcs_sel_find(PcsSelection *selection, const char *entry, const char *size, int *candidates,
                  int *found, int *rc) {
  if (!rc) return;
  *rc = PCS_SEL_BAD_ARGUMENT;
  if (!selection || !candidates || !found) return;
  pcs::guarded(rc, PCS_SEL_NO_MEMORY,
               [&] { *rc = find_parts(selection, entry, size, candidates, found); });
}

void pcs_sel_part(PcsSelection *selection, const int *k, char *number, int *position,
                  int *selected, int *rc) {
  if (!rc) return;
  *rc = PCS_SEL_BAD_ARGUMENT;
  if (!selection || !k || !number || !position || !selected) return;
  *rc = PCS_SEL_NO_CANDIDATE;
  if (*k < 1 || *k > static_cast<int>(selection->answer.size())) return;
  pcs::guarded(rc, PCS_SEL_NO_MEMORY, [&] {
    const Candidate &c = selection->answer[static_cast<size_t>(*k - 1)];
    copy_text(number, value_text(find_attribute(c.part, "PARTNUM ", "PARTNO  "), 0, 'C'));
    *position = c.position;
    *selected = c.selected ? 1 : 0;
    *rc = 0;
  });
}

void pcs_sel_explain(PcsSelection *selection, const int *k, PcsSelExplanation **explanation,
                     int *rc) {
  if (!rc) return;
  *rc = PCS_SEL_BAD_ARGUMENT;
  if (!selection || !k || !explanation) return;
  *explanation = nullptr;
  pcs::guarded(rc, PCS_SEL_NO_MEMORY,
               [&] { *rc = explain_candidate(selection, *k - 1, explanation); });
}

void pcs_sel_free(PcsSelExplanation *explanation) { free_explanation(explanation); }

void pcs_sel_close(PcsSelection *selection) {
  if (!selection) return;
  selection->~PcsSelection();
  gifree(selection);
}

void pcs_sel_value(const CgAttribute *attribute, const int *k, const char *type, char *text,
                   const int *size, int *length, int *rc) {
  if (!rc) return;
  if (!attribute || !k || !type || !text || !size || *size < 1 || !length) {
    *rc = PCS_SEL_BAD_ARGUMENT;
    return;
  }
  pcs::guarded(rc, PCS_SEL_NO_MEMORY, [&] {
    const std::string value = value_text(attribute, *k - 1, *type);
    const size_t n = std::min(value.size(), static_cast<size_t>(*size - 1));
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
    *length = static_cast<int>(value.size());
    *rc = 0;
  });
}

const char *pcs_sel_text(int code) {
  for (const CodeText &entry : kTexts)
    if (entry.code == code) return entry.text;
  return "unknown result code";
}

}  // extern "C"
