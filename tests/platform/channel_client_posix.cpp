#include "tests/platform/channel_client.h"
#include "tests/support/unix_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace glimmerly::testing {

ChannelPlace::ChannelPlace()
    : temp_(std::make_unique<TempDir>("glimmerly-channel")),
      path_(temp_->Path("glimmerly-capture")) {}

RawChannelClient::RawChannelClient(const std::string& path) : handle_(ConnectRaw(path)) {}

RawChannelClient::~RawChannelClient() {
    Close();
}

RawChannelClient::RawChannelClient(RawChannelClient&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

bool RawChannelClient::Connected() const {
    return handle_ >= 0;
}

bool RawChannelClient::Send(std::string_view bytes) {
    return ::send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

bool RawChannelClient::Readable(int ms) {
    pollfd p{static_cast<int>(handle_), POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

bool RawChannelClient::StillWaiting() {
    return glimmerly::testing::StillWaiting(static_cast<int>(handle_));
}

std::string RawChannelClient::Answer() {
    std::string answer;
    char buffer[64];
    while (Readable(10000)) {
        const ssize_t n = ::read(static_cast<int>(handle_), buffer, sizeof buffer);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    Close();
    return answer;
}

void RawChannelClient::Close() {
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool WaitForRequests(const platform::CaptureChannelServer& server, int ms) {
    pollfd p{static_cast<int>(server.Wake().native), POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

} // namespace glimmerly::testing
