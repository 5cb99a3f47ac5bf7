#include "platform/wayland/wayland_globals.h"

#include "tests/platform/wayland/one_client_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace glimmerly::platform::wayland {
namespace {

void Put(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string Event(std::uint32_t object, std::uint32_t opcode, const std::string& args) {
    std::string out;
    Put(out, object);
    Put(out, static_cast<std::uint32_t>((args.size() + 8) << 16) | opcode);
    return out + args;
}

// wl_registry.global: name, interface (length with NUL, padded to 4), version.
std::string Global(std::uint32_t name, const std::string& interface, std::uint32_t version) {
    std::string args;
    Put(args, name);
    Put(args, static_cast<std::uint32_t>(interface.size() + 1));
    args += interface;
    args.append(4 - interface.size() % 4, '\0');
    Put(args, version);
    return Event(2, 0, args);
}

std::string Done() {
    std::string serial;
    Put(serial, 7);
    return Event(3, 0, serial);
}

TEST(WaylandRegistry, RequestsAndAnnouncedInterfacesInAnyPieces) {
    const std::string requests = RegistryRequests();
    ASSERT_EQ(requests.size(), 24u);
    const std::uint32_t expected[] = {1, (12u << 16) | 1, 2, 1, (12u << 16) | 0, 3};
    EXPECT_EQ(std::memcmp(requests.data(), expected, sizeof expected), 0);

    // Names of every length modulo 4 (padding), an event of another object in between, and a
    // byte after the sync that is not read.
    const std::string stream = Global(1, "wl_compositor", 5) + Global(2, "wl_shm", 1) +
                               Event(1, 1, std::string(4, '\0')) /* delete_id */ +
                               Global(3, "zwlr_screencopy_manager_v1", 3) +
                               Global(4, "xdg_wm_base", 2) + Done();
    for (std::size_t piece : {stream.size(), std::size_t{1}, std::size_t{5}, std::size_t{13}}) {
        std::vector<std::string> interfaces;
        bool done = false, failed = false;
        std::string pending;
        for (std::size_t at = 0; at < stream.size() && !done; at += piece) {
            pending += stream.substr(at, piece);
            pending.erase(0, ReadRegistryEvents(pending, interfaces, done, failed));
        }
        EXPECT_TRUE(done) << piece;
        EXPECT_FALSE(failed) << piece;
        EXPECT_EQ(interfaces,
                  (std::vector<std::string>{"wl_compositor", "wl_shm", "zwlr_screencopy_manager_v1",
                                            "xdg_wm_base"}))
            << piece;
    }
}

TEST(WaylandRegistry, ErrorsAndMalformedEventsFail) {
    std::string badLength = Global(1, "wl_shm", 1);
    badLength[12] = 100;                       // string length beyond the event
    std::string unpadded = Event(2, 0, "abc"); // size not a multiple of 4
    std::string noNul = Global(1, "wl_shm", 1);
    noNul[8 + 4 + 4 + 6] = 'x'; // the name's NUL
    for (const std::string& stream :
         {Event(1, 0, std::string(12, '\0')) /* wl_display.error */, badLength, unpadded, noNul}) {
        std::vector<std::string> interfaces;
        bool done = false, failed = false;
        ReadRegistryEvents(stream + Done(), interfaces, done, failed);
        EXPECT_TRUE(failed);
        EXPECT_FALSE(done);
    }
}

TEST(WaylandRegistry, AsksACompositorOverItsSocket) {
    testing::TempDir dir("glimmerly-wl");
    const std::string path = dir.Path("wayland-9");
    std::string asked;
    {
        OneClientServer compositor(path, [&](int fd) {
            asked = OneClientServer::Receive(fd, 24);
            OneClientServer::Send(fd, Global(1, "wl_seat", 7) + Done());
        });
        const auto interfaces = CompositorInterfaces(path);
        ASSERT_TRUE(interfaces);
        EXPECT_EQ(*interfaces, std::vector<std::string>{"wl_seat"});
    }
    EXPECT_EQ(asked, RegistryRequests());

    {
        // Hangs up before the sync is done: no answer, not an empty list.
        OneClientServer compositor(path + "b", [&](int fd) {
            OneClientServer::Receive(fd, 24);
            OneClientServer::Send(fd, Global(1, "wl_seat", 7));
        });
        EXPECT_FALSE(CompositorInterfaces(path + "b"));
    }
    EXPECT_FALSE(CompositorInterfaces(dir.Path("missing")));

    // The socket's name: relative to the runtime folder unless absolute.
    ::setenv("XDG_RUNTIME_DIR", "/run/user/7", 1);
    ::setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    EXPECT_EQ(WaylandSocketPath(), "/run/user/7/wayland-1");
    ::setenv("WAYLAND_DISPLAY", "/tmp/w.sock", 1);
    EXPECT_EQ(WaylandSocketPath(), "/tmp/w.sock");
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_EQ(WaylandSocketPath(), "");
}

} // namespace
} // namespace glimmerly::platform::wayland
