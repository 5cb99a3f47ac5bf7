#pragma once
// The channel a second copy of the program uses to ask the running one for a capture: a Unix
// stream socket in the user's private runtime folder. The running copy answers only processes
// of its own user (the peer's credentials from the kernel, not anything the peer says).
//
// Request: "capture\n". Answers: "ok\n" (taken), "busy\n" (dropped, as a key press would be),
// "refused\n" (another user). No Qt; the program hooks the listening socket into its event loop.

#include <memory>
#include <string>
#include <sys/types.h>

namespace glimmerly::platform {

// $XDG_RUNTIME_DIR/glimmerly-capture when that folder is the user's private one, else the same
// name in the private temporary folder; empty when neither exists.
std::string CaptureChannelPath();

// True when the process at the other end of the connected Unix socket `fd` runs as this
// process's effective user.
bool PeerIsOwnUser(int fd);

class CaptureChannelServer {
public:
    // Listens at `path`. A socket file left there by a copy that ended is replaced (the caller
    // holds the single-instance guard, so no live copy listens there). nullptr on failure.
    static std::unique_ptr<CaptureChannelServer> Listen(const std::string& path);
    ~CaptureChannelServer();
    CaptureChannelServer(const CaptureChannelServer&) = delete;
    CaptureChannelServer& operator=(const CaptureChannelServer&) = delete;

    // The listening socket (non-blocking); readable when a request waits.
    int Fd() const { return fd_; }
    // Takes every waiting connection and answers it; returns the number of capture requests
    // from this user.
    int TakeRequests();
    // Answers every waiting connection with "busy": requests made while the program could not
    // take them must not start work afterwards.
    void DropPending();

private:
    CaptureChannelServer(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    // Each waiting connection with true when it asks for a capture and may.
    template <typename Answer> void Drain(Answer answer);

    int fd_;
    std::string path_;
};

enum class CaptureRequestResult { Taken, Dropped, Refused, NoListener };

// Sends one capture request to `path`; keeps trying to connect for `connectWaitMs` (a copy that
// is still starting up has the guard before it listens).
CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs);

} // namespace glimmerly::platform
