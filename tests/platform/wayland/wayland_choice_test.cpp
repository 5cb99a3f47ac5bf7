#include "platform/platform.h"
#include "platform/wayland/wayland_parts.h"
#include "platform/wayland/wayland_platform.h"
#include "tests/support/scoped_variable.h"
#include "text/cp1252.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glimmerly::platform {
namespace {

using glimmerly::testing::ScopedVariable;

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

// No Wayland client may take global keys: the desktop's own binding starts the program with
// --capture instead. The platform therefore never reports Print or Ctrl+End as held by another
// program (the main window would warn of that), and it tells the user how to bind Print; off
// sway, where the active window cannot be asked for, it says so as well. No press ever reaches
// the hot key handler.
TEST(WaylandPlatform, KeysAreNeverReportedTakenAndTheUserLearnsHowToBindPrint) {
    const ScopedVariable route(kWaylandGrabVariable, "portal");
    const ScopedVariable display("WAYLAND_DISPLAY", nullptr);
    const std::string bind = cp1252::FromUtf8(
        "Wayland: Druck-Taste im Desktop an \u201eglimmerly --capture\u201c binden.");
    const std::string unknown = cp1252::FromUtf8(
        "Aktives Fenster unbekannt \u2013 es wird der ganze Bildschirm gespeichert.");
    for (const char* sway : {static_cast<const char*>(nullptr), "/run/user/7/sway-ipc.sock"}) {
        SCOPED_TRACE(sway ? "on sway" : "elsewhere");
        const ScopedVariable socket("SWAYSOCK", sway);
        std::unique_ptr<Platform> platform = CreateWaylandPlatform();
        std::vector<int> pressed;
        platform->hotKeys->SetHandler([&](int id) { pressed.push_back(id); });
        EXPECT_TRUE(platform->hotKeys->Register(101, Key::Print, NoModifier));
        EXPECT_TRUE(platform->hotKeys->Register(102, Key::End, Control));
        platform->hotKeys->DiscardPending();
        std::vector<std::string> told;
        platform->notices->SetHandler([&](const std::string& text) { told.push_back(text); });
        if (sway)
            EXPECT_EQ(told, (std::vector<std::string>{bind}));
        else
            EXPECT_EQ(told, (std::vector<std::string>{bind, unknown}));
        EXPECT_TRUE(pressed.empty());
    }
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
