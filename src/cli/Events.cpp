#include "cli/Events.hpp"

#include "cli/Emit.hpp"
#include "cli/Reason.hpp"

namespace earshot {

EventSink cliEvents() {
  return {[](std::string_view name, const nlohmann::json& payload) { emit(name, payload); },
          [](std::exception_ptr error) { return reason(error); }, &Answer::terminate};
}

}  // namespace earshot
