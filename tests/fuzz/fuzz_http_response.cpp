// Arbitrary server bytes into the client's response reading. The bytes wait in one end of a
// socket pair whose sending side is then shut down; the client gets the other end in place of a
// TCP connection. The first byte picks GET or POST.

#include "net/http_client.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace glimmerly::net;

namespace {

// A connection that answers with `bytes` and then closes.
int ServeOnce(const std::uint8_t* bytes, std::size_t size, int& peer) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return -1;
    }
    const int buffer = 1 << 20;
    ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    ::fcntl(pair[1], F_SETFL, O_NONBLOCK);
    while (size > 0) {
        const ssize_t sent = ::send(pair[1], bytes, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            break;
        }
        bytes += sent;
        size -= std::size_t(sent);
    }
    ::shutdown(pair[1], SHUT_WR);
    peer = pair[1];
    return pair[0];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool post = (data[0] & 1) != 0;
    const bool twice = (data[0] & 2) != 0;
    ++data;
    --size;

    int peers[2] = {-1, -1};
    int connections = 0;
    HttpClient client;
    client.SetIdleTimeout(1000);
    client.SetConnector([&](const std::string&, int) {
        const int n = connections++;
        // A second connection answers nothing.
        return ServeOnce(data, n == 0 ? size : 0, peers[n < 2 ? n : 1]);
    });
    std::int64_t lastCount = 0;
    client.OnWork = [&](int, std::int64_t count) { lastCount = count; };
    try {
        if (post) {
            MultipartBody body;
            body.AddField("filename", "screenshot");
            client.Post("http://upload.invalid/upload.php", body);
        } else {
            client.Get("http://service.invalid/dir/setname.php?filename=a b");
        }
    } catch (const HttpError&) {
    }
    if (twice && connections < 2) {
        try {
            client.Get("http://service.invalid/dir/other.php");
        } catch (const HttpError&) {
        }
    }
    client.Disconnect();
    for (int fd : peers) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return 0;
}
