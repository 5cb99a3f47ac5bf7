#include "platform/wayland/activation.h"

#include "platform/capture_request.h"
#include "platform/wayland/wayland_wire.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdlib>

namespace glimmerly::platform::wayland {

namespace {

constexpr const char* kVariable = "XDG_ACTIVATION_TOKEN";
constexpr std::string_view kInterface = "xdg_activation_v1";
constexpr std::uint32_t kActivation = 4;
constexpr std::uint32_t kToken = 5;

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
    wire::PutWord(bind, name);
    wire::PutString(bind, kInterface);
    wire::PutWord(bind, 1); // version
    wire::PutWord(bind, kActivation);
    wire::PutRequest(out, wire::kRegistry, 0, bind);
    std::string id;
    wire::PutWord(id, kToken);
    wire::PutRequest(out, kActivation, 1, id); // get_activation_token
    wire::PutRequest(out, kToken, 3, {});      // commit
    return out;
}

std::size_t ReadTokenEvents(std::string_view stream, std::optional<std::uint32_t>& activationGlobal,
                            bool& synced, std::optional<std::string>& token, bool& failed) {
    return wire::ReadEvents(
        stream,
        [&](const wire::Event& event) {
            if (event.object == wire::kRegistry && event.opcode == 0 && !synced) {
                const std::optional<std::string> interface = wire::GetString(event.args, 4);
                if (!interface)
                    failed = true;
                else if (*interface == kInterface)
                    activationGlobal = wire::GetWord(event.args, 0);
            } else if (event.object == wire::kCallback && event.opcode == 0) {
                synced = true;
            } else if (event.object == kToken && event.opcode == 0) {
                token = wire::GetString(event.args, 0);
                if (!token || !IsActivationToken(*token)) {
                    token.reset();
                    failed = true;
                }
            }
            return !token && !failed;
        },
        failed);
}

std::optional<std::string> RequestActivationToken(const std::string& socketPath, int timeoutMs) {
    std::optional<std::uint32_t> global;
    bool synced = false;
    bool asked = false;
    bool failed = false;
    std::optional<std::string> token;
    wire::Converse(socketPath, timeoutMs, wire::RegistryAndSync(), [&](std::string_view pending) {
        wire::Reading reading;
        reading.used = ReadTokenEvents(pending, global, synced, token, failed);
        // Without xdg-activation among the globals there is nothing to ask.
        reading.finished = token || failed || (synced && !global);
        if (synced && global && !asked) {
            reading.send = TokenRequests(*global);
            asked = true;
        }
        return reading;
    });
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
