#pragma once

// What a long-running controller tells the host, handed down by the cli: the controllers decide
// which events to send, the cli writes them and turns errors into their payloads.

#include <exception>
#include <functional>
#include <nlohmann/json.hpp>
#include <string_view>

namespace earshot {

struct EventSink {
  std::function<void(std::string_view name, const nlohmann::json& payload)> emit;
  // The payload of an "error" event for `error`.
  std::function<nlohmann::json(std::exception_ptr error)> reason;
  // Ends the process with a status, after the last event.
  std::function<void(int status)> exit;

  void send(std::string_view name, const nlohmann::json& payload = nlohmann::json::object()) const {
    emit(name, payload);
  }
};

}  // namespace earshot
