#pragma once
// What the X11 parts share: Qt's xcb connection, the root window, the atoms they use and the
// time of the last hot-key press. Internal to platform/x11.

#include <xcb/xcb.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace glimmerly::platform::x11 {

struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    std::uint8_t format = 0;
    std::vector<std::uint8_t> bytes;

    // The first item of a 32-bit property, if it has one.
    std::optional<std::uint32_t> Cardinal(std::size_t index = 0) const;
};

class Context {
public:
    // Qt's connection of the running application; throws std::runtime_error without one.
    static Context FromQt();
    Context(xcb_connection_t* connection, xcb_window_t root);

    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }

    // Interned once per name and then remembered (an atom lives as long as the server).
    xcb_atom_t Atom(const char* name) const;
    // The whole value of a property (any type), or nullopt when the window has none.
    std::optional<Property> Get(xcb_window_t window, xcb_atom_t property) const;
    bool WindowExists(xcb_window_t window) const;

    // Timestamp of the last accepted hot-key press, for requests that need a user time.
    std::uint32_t lastUserTime = XCB_CURRENT_TIME;

private:
    xcb_connection_t* connection_;
    xcb_window_t root_;
    struct Atoms {
        std::mutex mutex;
        std::map<std::string, xcb_atom_t, std::less<>> byName;
    };
    std::unique_ptr<Atoms> atoms_ = std::make_unique<Atoms>();
};

} // namespace glimmerly::platform::x11
