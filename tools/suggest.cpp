// The closest known names to a mistyped one, by edit distance.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tools/command.h"

namespace pcs::tools {
namespace {

// Insertions, deletions, replacements and swaps of neighbours, letter case
// aside.
size_t distance(const std::string &a, const std::string &b) {
  const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) && lower(a[i - 2]) == lower(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::vector<std::string> closest_names(const std::string &word, const std::vector<std::string> &known) {
  // Close enough: a third of the word's letters changed, at least one.
  const size_t limit = std::max<size_t>(1, (word.size() + 2) / 3);
  size_t best = limit + 1;
  std::vector<std::string> names;
  for (const std::string &name : known) {
    const size_t d = distance(word, name);
    if (d > limit || d > best || d == 0) continue;
    if (d < best) names.clear();
    best = d;
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  return names;
}

std::string did_you_mean(const std::string &word, const std::vector<std::string> &known) {
  const std::vector<std::string> names = closest_names(word, known);
  if (names.empty()) return "";
  std::string text = "; did you mean '" + names[0] + "'";
  for (size_t i = 1; i < names.size(); ++i)
    text += (i + 1 == names.size() ? " or '" : ", '") + names[i] + "'";
  return text + "?";
}

}  // namespace pcs::tools
