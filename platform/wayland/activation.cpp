#include "platform/wayland/activation.h"

#include "platform/posix/capture_channel.h"

#include <QByteArray>
#include <QtGlobal>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace glimmerly::platform::wayland {

namespace {

constexpr const char* kVariable = "XDG_ACTIVATION_TOKEN";
constexpr std::string_view kInterface = "xdg_activation_v1";
constexpr std::uint32_t kDisplay = 1;
constexpr std::uint32_t kRegistry = 2;
constexpr std::uint32_t kCallback = 3;
constexpr std::uint32_t kActivation = 4;
constexpr std::uint32_t kToken = 5;
constexpr std::size_t kMaxAnswer = 1u << 20;

void Put(std::string& out, std::uint32_t value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::uint32_t Get(std::string_view data, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

void Request(std::string& out, std::uint32_t object, std::uint32_t opcode,
             const std::string& args) {
    Put(out, object);
    Put(out, static_cast<std::uint32_t>((args.size() + 8) << 16) | opcode);
    out += args;
}

// A wire string: length with the NUL, the bytes, NUL, padding to 4.
void PutString(std::string& out, std::string_view text) {
    Put(out, static_cast<std::uint32_t>(text.size() + 1));
    out += text;
    out.append(4 - text.size() % 4, '\0');
}

// The string argument at `at` of `args`; nullopt when malformed.
std::optional<std::string> GetString(std::string_view args, std::size_t at) {
    if (args.size() < at + 4)
        return std::nullopt;
    const std::size_t length = Get(args, at);
    const std::size_t padded = (length + 3) & ~std::size_t{3};
    if (length == 0 || args.size() - at - 4 < padded || args[at + 4 + length - 1] != '\0')
        return std::nullopt;
    return std::string(args.substr(at + 4, length - 1));
}

} // namespace

std::string LauncherActivationToken() {
    const char* token = std::getenv(kVariable);
    if (token == nullptr || !IsActivationToken(token))
        return {};
    return token;
}

std::string TokenRequests(std::uint32_t name) {
    std::string out;
    std::string bind;
    Put(bind, name);
    PutString(bind, kInterface);
    Put(bind, 1); // version
    Put(bind, kActivation);
    Request(out, kRegistry, 0, bind);
    std::string id;
    Put(id, kToken);
    Request(out, kActivation, 1, id); // get_activation_token
    Request(out, kToken, 3, {});      // commit
    return out;
}

std::size_t ReadTokenEvents(std::string_view stream, std::optional<std::uint32_t>& activationGlobal,
                            bool& synced, std::optional<std::string>& token, bool& failed) {
    std::size_t used = 0;
    while (!token && !failed && stream.size() - used >= 8) {
        const std::uint32_t object = Get(stream, used);
        const std::size_t size = Get(stream, used + 4) >> 16;
        const std::uint32_t opcode = Get(stream, used + 4) & 0xffff;
        if (size < 8 || size % 4 != 0) {
            failed = true;
            break;
        }
        if (stream.size() - used < size)
            break; // the rest of this event has not come yet
        const std::string_view args = stream.substr(used + 8, size - 8);
        if (object == kDisplay && opcode == 0) {
            failed = true; // wl_display.error
        } else if (object == kRegistry && opcode == 0 && !synced) {
            const std::optional<std::string> interface = GetString(args, 4);
            if (!interface)
                failed = true;
            else if (*interface == kInterface)
                activationGlobal = Get(args, 0);
        } else if (object == kCallback && opcode == 0) {
            synced = true;
        } else if (object == kToken && opcode == 0) {
            token = GetString(args, 0);
            if (!token || !IsActivationToken(*token)) {
                token.reset();
                failed = true;
            }
        }
        used += size;
    }
    return used;
}

std::optional<std::string> RequestActivationToken(const std::string& socketPath, int timeoutMs) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    const auto sendAll = [fd](const std::string& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    };
    std::string hello;
    Request(hello, kDisplay, 1, std::string(reinterpret_cast<const char*>(&kRegistry), 4));
    Request(hello, kDisplay, 0, std::string(reinterpret_cast<const char*>(&kCallback), 4));
    std::optional<std::uint32_t> global;
    bool synced = false;
    bool asked = false;
    bool failed = false;
    std::optional<std::string> token;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        sendAll(hello)) {
        std::string pending;
        char buffer[4096];
        while (!token && !failed && pending.size() < kMaxAnswer) {
            if (synced && !asked) {
                if (!global || !sendAll(TokenRequests(*global)))
                    break;
                asked = true;
            }
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(n));
            pending.erase(0, ReadTokenEvents(pending, global, synced, token, failed));
        }
    }
    ::close(fd);
    return failed ? std::nullopt : token;
}

ActivationTokenScope::ActivationTokenScope(const std::string& token) {
    if (!IsActivationToken(token))
        return;
    qputenv(kVariable, QByteArray::fromStdString(token));
    set_ = true;
}

ActivationTokenScope::~ActivationTokenScope() {
    if (set_)
        qunsetenv(kVariable); // removing moves nothing: safe while the upload job runs
}

} // namespace glimmerly::platform::wayland
