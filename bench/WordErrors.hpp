#pragma once

// Word errors of a hypothesis against a reference, ignoring case and punctuation.

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace earshot::bench {

inline std::vector<std::string> words(const std::string& text) {
  std::string plain;
  for (char c : text)
    plain += std::isalnum(static_cast<unsigned char>(c)) || c == '\'' ? char(std::tolower(c)) : ' ';
  std::istringstream in(plain);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// Substitutions, insertions and deletions of the best alignment.
inline std::size_t wordErrors(const std::string& reference, const std::string& hypothesis) {
  const auto ref = words(reference);
  const auto hyp = words(hypothesis);
  std::vector<std::size_t> row(hyp.size() + 1), next(hyp.size() + 1);
  for (std::size_t j = 0; j <= hyp.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= ref.size(); ++i) {
    next[0] = i;
    for (std::size_t j = 1; j <= hyp.size(); ++j)
      next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (ref[i - 1] != hyp[j - 1])});
    row.swap(next);
  }
  return row[hyp.size()];
}

}  // namespace earshot::bench
