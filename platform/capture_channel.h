#pragma once
// The channel a second copy of the program uses to ask the running one for a capture. The words
// on it are in platform/capture_request.h; each system carries them its own way:
// - POSIX (platform/posix/capture_channel.cpp): a Unix stream socket in the program's private
//   folder. The running copy answers only processes of its own user (the peer's credentials from
//   the kernel, not anything the peer says).
// - Windows (platform/win32/capture_channel.cpp): a named pipe whose name carries the session and
//   the user's SID. Only that SID may open the pipe or add instances to it (its DACL), clients of
//   other machines are rejected, and the running copy takes the name only as its first instance,
//   so a pipe somebody else put there beforehand makes it fail rather than share the name. The
//   asking copy talks only to a process of its own user.
//
// A reader thread of its own accepts the connections and reads them, each with one deadline, so
// that a client that connects and stalls holds up nobody; the window thread waits on Wake() and
// only takes the requests read in full, and answers them once it has decided. No Qt.

#include "platform/capture_request.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace glimmerly::platform {

// What a thread waits on until something is there for it: on POSIX a file descriptor that is
// readable then, on Windows a manual-reset event (a HANDLE) that is set then.
struct WakeHandle {
    std::intptr_t native = -1;
};

// Where the channel of this user (and session) is; empty when there is none to be had.
std::string CaptureChannelPath();

// One request read in full, waiting for its answer. Answered "busy" when dropped unanswered.
class CaptureRequest {
public:
    // The connection to the client (a socket or a pipe instance) is this request's from now on.
    CaptureRequest(std::intptr_t connection, std::string activationToken)
        : connection_(connection), activationToken_(std::move(activationToken)) {}
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
    // The system's part: writes `answer` without waiting and closes `connection`.
    static void AnswerAndClose(std::intptr_t connection, std::string_view answer);

    static constexpr std::intptr_t kAnswered = -1;
    std::intptr_t connection_;
    std::string activationToken_;
};

class CaptureChannelServer {
public:
    // How long a client has from its connection to the end of its request.
    static constexpr int kRequestDeadlineMs = 1000;
    // Clients being read at one time; more are answered "busy" at once.
    static constexpr std::size_t kMaxReading = 32;

    // Listens at `path`. POSIX: a socket file left there by a copy that ended is replaced (the
    // caller holds the single-instance guard, so no live copy listens there). Windows: the pipe
    // is made as its first instance. nullptr when the channel cannot be had.
    static std::unique_ptr<CaptureChannelServer> Listen(const std::string& path,
                                                        int requestDeadlineMs = kRequestDeadlineMs);
    // Stops the reader; requests not yet answered get "busy".
    ~CaptureChannelServer();
    CaptureChannelServer(const CaptureChannelServer&) = delete;
    CaptureChannelServer& operator=(const CaptureChannelServer&) = delete;

    // Signalled while requests read in full wait to be taken.
    WakeHandle Wake() const;
    // The requests read in full until now, oldest first. Never blocks.
    std::vector<CaptureRequest> TakeRequests();
    // Answers every request read in full with "busy": requests made while the program could not
    // take them must not start work afterwards.
    void DropPending();

private:
    // The system's part: the wake signal, the listener and the reader thread.
    struct Reader;

    CaptureChannelServer() = default;
    // A request read in full, from the reader thread.
    void Deliver(CaptureRequest request);
    // The system's part of the wake signal; called with mutex_ held.
    void SetWake();
    void ClearWake();

    std::mutex mutex_;
    std::deque<CaptureRequest> requests_;
    std::unique_ptr<Reader> reader_;
};

// Sends one capture request to `path`, with `activationToken` when it is one; keeps trying to
// connect for `connectWaitMs` (a copy that is still starting up has the guard before it
// listens). A running copy that does not know tokens is asked once more without it. Windows: a
// pipe served by a process of another user is Refused without a word sent to it, and the running
// copy is allowed to bring its window to the front.
CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs,
                                        const std::string& activationToken = {});

} // namespace glimmerly::platform
