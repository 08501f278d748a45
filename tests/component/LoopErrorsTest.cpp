// Every component test fails when a main loop drops an exception: a callback that throws (a timer,
// posted work, a watch) would otherwise pass unseen, since the loop only counts it and goes on.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "dictation/Dictation.hpp"
#include "support/EventCapture.hpp"
#include "support/FakePlatform.hpp"

using namespace earshot;

namespace {

void failOnDrop(std::exception_ptr error) {
  std::string text = "an exception that is not a std::exception";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& thrown) {
    text = thrown.what();
  } catch (...) {
  }
  ADD_FAILURE() << "the main loop dropped an error: " << text;
}

class FailOnDroppedErrors : public ::testing::Environment {
 public:
  void SetUp() override { MainLoop::observeDroppedErrors(failOnDrop); }
  void TearDown() override { MainLoop::observeDroppedErrors(nullptr); }
};

[[maybe_unused]] const auto* const registered =
    ::testing::AddGlobalTestEnvironment(new FailOnDroppedErrors);

}  // namespace

TEST(LoopErrors, AThrowingControllerCallbackFailsTheTest) {
  struct Row {
    const char* throwsOn;
    int failures;
  };
  // The dictation's time limit cancels it from a timer: the sink's throw reaches the loop.
  spoken = Language::english;
  struct Restore {
    ~Restore() { spoken = Language::portuguese; }
  } restore;
  for (const Row& row : {Row{"cancelled", 1}, Row{"never", 0}}) {
    ::testing::TestPartResultArray failures;
    {
      ::testing::ScopedFakeTestPartResultReporter reporter(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
      earshot::testing::FakePlatform fake;
      fake.speech.nextAnalyzer = std::make_shared<earshot::testing::FakeAnalyzer>();
      earshot::testing::EventCapture events;
      std::vector<int> exits;
      EventSink sink = earshot::testing::recordingSink(exits);
      sink.emit = [emit = sink.emit, row](std::string_view name, const nlohmann::json& payload) {
        if (name == row.throwsOn) throw std::runtime_error("the host went away");
        emit(name, payload);
      };
      auto dictation = std::make_shared<Dictation>(fake.platform, sink);
      dictation->start();
      fake.loop.advance(seconds(Dictation::timeLimit + 1));
      fake.loop.runUntilIdle();
    }
    ASSERT_EQ(failures.size(), row.failures) << row.throwsOn;
    if (row.failures > 0) {
      EXPECT_NE(std::string(failures.GetTestPartResult(0).message())
                    .find("the main loop dropped an error: the host went away"),
                std::string::npos);
    }
  }
}
