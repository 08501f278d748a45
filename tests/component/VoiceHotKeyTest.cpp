#include <gtest/gtest.h>

#include "hotkeys/VoiceHotKey.hpp"
#include "support/FakeHotKeyService.hpp"

using earshot::HotKeyService;
using earshot::VoiceHotKey;
using earshot::VoiceKeyCombo;
using earshot::testing::FakeHotKeyService;

namespace {

const VoiceKeyCombo optionSpace = VoiceKeyCombo::optionSpace;
const VoiceKeyCombo controlOptionSpace = VoiceKeyCombo::controlOptionSpace;

// A hot key on the fake service that counts its callbacks; nothing stays registered after a test.
class HotKeys : public ::testing::Test {
 protected:
  std::shared_ptr<VoiceHotKey> counted() {
    auto key = VoiceHotKey::make(service);
    key->onDown = [this] { ++downs; };
    key->onUp = [this] { ++ups; };
    keys.push_back(key);
    return key;
  }
  void TearDown() override {
    for (auto& key : keys) key->unregister();
    EXPECT_EQ(VoiceHotKey::registeredCount(), 0u);
  }

  FakeHotKeyService service;
  std::vector<std::shared_ptr<VoiceHotKey>> keys;
  int downs = 0;
  int ups = 0;
};

VoiceHotKey::Failure failureOf(VoiceHotKey& key, VoiceKeyCombo combo) {
  try {
    key.registerCombo(combo);
  } catch (const VoiceHotKey::Failure& failure) {
    return failure;
  }
  ADD_FAILURE() << "registered";
  return VoiceHotKey::Failure::failed(12345);
}

}  // namespace

TEST_F(HotKeys, NumbersOnlyGrowAndAreNeverZero) {
  auto first = VoiceHotKey::make(service);
  auto second = VoiceHotKey::make(service);
  EXPECT_GT(first->id(), 0u);
  EXPECT_EQ(second->id(), first->id() + 1);
  first.reset();
  EXPECT_GT(VoiceHotKey::make(service)->id(), second->id());
}

TEST_F(HotKeys, OnePressAndOneReleaseHoweverManyRepeats) {
  auto key = counted();
  key->registerCombo(optionSpace);
  ASSERT_TRUE(service.press(optionSpace));
  service.press(optionSpace);
  service.press(optionSpace);
  EXPECT_EQ(downs, 1);
  EXPECT_TRUE(key->isDown());
  service.release(optionSpace);
  service.release(optionSpace);
  EXPECT_EQ(ups, 1);
  EXPECT_FALSE(key->isDown());
  // A release while up calls nothing; the next press is a new press.
  service.press(optionSpace);
  EXPECT_EQ(downs, 2);
}

TEST_F(HotKeys, ForgetDropsTheLateReleaseAndLetsTheNextPressThrough) {
  auto key = counted();
  key->registerCombo(optionSpace);
  service.press(optionSpace);
  key->forget();
  EXPECT_FALSE(key->isDown());
  EXPECT_EQ(key->combo(), optionSpace);
  service.release(optionSpace);
  EXPECT_EQ(ups, 0);
  service.press(optionSpace);
  EXPECT_EQ(downs, 2);
}

TEST_F(HotKeys, UnregisteringInsideOnDownGetsNoRelease) {
  auto key = counted();
  key->onDown = [this, raw = key.get()] {
    ++downs;
    raw->unregister();
  };
  key->registerCombo(optionSpace);
  std::weak_ptr<VoiceHotKey> watched = key;
  keys.clear();
  key.reset();
  // Only the registry held it; it stays alive through its own callback.
  service.press(optionSpace);
  EXPECT_EQ(downs, 1);
  EXPECT_TRUE(service.registered().empty());
  EXPECT_FALSE(service.release(optionSpace));
  EXPECT_EQ(ups, 0);
  EXPECT_TRUE(watched.expired());
}

TEST_F(HotKeys, TheRegistryKeepsARegisteredKeyAlive) {
  auto key = counted();
  key->registerCombo(optionSpace);
  std::weak_ptr<VoiceHotKey> watched = key;
  keys.clear();
  key.reset();
  ASSERT_FALSE(watched.expired());
  service.press(optionSpace);
  EXPECT_EQ(downs, 1);
  watched.lock()->unregister();
  EXPECT_TRUE(watched.expired());
}

TEST_F(HotKeys, RegisteringAgainReplacesTheChordUnderTheSameNumber) {
  auto key = counted();
  key->registerCombo(optionSpace);
  const auto id = key->id();
  key->registerCombo(controlOptionSpace);
  EXPECT_EQ(key->id(), id);
  EXPECT_EQ(key->combo(), controlOptionSpace);
  EXPECT_EQ(service.registered(), std::set<VoiceKeyCombo>{controlOptionSpace});
  EXPECT_EQ(VoiceHotKey::registeredCount(), 1u);
  EXPECT_FALSE(service.press(optionSpace));
  service.press(controlOptionSpace);
  EXPECT_EQ(downs, 1);
  // Replacing while down starts the new chord up: its first release calls nothing.
  key->registerCombo(optionSpace);
  EXPECT_FALSE(key->isDown());
  service.release(optionSpace);
  EXPECT_EQ(ups, 0);
  // Its own chord is no obstacle: the old registration goes before the new one is asked for.
  key->registerCombo(optionSpace);
  EXPECT_EQ(key->combo(), optionSpace);
  EXPECT_EQ(service.registered(), std::set<VoiceKeyCombo>{optionSpace});
  EXPECT_EQ(VoiceHotKey::registeredCount(), 1u);
}

