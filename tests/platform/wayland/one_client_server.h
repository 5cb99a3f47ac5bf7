#pragma once
// A Unix socket server for one client, in a thread of its own: stands in for a compositor.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace glimmerly::platform::wayland {

class OneClientServer {
public:
    // `serve` runs with the accepted connection, which is closed after it.
    OneClientServer(const std::string& path, std::function<void(int fd)> serve) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 1);
        thread_ = std::thread([this, serve] {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client >= 0) {
                serve(client);
                ::close(client);
            }
        });
    }
    ~OneClientServer() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    OneClientServer(const OneClientServer&) = delete;
    OneClientServer& operator=(const OneClientServer&) = delete;

    // Reads exactly `size` bytes (fewer when the client hangs up).
    static std::string Receive(int fd, std::size_t size) {
        std::string data(size, '\0');
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::recv(fd, data.data() + got, size - got, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        data.resize(got);
        return data;
    }
    static void Send(int fd, const std::string& data) {
        ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    }

private:
    int fd_ = -1;
    std::thread thread_;
};

} // namespace glimmerly::platform::wayland
