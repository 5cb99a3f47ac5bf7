#include "platform/platform.h"
#include "platform/wayland/wayland_parts.h"

#include <gtest/gtest.h>

namespace glimmerly::platform {
namespace {

TEST(WaylandGrabRoute, ForcedOrByCompositor) {
    using wayland::ChooseGrabRoute;
    using wayland::GrabRoute;
    EXPECT_EQ(ChooseGrabRoute(nullptr, true), GrabRoute::Grim);
    EXPECT_EQ(ChooseGrabRoute(nullptr, false), GrabRoute::Portal);
    EXPECT_EQ(ChooseGrabRoute("portal", true), GrabRoute::Portal);
    EXPECT_EQ(ChooseGrabRoute("grim", false), GrabRoute::Grim);
    EXPECT_EQ(ChooseGrabRoute("", true), GrabRoute::Grim);
    EXPECT_EQ(ChooseGrabRoute("grim ", false), GrabRoute::Portal); // unknown: not forced
}

TEST(WaylandHotKeys, RegisteringSucceedsSoNoKeyIsReportedTaken) {
    wayland::WaylandHotKeys keys;
    EXPECT_TRUE(keys.Register(101, Key::Print, NoModifier));
    EXPECT_TRUE(keys.Register(102, Key::End, Control));
    keys.DiscardPending();
}

TEST(Notices, WaitForTheHandlerThenPassStraightThrough) {
    Notices notices;
    notices.Post("eins");
    notices.Post("zwei");
    std::vector<std::string> seen;
    notices.SetHandler([&](const std::string& text) { seen.push_back(text); });
    EXPECT_EQ(seen, (std::vector<std::string>{"eins", "zwei"}));
    notices.Post("drei");
    EXPECT_EQ(seen.back(), "drei");
    notices.SetHandler({});
    notices.Post("vier"); // waits again
    std::vector<std::string> later;
    notices.SetHandler([&](const std::string& text) { later.push_back(text); });
    EXPECT_EQ(later, (std::vector<std::string>{"vier"}));
}

} // namespace
} // namespace glimmerly::platform
