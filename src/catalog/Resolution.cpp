#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

#include "catalog/AppCatalog.hpp"
#include "catalog/Plain.hpp"

namespace earshot {

namespace {

constexpr std::array<std::string_view, 18> fillerWords{
    "o",  "a",  "os", "as",  "app", "aplicativo", "programa", "do",    "da",
    "de", "no", "na", "pro", "pra", "the",        "meu",      "minha", "my"};

bool filler(std::string_view word) {
  return std::find(fillerWords.begin(), fillerWords.end(), word) != fillerWords.end();
}

template <typename Sequence>
std::size_t levenshtein(const Sequence& a, const Sequence& b) {
  const std::size_t m = a.size();
  const std::size_t n = b.size();
  if (m == 0) return n;
  if (n == 0) return m;
  std::vector<std::size_t> previous(n + 1);
  std::vector<std::size_t> current(n + 1, 0);
  for (std::size_t j = 0; j <= n; ++j) previous[j] = j;
  for (std::size_t i = 1; i <= m; ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= n; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
    }
    std::swap(previous, current);
  }
  return previous[n];
}

// Whether the edit distance of a and b is at most `limit`: the same answer as comparing
// levenshtein(a, b) with the limit, computed only in the band of cells that can stay within it.
template <typename Sequence>
bool withinDistance(const Sequence& a, const Sequence& b, std::size_t limit) {
  const std::size_t m = a.size();
  const std::size_t n = b.size();
  if ((m > n ? m - n : n - m) > limit) return false;
  const std::size_t beyond = limit + 1;
  std::vector<std::size_t> previous(n + 1, beyond);
  std::vector<std::size_t> current(n + 1, beyond);
  for (std::size_t j = 0; j <= std::min(n, limit); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= m; ++i) {
    const std::size_t low = i > limit ? i - limit : 1;
    const std::size_t high = std::min(n, i + limit);
    // Only the band is read: the cell left of it (column 0 or an old cell of two rows ago) and
    // the band itself; the cells right of it were never written. Clearing the whole row would
    // make a long pair cost its full table.
    current[0] = i <= limit ? i : beyond;
    current[low - 1] = low == 1 ? current[0] : beyond;
    std::size_t best = current[0];
    for (std::size_t j = low; j <= high; ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost, beyond});
      best = std::min(best, current[j]);
    }
    if (best > limit) return false;
    std::swap(previous, current);
  }
  return previous[n] <= limit;
}

bool plainAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r'; });
}

// Two texts' characters: whether `whole` begins with `front`.
bool beginsWithCharacters(const std::vector<std::string>& whole,
                          const std::vector<std::string>& front) {
  return front.size() <= whole.size() && std::equal(front.begin(), front.end(), whole.begin());
}

// What every name is compared with, worked out once: a long query would otherwise be cut into
// characters again for each name.
struct Query {
  explicit Query(std::string text) : text(std::move(text)), wordPrefix(this->text + " ") {
    ascii = plainAscii(this->text);
    if (!ascii) {
      characters = earshot::characters(this->text);
      wordPrefixCharacters = earshot::characters(wordPrefix);
    }
    length = ascii ? this->text.size() : characters.size();
  }

  // The loose tests of one name: its score, or 0 when none fits.
  double loose(const std::string& name) const {
    const std::size_t limit = length <= 7 ? 1 : 2;
    if (ascii && plainAscii(name)) {
      if (beginsWith(name, wordPrefix)) return 0.8;
      if (length >= 4 && name.starts_with(text)) return 0.8;
      if (length <= 4 || name.size() < 5) return 0;
      return withinDistance(std::string_view(name), std::string_view(text), limit) ? 0.6 : 0;
    }
    const std::vector<std::string> letters = earshot::characters(name);
    const std::vector<std::string>& prefix = ascii ? asciiPrefix() : wordPrefixCharacters;
    const std::vector<std::string>& whole = ascii ? asciiQuery() : characters;
    if (beginsWithCharacters(letters, prefix)) return 0.8;
    if (length >= 4 && beginsWithCharacters(letters, whole)) return 0.8;
    if (length <= 4 || letters.size() < 5) return 0;
    // A name whose length differs by more than the limit can never be within it.
    const std::size_t apart =
        letters.size() > length ? letters.size() - length : length - letters.size();
    if (apart > limit) return 0;
    return withinDistance(letters, whole, limit) ? 0.6 : 0;
  }

