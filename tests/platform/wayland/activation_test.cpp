#include "platform/wayland/activation.h"

#include "tests/platform/wayland/one_client_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <cstdlib>
#include <cstring>

namespace glimmerly::platform::wayland {
namespace {

void Put(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string Message(std::uint32_t object, std::uint32_t opcode, const std::string& args) {
    std::string out;
    Put(out, object);
    Put(out, static_cast<std::uint32_t>((args.size() + 8) << 16) | opcode);
    return out + args;
}

std::string String(const std::string& text) {
    std::string out;
    Put(out, static_cast<std::uint32_t>(text.size() + 1));
    out += text;
    out.append(4 - text.size() % 4, '\0');
    return out;
}

std::string Global(std::uint32_t name, const std::string& interface, std::uint32_t version) {
    std::string args;
    Put(args, name);
    args += String(interface);
    Put(args, version);
    return Message(2, 0, args);
}

std::string SyncDone() {
    std::string serial;
    Put(serial, 9);
    return Message(3, 0, serial);
}

// An event header whose size cannot be one.
std::string BadSize() {
    std::string out;
    Put(out, 2);
    Put(out, 6u << 16);
    return out + "abcd";
}

TEST(WaylandActivation, TheRequestsBindTheGlobalAndCommitATokenWithoutSurface) {
    const std::string requests = TokenRequests(7);
    std::string bind;
    Put(bind, 7);
    bind += String("xdg_activation_v1");
    Put(bind, 1);
    Put(bind, 4);
    std::string id;
    Put(id, 5);
    EXPECT_EQ(requests, Message(2, 0, bind) + Message(4, 1, id) + Message(5, 3, ""));
}

TEST(WaylandActivation, EventsInAnyPiecesGiveTheGlobalThenTheToken) {
    const std::string stream = Global(1, "wl_compositor", 5) + Global(12, "xdg_activation_v1", 1) +
                               Message(1, 1, std::string(4, '\0')) + SyncDone() +
                               Message(5, 0, String("tok-123_abc"));
    for (std::size_t piece : {stream.size(), std::size_t{1}, std::size_t{7}}) {
        std::optional<std::uint32_t> global;
        bool synced = false, failed = false;
        std::optional<std::string> token;
        std::string pending;
        for (std::size_t at = 0; at < stream.size() && !token; at += piece) {
            pending += stream.substr(at, piece);
            pending.erase(0, ReadTokenEvents(pending, global, synced, token, failed));
        }
        EXPECT_FALSE(failed);
        EXPECT_TRUE(synced);
        EXPECT_EQ(global, 12u);
        EXPECT_EQ(token, "tok-123_abc");
    }
    // A protocol error, a token that could not travel, a malformed event.
    for (const std::string& bad :
         {Message(1, 0, std::string(12, '\0')), Message(5, 0, String("a b")),
          Message(5, 0, String("")), BadSize()}) {
        std::optional<std::uint32_t> global;
        bool synced = true, failed = false;
        std::optional<std::string> token;
        ReadTokenEvents(bad, global, synced, token, failed);
        EXPECT_TRUE(failed);
        EXPECT_FALSE(token);
    }
}

TEST(WaylandActivation, AStandInCompositorIsAskedForAToken) {
    glimmerly::testing::TempDir dir;
    const std::string socket = dir.Path("wayland-0");
    std::string asked;
    {
        OneClientServer compositor(socket, [&](int fd) {
            OneClientServer::Receive(fd, 24); // get_registry, sync
            OneClientServer::Send(fd, Global(1, "wl_shm", 1) + Global(4, "xdg_activation_v1", 1) +
                                          SyncDone());
            asked = OneClientServer::Receive(fd, TokenRequests(4).size());
            OneClientServer::Send(fd, Message(5, 0, String("given")));
        });
        EXPECT_EQ(RequestActivationToken(socket), "given");
    }
    EXPECT_EQ(asked, TokenRequests(4));

    // A compositor without xdg-activation, and one that never answers.
    {
        OneClientServer compositor(socket + "b", [](int fd) {
            OneClientServer::Receive(fd, 24);
            OneClientServer::Send(fd, Global(1, "wl_shm", 1) + SyncDone());
            OneClientServer::Receive(fd, 1);
        });
        EXPECT_EQ(RequestActivationToken(socket + "b"), std::nullopt);
    }
    {
        OneClientServer compositor(socket + "c", [](int fd) { OneClientServer::Receive(fd, 64); });
        EXPECT_EQ(RequestActivationToken(socket + "c", 100), std::nullopt);
    }
    EXPECT_EQ(RequestActivationToken(dir.Path("nobody")), std::nullopt);
}

// The token is offered to Qt's next activation through the variable its Wayland plugin reads,
// and taken back when unused; the launcher's own token is read from the same variable.
TEST(WaylandActivation, TheTokenIsOfferedForTheScopeOnly) {
    ::unsetenv("XDG_ACTIVATION_TOKEN");
    EXPECT_EQ(LauncherActivationToken(), "");
    {
        const ActivationTokenScope scope("abc-1");
        EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), QByteArray("abc-1"));
        EXPECT_EQ(LauncherActivationToken(), "abc-1");
    }
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    {
        const ActivationTokenScope none("");
        const ActivationTokenScope bad("a b");
        EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    }
    ::setenv("XDG_ACTIVATION_TOKEN", "not one", 1);
    EXPECT_EQ(LauncherActivationToken(), "");
    ::unsetenv("XDG_ACTIVATION_TOKEN");
}

} // namespace
} // namespace glimmerly::platform::wayland
