#include "cli/Commands.hpp"

#include <unicode/uchar.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

#include "core/Trim.hpp"

namespace earshot {

namespace {

// Longer than any command; what lies beyond is never looked at.
constexpr std::size_t longestLine = 4096;

bool blank(std::int32_t c) {
  return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR;
}

std::string_view trimmedBlanks(std::string_view line) {
  return trimmedCodePoints(line, blank);
}

}  // namespace

std::optional<DictationCommand> dictationCommand(std::string_view line) {
  if (line.size() > longestLine) return std::nullopt;
  const std::string_view word = trimmedBlanks(line);
  if (word == "stop") return DictationCommand::stop;
  if (word == "cancel") return DictationCommand::cancel;
  return std::nullopt;
}

std::vector<std::string> commandWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t space = line.find(' ', start);
    if (space == std::string_view::npos) space = line.size();
    if (space > start) words.emplace_back(line.substr(start, space - start));
    start = space + 1;
  }
  return words;
}

void readLines(int fd, std::function<void(std::string line)> line, std::function<void()> end) {
  std::thread([fd, line = std::move(line), end = std::move(end)] {
    std::string current;
    bool overlong = false;
    char chunk[4096];
    for (;;) {
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      for (ssize_t i = 0; i < got; ++i) {
        if (chunk[i] != '\n') {
          if (current.size() < longestLine + 1)
            current.push_back(chunk[i]);
          else
            overlong = true;
          continue;
        }
        if (!current.empty() && current.back() == '\r' && !overlong) current.pop_back();
        line(std::move(current));
        current.clear();
        overlong = false;
      }
    }
    // A last line without its line feed still counts.
    if (!current.empty()) line(std::move(current));
    end();
  }).detach();
}

}  // namespace earshot
