#pragma once

#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace earshot {

using Json = nlohmann::json;
// An event's payload: a JSON object (string keys). An empty payload is written as just the name.
using Payload = nlohmann::json;

// Where event lines go: standard output unless a test redirects it. Set once at start-up.
struct Output {
  int fd = 1;
  std::mutex lock;
};
Output& output();

// The event line for `name` and `payload`: compact JSON, "/" unescaped, raw UTF-8 (invalid byte
// sequences become U+FFFD), ending in one line feed. Empty when the payload is not an object.
std::string eventLine(std::string_view name, const Payload& payload = Payload::object());

// Writes one event line under the output lock in one write. Callable from any thread; never throws.
void emit(std::string_view name, const Payload& payload = Payload::object());

// Lets exactly one of several competing parties deliver the final event of a one-shot mode and
// end the process with its status.
class Answer {
 public:
  using Exit = std::function<void(int status)>;
  // `exitProcess` ends the process; tests pass a recorder instead.
  explicit Answer(Exit exitProcess = terminate);

  // The first call emits and exits; every later call does nothing.
  void give(std::string_view name, const Payload& payload, int status);

  // Ends the process at once: no destructors run while other threads still use the globals.
  static void terminate(int status);

 private:
  std::mutex lock_;
  bool given_ = false;
  Exit exit_;
};

}  // namespace earshot
