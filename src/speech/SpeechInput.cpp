#include "speech/SpeechInput.hpp"

#include "async/MainLoop.hpp"

namespace earshot {

SpeechInput::CaptureCallback SpeechInput::tap(std::shared_ptr<Shapers> shapers,
                                              std::shared_ptr<LevelSink> level,
                                              AnalyzerInputStream into) {
  return [shapers, level, into](const PcmBufferRef& buffer, std::uint64_t) mutable {
    if (!buffer) return;
    auto shaper = shapers->shaper(buffer->format());
    if (!shaper) return;
    auto mono = shaper->mono(*buffer);
    if (!mono) return;
    level->consume(*mono);
    auto converted = shaper->convert(*mono);
    if (!converted) return;
    into.yield(AnalyzerInput{std::move(converted)});
  };
}

std::shared_ptr<LevelSink> SpeechInput::levels(std::int64_t id) {
  MainLoop* loop = &platform_.loop;
  std::weak_ptr<SpeechInput> speech = weak_from_this();
  // The throttle reads the loop's clock, so that virtual time drives it in tests too.
  return std::make_shared<LevelSink>(
      [loop, id, speech](float value) {
        loop->post([id, speech, value] {
          auto input = speech.lock();
          if (input && input->onLevel) input->onLevel(id, value);
        });
      },
      [loop] { return loop->now(); });
}

std::shared_ptr<PartialSink> SpeechInput::partials(std::int64_t id) {
  MainLoop* loop = &platform_.loop;
  std::weak_ptr<SpeechInput> speech = weak_from_this();
  return std::make_shared<PartialSink>([loop, id, speech](const std::string& text) {
    loop->post([id, speech, text] {
      auto input = speech.lock();
      if (input && input->onPartial) input->onPartial(id, text);
    });
  });
}

Co<void> prepareQuietly(std::shared_ptr<SpeechInput> speech, Language language) {
  try {
    co_await speech->recognizer().prepare(language);
  } catch (...) {
    // The take reports its own failure.
  }
}

}  // namespace earshot
