// The selection engine: from a piping specification's entry and a pipe size
// to the catalog parts of a generic part file that satisfy its query part,
// through the file's key index by element class and query number; the
// traced size-limit check that explains cgminsz.
//
// PcsSelection is the object behind the handle of include/pcs_select.h.
#ifndef PCS_QUERY_SELECTION_H
#define PCS_QUERY_SELECTION_H

#include <cstdint>
#include <string>
#include <vector>

#include "common/memory.h"
#include "include/pcs_select.h"

namespace pcs::query {

// One catalog size tested against a limit, as cgminsz tested it; the texts
// are 80-character blank-padded buffers.
struct SizeStep {
  enum Kind { kMinimum = PCS_SEL_MINIMUM, kMaximum = PCS_SEL_MAXIMUM };
  Kind kind;
  const char *limit;
  int limit_rank;
  int index;  // from 0
  const char *size;
  int rank;
  bool outside;
};
class SizeTrace {
 public:
  virtual ~SizeTrace() = default;
  virtual void size(const SizeStep &step) = 0;
};
// cgminsz: *result 1 when a catalog size breaks a limit of the query; each
// size tested is reported to `trace` when it is given. 0 or a code.
int check_sizes(CgPart catalog, CgPart query, int *result, SizeTrace *trace);

// A catalog part of the answer: where it is and what the tests said.
struct Candidate {
  int32_t position;
  CgPart part;  // owned by the selection's part cache
  bool selected;
};

// Parts released with the vector.
struct PartList {
  std::vector<CgPart> parts;
  PartList() = default;
  ~PartList() { clear(); }
  PartList(const PartList &) = delete;
  PartList &operator=(const PartList &) = delete;
  void clear();
};

}  // namespace pcs::query

struct PcsSelection {
  int ws = 0;
  int owner = 0;  // the PSPEC object
  std::string spec;
  // The generic part file as read, and its key index: (stored key, record
  // position) in ascending byte order of the key, then of the position.
  pcs::HostPtr<unsigned char> image;
  size_t image_size = 0;
  int key_width = 0;
  std::vector<std::pair<std::string, int32_t>> index;
  // The query parts of the entry last asked.
  std::string entry;
  pcs::query::PartList queries;
  // The catalog parts of the key last looked up, decoded once.
  std::string cached_key;
  std::vector<int32_t> cached_positions;
  pcs::query::PartList cached_parts;
  // The last answer.
  CgPart query = nullptr;
  std::vector<pcs::query::Candidate> answer;
};

namespace pcs::query {

// The engine behind the entry points of include/pcs_select.h; each returns
// 0 or a code.
int open_selection(int ws, const char *spec, const char *path, PcsSelection **out);
int entry_sizes(PcsSelection *s, const char *entry, int *count);
// The first value of PIPESIZE/SIZE of query part k (from 0), trailing
// blanks dropped.
std::string query_size(CgPart query);
int find_parts(PcsSelection *s, const char *entry, const char *size, int *candidates,
               int *found);
// The explanation of candidate k (from 0) of the last answer.
int explain_candidate(PcsSelection *s, int k, PcsSelExplanation **out);
void free_explanation(PcsSelExplanation *e);

// Value k of an attribute as text under the type letter `type` (I, R, else
// characters), trailing blanks dropped, at most PCS_SEL_TEXT - 1 bytes.
std::string value_text(const CgAttribute *a, int k, char type);
// Copies at most PCS_SEL_TEXT - 1 bytes of the text into out, 0-terminated.
void copy_text(char *out, const std::string &text);

}  // namespace pcs::query

#endif
