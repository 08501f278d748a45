#include <gtest/gtest.h>

#include "speech/Failure.hpp"

using earshot::SpeechFailure;

TEST(FailureEquality, SpeechFailuresCompareByCaseAndLocale) {
  EXPECT_EQ(SpeechFailure::localeUnsupported("pt_BR"), SpeechFailure::localeUnsupported("pt_BR"));
  EXPECT_NE(SpeechFailure::localeUnsupported("pt_BR"), SpeechFailure::localeUnsupported("en_US"));
  EXPECT_NE(SpeechFailure::superseded(), SpeechFailure::letGo());
  EXPECT_NE(SpeechFailure::notRunning(), SpeechFailure::letGo());
  EXPECT_EQ(SpeechFailure::notRunning(), SpeechFailure::notRunning());
  EXPECT_EQ(SpeechFailure::noMicrophone(), SpeechFailure::noMicrophone());
}
