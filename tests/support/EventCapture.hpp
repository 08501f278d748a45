#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/EventSink.hpp"

namespace earshot::testing {

// Sends the event lines written while it lives to a private file instead of standard output.
// Any thread may emit; what a read sees is every line written before it.
class EventCapture {
 public:
  EventCapture();
  ~EventCapture();
  EventCapture(const EventCapture&) = delete;
  EventCapture& operator=(const EventCapture&) = delete;

  // Every line written so far, as written, without its line feed.
  std::vector<std::string> lines() const;
  // The lines not taken yet, parsed; they count as taken.
  std::vector<nlohmann::json> take();
  // The first line not taken yet, parsed; a test failure and null when there is none.
  nlohmann::json next();

 private:
  int fd_ = -1;
  int saved_ = 1;
  std::string path_;
  std::size_t taken_ = 0;
};

// The cli's own events (written where an EventCapture sends them), with exits recorded in
// `exits` instead of ending the test.
EventSink recordingSink(std::vector<int>& exits);

}  // namespace earshot::testing
