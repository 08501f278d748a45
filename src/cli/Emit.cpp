#include "cli/Emit.hpp"

#include <unistd.h>

#include <cerrno>

namespace earshot {

Output& output() {
  static Output instance;
  return instance;
}

std::string eventLine(std::string_view name, const Payload& payload) {
  try {
    Json object = payload.is_null() ? Json::object() : payload;
    if (!object.is_object()) return {};
    object["event"] = std::string(name);
    // Invalid UTF-8 (possible in Linux file names) is replaced, not dropped: a one-shot answer
    // must never vanish because of one bad byte.
    std::string line = object.dump(-1, ' ', false, Json::error_handler_t::replace);
    line.push_back('\n');
    return line;
  } catch (...) {
    return {};
  }
}

void emit(std::string_view name, const Payload& payload) {
  const std::string line = eventLine(name, payload);
  if (line.empty()) return;
  Output& out = output();
  std::lock_guard guard(out.lock);
  const char* data = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t written = ::write(out.fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // the host closed its end; nothing to report to
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
}

Answer::Answer(Exit exitProcess) : exit_(std::move(exitProcess)) {}

void Answer::give(std::string_view name, const Payload& payload, int status) {
  {
    std::lock_guard guard(lock_);
    if (given_) return;
    given_ = true;
  }
  emit(name, payload);
  exit_(status);
}

void Answer::terminate(int status) {
  ::_exit(status);
}

}  // namespace earshot
