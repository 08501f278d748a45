#include "cli/Commands.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

namespace earshot {

namespace {

// Longer than any command; what lies beyond is never looked at.
constexpr std::size_t longestLine = 4096;

bool blank(UChar32 c) {
  return c == '\t' || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR);
}

std::string_view trimmedBlanks(std::string_view line) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.data());
  const auto length = static_cast<std::int32_t>(line.size());
  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c;
    U8_NEXT(bytes, next, length, c);
    if (!blank(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U8_PREV(bytes, begin, previous, c);
    if (!blank(c)) break;
    end = previous;
  }
  return line.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
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
