#include "platform/x11/x11_parts.h"

#include "text/qt_cp1252.h"

#include <QDesktopServices>
#include <QUrl>

#include <xcb/xtest.h>

#include <cstdlib>

namespace glimmerly::platform::x11 {

namespace {
constexpr std::uint32_t kShiftLKeysym = 0xffe1;
}

void X11Shell::Open(const std::string& address) {
    const QUrl url(cp1252::ToQString(address), QUrl::TolerantMode);
    if (!url.isValid() || url.isEmpty()) {
        return;
    }
    QDesktopServices::openUrl(url);
}

void X11Shell::FakeShift(std::uint8_t type) {
    xcb_connection_t* c = context_->connection();
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(c, &xcb_test_id);
    if (xtest == nullptr || !xtest->present) {
        return;
    }
    const std::vector<xcb_keycode_t> codes = KeycodesOf(c, kShiftLKeysym);
    if (codes.empty()) {
        return;
    }
    xcb_test_fake_input(c, type, codes.front(), XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    xcb_flush(c);
}

void X11Shell::PressShift() {
    FakeShift(XCB_KEY_PRESS);
}

void X11Shell::ReleaseShift() {
    FakeShift(XCB_KEY_RELEASE);
}

} // namespace glimmerly::platform::x11
