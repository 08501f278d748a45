#include <gtest/gtest.h>

#include "hotkeys/VoiceHotKey.hpp"
#include "speech/Failure.hpp"

using earshot::SpeechFailure;
using earshot::VoiceHotKey;

TEST(FailureEquality, SpeechFailuresCompareByCaseAndLocale) {
  EXPECT_EQ(SpeechFailure::localeUnsupported("pt_BR"), SpeechFailure::localeUnsupported("pt_BR"));
  EXPECT_NE(SpeechFailure::localeUnsupported("pt_BR"), SpeechFailure::localeUnsupported("en_US"));
  EXPECT_NE(SpeechFailure::superseded(), SpeechFailure::letGo());
  EXPECT_EQ(SpeechFailure::noMicrophone(), SpeechFailure::noMicrophone());
}

TEST(FailureEquality, HotKeyFailuresCompareByCaseAndStatus) {
  EXPECT_EQ(VoiceHotKey::Failure::taken(), VoiceHotKey::Failure::taken());
  EXPECT_NE(VoiceHotKey::Failure::taken(), VoiceHotKey::Failure::failed(0));
  EXPECT_NE(VoiceHotKey::Failure::failed(-1), VoiceHotKey::Failure::failed(-2));
  EXPECT_STREQ(VoiceHotKey::Failure::taken().what(), "taken");
  EXPECT_STREQ(VoiceHotKey::Failure::failed(-1).what(), "failed(-1)");
}