TEST_F(HotKeys, TakenAndFailedCarryTheirCauseAndLeaveTheKeyUnregistered) {
  auto key = counted();
  key->registerCombo(optionSpace);

  service.refusals[controlOptionSpace] = HotKeyService::alreadyRegistered;
  EXPECT_EQ(failureOf(*key, controlOptionSpace), VoiceHotKey::Failure::taken());
  EXPECT_FALSE(key->combo());
  EXPECT_TRUE(service.registered().empty());
  EXPECT_EQ(VoiceHotKey::registeredCount(), 0u);

  service.refusals[controlOptionSpace] = -50;
  auto failed = failureOf(*key, controlOptionSpace);
  EXPECT_EQ(failed.kind(), VoiceHotKey::Failure::Case::failed);
  EXPECT_EQ(failed.status(), -50);
  EXPECT_STREQ(failed.what(), "failed(-50)");

  service.withoutHandle.insert(optionSpace);
  EXPECT_EQ(failureOf(*key, optionSpace), VoiceHotKey::Failure::failed(0));
  EXPECT_FALSE(key->combo());
  EXPECT_EQ(VoiceHotKey::registeredCount(), 0u);
}

TEST_F(HotKeys, AChordHeldByAnotherKeyOfThisProcessIsTaken) {
  auto first = counted();
  auto second = counted();
  first->registerCombo(optionSpace);
  EXPECT_EQ(failureOf(*second, optionSpace), VoiceHotKey::Failure::taken());
  EXPECT_EQ(first->combo(), optionSpace);
}

TEST_F(HotKeys, AFailedInstallationIsTriedAgainNextTime) {
  auto key = counted();
  service.installStatus = -9868;
  EXPECT_EQ(failureOf(*key, optionSpace), VoiceHotKey::Failure::failed(-9868));
  EXPECT_EQ(service.adds, 0);
  service.installStatus = 0;
  key->registerCombo(optionSpace);
  auto other = counted();
  other->registerCombo(controlOptionSpace);
  EXPECT_EQ(service.installs, 2);
}

TEST_F(HotKeys, UnregisterIsHarmlessWhenNothingIsRegistered) {
  auto key = counted();
  key->unregister();
  key->unregister();
  EXPECT_EQ(service.removes, 0);
  key->registerCombo(optionSpace);
  key->unregister();
  key->unregister();
  EXPECT_EQ(service.removes, 1);
}

TEST_F(HotKeys, EventsOfOthersAndOfUnknownNumbersAreIgnored) {
  auto key = counted();
  key->registerCombo(optionSpace);
  service.deliver({VoiceHotKey::signature + 1, key->id()}, true);
  service.deliver({VoiceHotKey::signature, key->id() + 1000}, true);
  service.deliver({VoiceHotKey::signature, 0}, true);
  EXPECT_EQ(downs, 0);
  service.deliver({VoiceHotKey::signature, key->id()}, true);
  EXPECT_EQ(downs, 1);
}

TEST_F(HotKeys, CallbacksAreReadAtDeliveryAndMayReplaceThemselves) {
  auto key = VoiceHotKey::make(service);
  keys.push_back(key);
  key->registerCombo(optionSpace);
  service.press(optionSpace);  // no callbacks yet: still counts as down
  service.release(optionSpace);
  std::vector<std::string> calls;
  key->onDown = [&calls, raw = key.get()] {
    raw->onDown = nullptr;  // destroys the callback that is running
    calls.push_back("down");
  };
  key->onUp = [&calls] { calls.push_back("up"); };
  service.press(optionSpace);
  service.release(optionSpace);
  service.press(optionSpace);
  EXPECT_EQ(calls, (std::vector<std::string>{"down", "up"}));
}

TEST_F(HotKeys, OneKeysCallbackMayRegisterAnother) {
  auto escape = counted();
  auto key = counted();
  key->onDown = [&] { escape->registerCombo(VoiceKeyCombo::escape); };
  key->onUp = [&] { escape->unregister(); };
  key->registerCombo(optionSpace);
  service.press(optionSpace);
  EXPECT_EQ(escape->combo(), VoiceKeyCombo::escape);
  service.press(VoiceKeyCombo::escape);
  EXPECT_EQ(downs, 1);
  service.release(optionSpace);
  EXPECT_FALSE(escape->combo());
}

// A service about to go away takes its registrations along, and only its own.
TEST_F(HotKeys, UnregisterAllDropsTheKeysOfThatServiceOnly) {
  FakeHotKeyService other;
  auto mine = counted();
  mine->registerCombo(optionSpace);
  auto theirs = VoiceHotKey::make(other);
  theirs->registerCombo(controlOptionSpace);
  std::weak_ptr<VoiceHotKey> kept = theirs;
  theirs.reset();

  VoiceHotKey::unregisterAll(other);
  EXPECT_TRUE(kept.expired());
  EXPECT_TRUE(other.registered().empty());
  EXPECT_EQ(VoiceHotKey::registeredCount(), 1u);
  EXPECT_FALSE(other.press(controlOptionSpace));
  EXPECT_TRUE(service.press(optionSpace));
  EXPECT_EQ(downs, 1);
}
