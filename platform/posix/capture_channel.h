#pragma once
// The channel a second copy of the program uses to ask the running one for a capture: a Unix
// stream socket in the program's private folder. The running copy answers only processes of its
// own user (the peer's credentials from the kernel, not anything the peer says). The words on
// it are in platform/capture_request.h.
//
// A reader thread of its own accepts the connections and reads them, each with one deadline, so
// that a client that connects and stalls holds up nobody; the window thread only takes the
// requests read in full and answers them once it has decided. No Qt; the program hooks Fd()
// into its event loop.

#include "platform/capture_request.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace glimmerly::platform {

// ProgramFolder()/glimmerly-capture; empty when there is no private folder.
std::string CaptureChannelPath();

// True when the process at the other end of the connected Unix socket `fd` runs as this
// process's effective user.
bool PeerIsOwnUser(int fd);

// One request read in full, waiting for its answer. Answered "busy" when dropped unanswered.
class CaptureRequest {
public:
    CaptureRequest(int client, std::string activationToken)
        : client_(client), activationToken_(std::move(activationToken)) {}
    ~CaptureRequest();
    CaptureRequest(CaptureRequest&& other) noexcept;
    CaptureRequest& operator=(CaptureRequest&&) = delete;
    CaptureRequest(const CaptureRequest&) = delete;
    CaptureRequest& operator=(const CaptureRequest&) = delete;

    // The launcher's token, empty when the request carried none.
    const std::string& ActivationToken() const { return activationToken_; }
    // "ok" when `taken`, else "busy"; only the first answer counts. Never blocks.
    void Answer(bool taken);

private:
    int client_;
    std::string activationToken_;
};

class CaptureChannelServer {
public:
    // How long a client has from its connection to the end of its request.
    static constexpr int kRequestDeadlineMs = 1000;
    // Clients being read at one time; more are answered "busy" at once.
    static constexpr std::size_t kMaxReading = 32;

    // Listens at `path`. A socket file left there by a copy that ended is replaced (the caller
    // holds the single-instance guard, so no live copy listens there). nullptr on failure.
    static std::unique_ptr<CaptureChannelServer> Listen(const std::string& path,
                                                        int requestDeadlineMs = kRequestDeadlineMs);
    // Stops the reader; requests not yet answered get "busy".
    ~CaptureChannelServer();
    CaptureChannelServer(const CaptureChannelServer&) = delete;
    CaptureChannelServer& operator=(const CaptureChannelServer&) = delete;

    // Readable while requests read in full wait to be taken.
    int Fd() const { return ready_[0]; }
    // The requests read in full until now, oldest first. Never blocks.
    std::vector<CaptureRequest> TakeRequests();
    // Answers every request read in full with "busy": requests made while the program could not
    // take them must not start work afterwards.
    void DropPending();

private:
    CaptureChannelServer(int listener, std::string path, int deadlineMs);
    void ReadClients();

    int listener_;
    std::string path_;
    int deadlineMs_;
    int ready_[2] = {-1, -1}; // readable end for the window thread, written by the reader
    int stop_[2] = {-1, -1};  // closing the write end ends the reader
    std::mutex mutex_;
    std::deque<CaptureRequest> requests_;
    std::thread reader_;
};

// Sends one capture request to `path`, with `activationToken` when it is one; keeps trying to
// connect for `connectWaitMs` (a copy that is still starting up has the guard before it
// listens). A running copy that does not know tokens is asked once more without it.
CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs,
                                        const std::string& activationToken = {});

} // namespace glimmerly::platform
