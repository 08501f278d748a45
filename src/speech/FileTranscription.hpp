#pragma once

// Transcribing an audio file as if it came from the microphone: the same shaping and the same
// capture callback, fed from the decoded file instead of the capture thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Language.hpp"
#include "platform/Audio.hpp"
#include "platform/Speech.hpp"

namespace earshot {

// 32-bit float, 48 kHz, not interleaved, discrete-in-order layout with `channels` channels.
std::optional<AudioFormat> microphoneLike(std::uint32_t channels);

// The file decoded, reduced to one channel at `format`'s rate, framed by 0.3 s of silence, cut
// into 2048-frame buffers whose every channel carries the same samples. Decodes and converts
// `pieceFrames` file frames at a time, as the buffers are taken, so that what it holds does not
// grow with the file; the resampler keeps its history across pieces and is flushed at the end, so
// the piece size does not change the buffers.
class MicrophoneFeed {
 public:
  static constexpr std::uint32_t defaultPieceFrames = 65536;

  // Opens the file; throws PlatformError when it cannot be read, notRunning when the service
  // refuses the formats.
  MicrophoneFeed(AudioToolkit& audio, const std::string& path, const AudioFormat& format,
                 std::uint32_t pieceFrames = defaultPieceFrames);
  MicrophoneFeed(const MicrophoneFeed&) = delete;
  MicrophoneFeed& operator=(const MicrophoneFeed&) = delete;

  // The next buffer, or null after the last. Throws PlatformError when decoding or conversion
  // fails.
  PcmBufferRef next();

 private:
  void refill();
  const PcmBuffer* nextPiece(AudioConverter::InputStatus& status);

  AudioFormat format_;
  std::unique_ptr<AudioFile> file_;
  std::unique_ptr<AudioConverter> converter_;
  PcmBufferRef piece_;  // file frames at the file's format
  PcmBufferRef mono_;   // converted frames not handed out yet start at `position_`
  std::uint32_t position_ = 0;
  std::uint64_t leading_;   // silence frames still to give before the file
  std::uint64_t trailing_;  // and after it
  bool fileEnded_ = false;
  bool converted_ = false;  // the converter has flushed its last frames
};

// Every buffer of `MicrophoneFeed` at once (for short files).
std::vector<PcmBufferRef> microphoneBuffers(
    AudioToolkit& audio, const std::string& path, const AudioFormat& format,
    std::uint32_t pieceFrames = MicrophoneFeed::defaultPieceFrames);

// The file's transcript through the microphone path, trimmed. Blocks the calling thread, which
// must not be the main one. The analyzer's input holds a bounded number of buffers: decoding waits
// for the analyzer, so memory does not grow with the file. With a vocabulary, the application
// command heard, or "".
std::string transcribeLikeMicrophone(AudioToolkit& audio, SpeechService& speech,
                                     const std::string& path, Language language,
                                     std::uint32_t channels = 3,
                                     std::uint32_t pieceFrames = MicrophoneFeed::defaultPieceFrames,
                                     std::optional<AppVocabulary> vocabulary = {});

// Analyzer inputs queued at most during a file transcription (about 2.7 s of audio).
constexpr std::size_t fileInputBacklog = 64;

}  // namespace earshot
