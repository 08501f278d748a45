#pragma once

// Transcribing an audio file as if it came from the microphone: the same shaping and the same
// capture callback, fed from the decoded file instead of the capture thread.

#include <cstdint>
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
// into 2048-frame buffers whose every channel carries the same samples.
std::vector<PcmBufferRef> microphoneBuffers(AudioToolkit& audio, const std::string& path,
                                            const AudioFormat& format);

// The file's transcript through the microphone path, trimmed. Blocks the calling thread, which
// must not be the main one. With a vocabulary, the application command heard, or "".
std::string transcribeLikeMicrophone(AudioToolkit& audio, SpeechService& speech,
                                     const std::string& path, Language language,
                                     std::uint32_t channels = 3,
                                     std::optional<AppVocabulary> vocabulary = {});

}  // namespace earshot
