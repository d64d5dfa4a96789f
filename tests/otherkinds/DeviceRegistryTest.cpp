// The device registry: a device registered from a static object in the file
// that defines it is published before the program runs; a new registration
// frees the one it replaces; clearing unpublishes every kind.
#include <gtest/gtest.h>

#include <memory>

#include "otherkinds/core/DeviceRegistryUnit.h"

namespace ostra {
namespace {

int LiveMembers = 0;

struct TCountedMember : TBaseMember {
    TCountedMember() { ++LiveMembers; }
    ~TCountedMember() override { --LiveMembers; }
};

// As a build for interface kind 3 hands in its device.
TDeviceRegistration registration{std::make_unique<TCountedMember>()};

TEST(DeviceRegistry, PublishesReplacesAndClears) {
    // Registered before main ran.
    ASSERT_NE(Member.load(), nullptr);
    EXPECT_NE(dynamic_cast<TCountedMember*>(Member.load()), nullptr);
    EXPECT_EQ(LiveMembers, 1);

    auto replacement = std::make_unique<TCountedMember>();
    TBaseMember* second = replacement.get();
    RegisterDevice(std::move(replacement));
    EXPECT_EQ(Member.load(), second);
    EXPECT_EQ(LiveMembers, 1);  // the first one is freed

    auto hand = std::make_unique<TBaseHand>();
    TBaseHand* handDevice = hand.get();
    RegisterDevice(std::move(hand));
    RegisterDevice(std::make_unique<TBasePolice>());
    EXPECT_EQ(Hand.load(), handDevice);
    EXPECT_NE(Police.load(), nullptr);

    // The base devices do nothing and report failure.
    std::string handNo = "x";
    EXPECT_FALSE(Hand.load()->ReadCard(handNo));
    EXPECT_EQ(Police.load()->GetGuest(), nullptr);

    ClearDevices();
    EXPECT_EQ(Member.load(), nullptr);
    EXPECT_EQ(Hand.load(), nullptr);
    EXPECT_EQ(Police.load(), nullptr);
    EXPECT_EQ(LiveMembers, 0);
}

}  // namespace
}  // namespace ostra