  std::string text;
  std::string wordPrefix;
  bool ascii = true;
  std::size_t length = 0;
  std::vector<std::string> characters;  // only when not plain ASCII
  std::vector<std::string> wordPrefixCharacters;

 private:
  // An ASCII query met by a name that is not: compared character by character all the same.
  const std::vector<std::string>& asciiQuery() const {
    if (!asciiCharacters_) asciiCharacters_ = earshot::characters(text);
    return *asciiCharacters_;
  }
  const std::vector<std::string>& asciiPrefix() const {
    if (!asciiPrefixCharacters_) asciiPrefixCharacters_ = earshot::characters(wordPrefix);
    return *asciiPrefixCharacters_;
  }
  mutable std::optional<std::vector<std::string>> asciiCharacters_;
  mutable std::optional<std::vector<std::string>> asciiPrefixCharacters_;
};

struct Candidate {
  AppRef app;
  double score;
};

}  // namespace

const std::vector<std::string>& AppCatalog::fillerWords() {
  static const std::vector<std::string> words(::earshot::fillerWords.begin(),
                                              ::earshot::fillerWords.end());
  return words;
}

std::string AppCatalog::named(std::string_view text) {
  const std::string folded = plain(text);
  std::vector<std::string_view> words;
  std::string_view rest = folded;
  while (!rest.empty()) {
    auto space = rest.find(' ');
    words.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  std::size_t first = 0;
  while (words.size() - first >= 2 && filler(words[first])) ++first;
  std::string query;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (!query.empty()) query.push_back(' ');
    query.append(words[i]);
  }
  return query;
}

std::size_t AppCatalog::distance(std::string_view a, std::string_view b) {
  // Every ASCII character but a carriage return is a character of its own.
  if (plainAscii(a) && plainAscii(b)) return levenshtein(a, b);
  return levenshtein(characters(a), characters(b));
}

bool withinEditDistance(std::string_view a, std::string_view b, std::size_t limit) {
  if (plainAscii(a) && plainAscii(b)) return withinDistance(a, b, limit);
  return withinDistance(characters(a), characters(b), limit);
}

std::optional<AppRef> AppCatalog::app(std::string_view text, bool exact) const {
  const std::string query = named(text);
  if (query.empty()) return std::nullopt;

  static const std::vector<std::string> none;
  const auto& table = nicknames();
  auto listed = table.find(query);
  const std::vector<std::string>& nicknameList = listed == table.end() ? none : listed->second;
  const Query prepared(query);

  std::vector<Candidate> candidates;
  std::unordered_map<std::string, std::size_t> byPath;
  auto holder = [&](const AppRef& app) -> Candidate* {
    auto at = byPath.find(app.path);
    return at == byPath.end() ? nullptr : &candidates[at->second];
  };
  // The row that gives the new score is the one answered: two rows may share a path.
  auto set = [&](const AppRef& app, double score) {
    if (Candidate* held = holder(app)) {
      *held = {app, score};
      return;
    }
    candidates.push_back({app, score});
    byPath.emplace(candidates.back().app.path, candidates.size() - 1);
  };
  auto offer = [&](const AppRef& app, double score) {
    const Candidate* held = holder(app);
    if (!held || held->score < score) set(app, score);
  };

  for (const auto& entry : entries) {
    for (const auto& name : entry.names) {
      if (name == query) {
        const Candidate* held = holder(entry.app);
        if (!held || held->score < 1.0) set(entry.app, 1.0);
        continue;
      }
      if (auto at = std::find(nicknameList.begin(), nicknameList.end(), name);
          at != nicknameList.end()) {
        const double score = 0.9 - 0.01 * static_cast<double>(at - nicknameList.begin());
        offer(entry.app, score);
        continue;
      }
      if (exact) continue;
      // Character by character: a space may join a following mark into one character.
      if (const double score = prepared.loose(name); score > 0) offer(entry.app, score);
    }
  }

  if (candidates.empty()) return std::nullopt;
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) {
                     if (a.score != b.score) return a.score > b.score;
                     if (a.app.isRunning != b.app.isRunning) return a.app.isRunning;
                     return characterCount(a.app.name) < characterCount(b.app.name);
                   });
  const Candidate& best = candidates.front();
  if (best.score < 0.6) return std::nullopt;
  if (best.score >= 0.8 || candidates.size() == 1) return best.app;
  if (best.score != candidates[1].score) return best.app;
  return std::nullopt;
}

}  // namespace earshot
