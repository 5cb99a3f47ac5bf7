#include "platform/x11/x11_parts.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

namespace glimmerly::platform::x11 {

namespace {

constexpr std::uint32_t kPrintKeysym = 0xff61;
constexpr std::uint32_t kEndKeysym = 0xff57;
constexpr std::uint32_t kNumLockKeysym = 0xff7f;
constexpr std::uint16_t kRelevantModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

std::uint16_t XModifiers(unsigned modifiers) {
    std::uint16_t mask = 0;
    if (modifiers & Alt) {
        mask |= XCB_MOD_MASK_1;
    }
    if (modifiers & Control) {
        mask |= XCB_MOD_MASK_CONTROL;
    }
    if (modifiers & Shift) {
        mask |= XCB_MOD_MASK_SHIFT;
    }
    return mask;
}

} // namespace

std::vector<xcb_keycode_t> KeycodesOf(xcb_connection_t* connection, std::uint32_t keysym) {
    std::vector<xcb_keycode_t> keycodes;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* mapping = xcb_get_keyboard_mapping_reply(
        connection,
        xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
        nullptr);
    if (mapping == nullptr) {
        return keycodes;
    }
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping);
    const int perCode = mapping->keysyms_per_keycode;
    const int total = xcb_get_keyboard_mapping_keysyms_length(mapping);
    for (int code = 0; code < count; ++code) {
        for (int column = 0; column < perCode; ++column) {
            const int index = code * perCode + column;
            if (index < total && syms[index] == keysym) {
                keycodes.push_back(static_cast<xcb_keycode_t>(first + code));
                break;
            }
        }
    }
    std::free(mapping);
    return keycodes;
}

X11HotKeys::X11HotKeys(std::shared_ptr<Context> context) : context_(std::move(context)) {
    // Which modifier bit NumLock sits on varies between keyboard maps.
    xcb_connection_t* c = context_->connection();
    const std::vector<xcb_keycode_t> numLock = KeycodesOf(c, kNumLockKeysym);
    if (auto* map = xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr)) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map);
        const int perModifier = map->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                if (code != 0 && std::find(numLock.begin(), numLock.end(), code) != numLock.end()) {
                    numLockMask_ = static_cast<std::uint16_t>(1u << modifier);
                }
            }
        }
        std::free(map);
    }
    // An unmapped window of our own: events sent to it with an empty mask come back to us.
    markerWindow_ = xcb_generate_id(c);
    xcb_create_window(c, 0, markerWindow_, context_->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeys::~X11HotKeys() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    for (const auto& [id, grab] : grabs_) {
        Ungrab(grab);
    }
    xcb_destroy_window(context_->connection(), markerWindow_);
    xcb_flush(context_->connection());
}

