// Presses Print through XTest whenever a line arrives on standard input, and answers each with
// the CLOCK_MONOTONIC time (seconds) taken just before the press was sent to the server. The
// same clock as Python's time.monotonic(), so the driver of bench/road/run-road.sh can subtract
// it from the moment its receiver saw the upload's last byte.

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

xcb_keycode_t PrintKeycode(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* map = xcb_get_keyboard_mapping_reply(
        c, xcb_get_keyboard_mapping(c, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    xcb_keycode_t found = 0;
    if (map != nullptr) {
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        for (int i = 0; i < count * map->keysyms_per_keycode && found == 0; ++i) {
            if (syms[i] == 0xff61) // Print
                found =
                    static_cast<xcb_keycode_t>(setup->min_keycode + i / map->keysyms_per_keycode);
        }
        std::free(map);
    }
    return found;
}

void Fake(xcb_connection_t* c, std::uint8_t type, xcb_keycode_t code) {
    xcb_test_fake_input(c, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

} // namespace

int main() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "road_press: no X display\n");
        return 1;
    }
    const xcb_keycode_t code = PrintKeycode(c);
    if (code == 0) {
        std::fprintf(stderr, "road_press: no keycode for Print\n");
        return 1;
    }
    for (std::string line; std::getline(std::cin, line);) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        Fake(c, XCB_KEY_PRESS, code);
        Fake(c, XCB_KEY_RELEASE, code);
        // A round trip: both events have reached the server when the answer goes out.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        std::printf("%lld.%09ld\n", static_cast<long long>(now.tv_sec), now.tv_nsec);
        std::fflush(stdout);
    }
    xcb_disconnect(c);
    return 0;
}
