#pragma once
// The channel a second copy of the program uses to ask the running one for a capture, on
// Windows: a named pipe whose name carries the session and the user's SID. Only that SID may
// open the pipe or add instances to it (its DACL), clients of other machines are rejected, and
// the running copy takes the name only as its first instance, so a pipe somebody else put there
// beforehand makes it fail rather than share the name. The asking copy talks only to a process of
// its own user. The words on it are in platform/capture_request.h.
//
// A reader thread of its own accepts the connections and reads them, each with one deadline, so
// that a client that connects and stalls holds up nobody; the window thread waits on Event() and
// only takes the requests read in full. No Qt.

#include "platform/capture_request.h"

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace glimmerly::platform {

// \\.\pipe\glimmerly-capture-<session id>-<user's SID>; empty when the SID cannot be had.
std::string CaptureChannelPath();

// One request read in full, waiting for its answer. Answered "busy" when dropped unanswered.
class CaptureRequest {
public:
    CaptureRequest(void* pipe, std::string activationToken)
        : pipe_(pipe), activationToken_(std::move(activationToken)) {}
    ~CaptureRequest();
    CaptureRequest(CaptureRequest&& other) noexcept;
    CaptureRequest& operator=(CaptureRequest&&) = delete;
    CaptureRequest(const CaptureRequest&) = delete;
    CaptureRequest& operator=(const CaptureRequest&) = delete;

    // The launcher's token, empty when the request carried none.
    const std::string& ActivationToken() const { return activationToken_; }
    // "ok" when `taken`, else "busy"; only the first answer counts. Does not wait for the client.
    void Answer(bool taken);

private:
    void* pipe_; // HANDLE of the pipe instance; nullptr once answered
    std::string activationToken_;
};

class CaptureChannelServer {
public:
    // How long a client has from its connection to the end of its request.
    static constexpr int kRequestDeadlineMs = 1000;
    // Clients being read at one time; more are answered "busy" at once.
    static constexpr std::size_t kMaxReading = 32;

    // Creates the pipe `path` as its first instance. nullptr when the name is taken (another
    // copy, or somebody else) or the pipe cannot be made.
    static std::unique_ptr<CaptureChannelServer> Listen(const std::string& path,
                                                        int requestDeadlineMs = kRequestDeadlineMs);
    // Stops the reader; requests not yet answered get "busy".
    ~CaptureChannelServer();
    CaptureChannelServer(const CaptureChannelServer&) = delete;
    CaptureChannelServer& operator=(const CaptureChannelServer&) = delete;

    // A manual-reset event (HANDLE), set while requests read in full wait to be taken.
    void* Event() const { return ready_; }
    // The requests read in full until now, oldest first. Never blocks.
    std::vector<CaptureRequest> TakeRequests();
    // Answers every request read in full with "busy": requests made while the program could not
    // take them must not start work afterwards.
    void DropPending();

private:
    struct Client;
    struct Listener;

    CaptureChannelServer(std::string path, int deadlineMs, void* security);
    bool StartListening(bool first);
    void ReadClients();
    void Accept(std::vector<std::unique_ptr<Client>>& reading,
                std::chrono::steady_clock::time_point now);

    std::string path_;
    int deadlineMs_;
    void* security_;                     // the pipe's security descriptor (LocalFree)
    std::unique_ptr<Listener> listener_; // the instance waiting for the next client
    void* ready_ = nullptr;              // set by the reader, reset by TakeRequests()
    void* stop_ = nullptr;               // set to end the reader
    std::mutex mutex_;
    std::deque<CaptureRequest> requests_;
    std::thread reader_;
};

// Sends one capture request to `path`, with `activationToken` when it is one; keeps trying to
// connect for `connectWaitMs` (a copy that is still starting up has the guard before it
// listens). A pipe served by a process of another user is Refused without a word sent to it.
// The running copy is allowed to bring its window to the front. A running copy that does not
// know tokens is asked once more without it.
CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs,
                                        const std::string& activationToken = {});

} // namespace glimmerly::platform
