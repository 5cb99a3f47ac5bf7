#include "platform/x11/x11_context.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace glimmerly::platform::x11 {

std::optional<std::uint32_t> Property::Cardinal(std::size_t index) const {
    if (format != 32 || bytes.size() < (index + 1) * 4) {
        return std::nullopt;
    }
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + index * 4, 4);
    return value;
}

Context Context::FromQt() {
    auto* app = qGuiApp;
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        throw std::runtime_error("Keine Verbindung zum X11-Server");
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_setup_t* setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (screens.rem == 0) {
        throw std::runtime_error("Der X11-Server hat keinen Bildschirm");
    }
    return Context(connection, screens.data->root);
}

Context::Context(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {}

xcb_atom_t Context::Atom(const char* name) const {
    {
        std::lock_guard lock(atoms_->mutex);
        if (const auto known = atoms_->byName.find(std::string_view(name));
            known != atoms_->byName.end()) {
            return known->second;
        }
    }
    auto cookie =
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
    if (reply == nullptr) {
        return XCB_ATOM_NONE; // not remembered: the next call asks again
    }
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    std::lock_guard lock(atoms_->mutex);
    atoms_->byName.emplace(name, atom);
    return atom;
}

std::optional<Property> Context::Get(xcb_window_t window, xcb_atom_t property) const {
    if (window == XCB_WINDOW_NONE || property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    Property result;
    std::uint32_t offset = 0; // in 32-bit units
    for (;;) {
        auto cookie = xcb_get_property(connection_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY,
                                       offset, 1 << 14);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        if (reply == nullptr) {
            return std::nullopt;
        }
        if (reply->type == XCB_ATOM_NONE) {
            std::free(reply);
            return std::nullopt;
        }
        result.type = reply->type;
        result.format = reply->format;
        const auto* data = static_cast<const std::uint8_t*>(xcb_get_property_value(reply));
        const int length = xcb_get_property_value_length(reply);
        result.bytes.insert(result.bytes.end(), data, data + length);
        const std::uint32_t after = reply->bytes_after;
        std::free(reply);
        // Titles and the like are short; a runaway property is cut rather than read forever.
        if (after == 0 || length <= 0 || result.bytes.size() >= (1u << 20)) {
            return result;
        }
        offset += static_cast<std::uint32_t>(length) / 4;
    }
}

bool Context::WindowExists(xcb_window_t window) const {
    if (window == XCB_WINDOW_NONE) {
        return false;
    }
    xcb_generic_error_t* error = nullptr;
    auto* reply = xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window), &error);
    std::free(error);
    if (reply == nullptr) {
        return false;
    }
    std::free(reply);
    return true;
}

} // namespace glimmerly::platform::x11
