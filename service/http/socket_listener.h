#pragma once
// The listening socket of one daemon. It accepts connections itself and hands them to the
// daemon, so that it can stop accepting on its own (at shutdown, while the daemon finishes the
// requests it has) and, behind a balancer, read the PROXY protocol header first and hand the
// connection over under the client's real address.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

struct MHD_Daemon;

namespace glimmerly::service {

class SocketListener {
public:
    // Binds address:port (0: any free port) and listens; nullptr with error when it cannot.
    static std::unique_ptr<SocketListener> Open(const std::string& address, std::uint16_t port,
                                                std::string& error);
    ~SocketListener(); // StopAccepting
    SocketListener(const SocketListener&) = delete;
    SocketListener& operator=(const SocketListener&) = delete;

    std::uint16_t Port() const { return port_; }

    // Starts handing accepted connections to daemon. With proxyProtocol every connection must
    // begin with a PROXY header within headerTimeout, else it is closed.
    void Start(MHD_Daemon* daemon, bool proxyProtocol, std::chrono::milliseconds headerTimeout);
    // Hands over what the kernel has queued, closes the socket (new connections are refused) and
    // returns once connections still sending their PROXY header are handed over or closed.
    void StopAccepting();

private:
    SocketListener(int fd, std::uint16_t port);
    void Run();

    int fd_;
    std::uint16_t port_;
    int wake_[2] = {-1, -1};
    MHD_Daemon* daemon_ = nullptr;
    bool proxyProtocol_ = false;
    std::chrono::milliseconds headerTimeout_{};
    std::thread thread_;
};

} // namespace glimmerly::service