std::vector<std::uint16_t> X11HotKeys::LockVariants() const {
    std::vector<std::uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (numLockMask_ != 0 && numLockMask_ != XCB_MOD_MASK_LOCK) {
        variants.push_back(numLockMask_);
        variants.push_back(static_cast<std::uint16_t>(numLockMask_ | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

void X11HotKeys::Ungrab(const Grab& grab) {
    for (xcb_keycode_t code : grab.keycodes) {
        for (std::uint16_t variant : LockVariants()) {
            xcb_ungrab_key(context_->connection(), code, context_->root(),
                           static_cast<std::uint16_t>(grab.modifiers | variant));
        }
    }
}

bool X11HotKeys::Register(int id, Key key, unsigned modifiers) {
    Unregister(id);
    Grab grab;
    grab.modifiers = XModifiers(modifiers);
    grab.keycodes =
        KeycodesOf(context_->connection(), key == Key::Print ? kPrintKeysym : kEndKeysym);
    if (grab.keycodes.empty()) {
        return false;
    }
    // The same key twice in this program is refused as another program's key would be.
    for (const auto& [otherId, other] : grabs_) {
        if (other.modifiers == grab.modifiers && other.keycodes == grab.keycodes) {
            return false;
        }
    }

    xcb_connection_t* c = context_->connection();
    struct Attempt {
        xcb_keycode_t code;
        std::uint16_t mask;
        xcb_void_cookie_t cookie;
    };
    std::vector<Attempt> attempts;
    for (xcb_keycode_t code : grab.keycodes) {
        for (std::uint16_t variant : LockVariants()) {
            const auto mask = static_cast<std::uint16_t>(grab.modifiers | variant);
            attempts.push_back({code, mask,
                                xcb_grab_key_checked(c, 1, context_->root(), mask, code,
                                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
        }
    }
    // Check every request, so none of their errors is left to reach Qt's error handler.
    std::vector<const Attempt*> granted;
    bool refused = false;
    for (const Attempt& attempt : attempts) {
        if (xcb_generic_error_t* error = xcb_request_check(c, attempt.cookie)) {
            refused = true;
            std::free(error);
        } else {
            granted.push_back(&attempt);
        }
    }
    if (refused) {
        // Another program holds the key (BadAccess): give back what was had.
        for (const Attempt* attempt : granted) {
            xcb_ungrab_key(c, attempt->code, context_->root(), attempt->mask);
        }
        xcb_flush(c);
        return false;
    }
    grabs_[id] = std::move(grab);
    return true;
}

void X11HotKeys::Unregister(int id) {
    auto it = grabs_.find(id);
    if (it == grabs_.end()) {
        return;
    }
    Ungrab(it->second);
    xcb_flush(context_->connection());
    grabs_.erase(it);
}

void X11HotKeys::SetHandler(std::function<void(int id)> onHotKey) {
    handler_ = std::move(onHotKey);
}

void X11HotKeys::DiscardPending() {
    // Presses already handed on to the event loop are dropped by their generation.
    ++generation_;
    // The X server sends events in order: once the marker comes back, every press it had queued
    // before it has passed the filter, which drops them meanwhile.
    xcb_client_message_event_t marker{};
    marker.response_type = XCB_CLIENT_MESSAGE;
    marker.format = 32;
    marker.window = markerWindow_;
    marker.type = XCB_ATOM_INTEGER;
    marker.data.data32[0] = ++markerSerial_;
    xcb_send_event(context_->connection(), 0, markerWindow_, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&marker));
    xcb_flush(context_->connection());

    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit); // a server that never answers
    markerLoop_ = &loop;
    discarding_ = true;
    loop.exec();
    discarding_ = false;
    markerLoop_ = nullptr;
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_CLIENT_MESSAGE) {
        auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (client->window != markerWindow_) {
            return false;
        }
        if (client->data.data32[0] == markerSerial_ && markerLoop_ != nullptr) {
            markerLoop_->quit();
        }
        return true;
    }
    if (grabs_.empty()) {
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) {
        return false;
    }
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
    const auto modifiers = static_cast<std::uint16_t>(key->state & kRelevantModifiers);
    int matched = 0;
    bool found = false;
    for (const auto& [id, grab] : grabs_) {
        if (grab.modifiers == modifiers && std::find(grab.keycodes.begin(), grab.keycodes.end(),
                                                     key->detail) != grab.keycodes.end()) {
            matched = id;
            found = true;
            break;
        }
    }

    if (type == XCB_KEY_RELEASE) {
        lastRelease_[key->detail] = key->time;
        down_.erase(key->detail);
        return false;
    }
    if (!found) {
        return false;
    }
    // Auto-repeat comes either as Release+Press pairs sharing one time stamp or, with detectable
    // auto-repeat, as further presses without a release: both are one press for the user.
    const auto last = lastRelease_.find(key->detail);
    const bool repeat =
        down_.count(key->detail) != 0 || (last != lastRelease_.end() && last->second == key->time);
    down_.insert(key->detail);
    if (repeat) {
        return true;
    }
    if (discarding_) {
        return true;
    }
    context_->lastUserTime = key->time;
    if (handler_) {
        // Delivered from the event loop rather than from inside Qt's event processing, so the
        // handler may open modal windows.
        QMetaObject::invokeMethod(
            receiver_.get(),
            [this, matched, generation = generation_] {
                if (handler_ && generation == generation_ && grabs_.count(matched) != 0) {
                    handler_(matched);
                }
            },
            Qt::QueuedConnection);
    }
    return true;
}

} // namespace glimmerly::platform::x11
