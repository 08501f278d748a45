#include "support/EventCapture.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "cli/Emit.hpp"
#include "cli/Events.hpp"

namespace earshot::testing {

EventCapture::EventCapture() {
  std::string name = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  name += "/earshot-events-XXXXXX";
  fd_ = ::mkstemp(name.data());
  EXPECT_GE(fd_, 0) << "no file for the event lines";
  path_ = name;
  std::lock_guard guard(output().lock);
  saved_ = output().fd;
  if (fd_ >= 0) output().fd = fd_;
}

EventCapture::~EventCapture() {
  {
    std::lock_guard guard(output().lock);
    output().fd = saved_;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
}

std::vector<std::string> EventCapture::lines() const {
  std::ifstream in(path_, std::ios::binary);
  std::vector<std::string> result;
  // A line still being written has no line feed yet and is not counted.
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1)
    result.push_back(text.substr(start, end - start));
  return result;
}

std::vector<nlohmann::json> EventCapture::take() {
  const auto all = lines();
  std::vector<nlohmann::json> events;
  for (; taken_ < all.size(); ++taken_) events.push_back(nlohmann::json::parse(all[taken_]));
  return events;
}

nlohmann::json EventCapture::next() {
  const auto all = lines();
  if (taken_ >= all.size()) {
    ADD_FAILURE() << "no event line";
    return nullptr;
  }
  return nlohmann::json::parse(all[taken_++]);
}

EventSink recordingSink(std::vector<int>& exits) {
  EventSink sink = cliEvents();
  sink.exit = [&exits](int status) { exits.push_back(status); };
  return sink;
}

}  // namespace earshot::testing
