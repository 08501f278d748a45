#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Language.hpp"
#include "core/VoiceKeyCombo.hpp"
#include "listener/Ear.hpp"
#include "support/EventCapture.hpp"
#include "support/FakePlatform.hpp"
#include "support/SimulatedLoop.hpp"

namespace earshot::testing {

// A listener on the fake platform in virtual time, English, the key table filled; its events are
// captured and its exit statuses recorded.
class ListeningFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fillVoiceKeys();
    spoken = Language::english;
    fake.speech.supported = {"en_US"};
  }
  void TearDown() override { spoken = Language::portuguese; }

  // A started listener for `key`, settled.
  std::shared_ptr<Ear> startEar(std::string key = "auto") {
    auto ear = std::make_shared<Ear>(fake.platform, std::move(key), recordingSink(exits));
    ear->start();
    loop.runUntilIdle();
    return ear;
  }

  FakePlatform fake;
  SimulatedLoop& loop = fake.loop;
  EventCapture events;
  std::vector<int> exits;
};

}  // namespace earshot::testing
