#include "platform/win32/capture_channel.h"

#include "platform/win32/pipe_parts.h"

#include <sddl.h>

#include <algorithm>
#include <string_view>

namespace glimmerly::platform {

namespace {

using Clock = std::chrono::steady_clock;
using pipe::Overlapped;

constexpr std::size_t kMaxLine = kMaxCaptureRequestLine;
constexpr DWORD kPipeBuffer = 512;

// A few bytes into the client's empty buffer; then the instance is closed (what was written
// stays readable for the client).
void AnswerAndClose(HANDLE pipe, std::string_view answer) {
    Overlapped write;
    write.Finish(
        pipe,
        ::WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), nullptr, &write.ov),
        100);
    ::CloseHandle(pipe);
}

enum class Progress { More, Line, Gone };

} // namespace

std::string CaptureChannelPath() {
    const std::string sid = pipe::OwnUserSid();
    if (sid.empty())
        return {};
    DWORD session = 0;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    return "\\\\.\\pipe\\glimmerly-capture-" + std::to_string(session) + "-" + sid;
}

// ---- CaptureRequest ----

CaptureRequest::~CaptureRequest() {
    Answer(false);
}

CaptureRequest::CaptureRequest(CaptureRequest&& other) noexcept
    : pipe_(other.pipe_), activationToken_(std::move(other.activationToken_)) {
    other.pipe_ = nullptr;
}

void CaptureRequest::Answer(bool taken) {
    if (!pipe_)
        return;
    AnswerAndClose(pipe_, taken ? kCaptureAnswerTaken : kCaptureAnswerBusy);
    pipe_ = nullptr;
}

// ---- CaptureChannelServer ----

// A connected client being read: what it sent so far and until when it may send the rest.
struct CaptureChannelServer::Client {
    HANDLE pipe;
    Clock::time_point deadline;
    Overlapped read;
    char buffer[kMaxLine];
    std::string line;

    // Starts the next read; false when the client is gone.
    bool ReadMore() {
        ::ResetEvent(read.ov.hEvent);
        const DWORD room = static_cast<DWORD>(kMaxLine - line.size());
        return ::ReadFile(pipe, buffer, room, nullptr, &read.ov) ||
               ::GetLastError() == ERROR_IO_PENDING;
    }
    // Takes what the read that ended brought.
    Progress Collect() {
        DWORD n = 0;
        if (!::GetOverlappedResult(pipe, &read.ov, &n, FALSE))
            return Progress::Gone;
        line.append(buffer, n);
        if (const auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end + 1);
            return Progress::Line;
        }
        if (line.size() >= kMaxLine)
            return Progress::Line; // too long for a request: judged as it is
        return ReadMore() ? Progress::More : Progress::Gone;
    }
    // Ends a read still under way, so that the buffer is no longer the system's.
    void StopReading() {
        DWORD n = 0;
        if (!HasOverlappedIoCompleted(&read.ov)) { // a macro
            ::CancelIoEx(pipe, &read.ov);
            ::GetOverlappedResult(pipe, &read.ov, &n, TRUE);
        }
    }
};

struct CaptureChannelServer::Listener {
    HANDLE pipe = nullptr;
    Overlapped connect;
    bool connectedAtOnce = false; // ConnectNamedPipe found its client there already
};

std::unique_ptr<CaptureChannelServer> CaptureChannelServer::Listen(const std::string& path,
                                                                   int requestDeadlineMs) {
    const std::string sid = pipe::OwnUserSid();
    if (path.empty() || sid.empty())
        return nullptr;
    // Full access for the user, nothing for anybody else, nothing inherited.
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(
            ("D:P(A;;GA;;;" + sid + ")").c_str(), SDDL_REVISION_1, &security, nullptr)) {
        return nullptr;
    }
    std::unique_ptr<CaptureChannelServer> server(
        new CaptureChannelServer(path, requestDeadlineMs, security));
    if (!server->ready_ || !server->stop_ || !server->StartListening(true))
        return nullptr;
    server->reader_ = std::thread([s = server.get()] { s->ReadClients(); });
    return server;
}

CaptureChannelServer::CaptureChannelServer(std::string path, int deadlineMs, void* security)
    : path_(std::move(path)), deadlineMs_(deadlineMs), security_(security),
      listener_(std::make_unique<Listener>()),
      ready_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      stop_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CaptureChannelServer::~CaptureChannelServer() {
    if (stop_)
        ::SetEvent(stop_);
    if (reader_.joinable())
        reader_.join();
    requests_.clear(); // answered "busy"
    if (listener_->pipe) {
        if (!listener_->connectedAtOnce) {
            ::CancelIoEx(listener_->pipe, &listener_->connect.ov);
            DWORD n = 0;
            ::GetOverlappedResult(listener_->pipe, &listener_->connect.ov, &n, TRUE);
        }
        ::CloseHandle(listener_->pipe);
    }
    for (HANDLE event : {ready_, stop_}) {
        if (event)
            ::CloseHandle(event);
    }
    ::LocalFree(security_);
}

bool CaptureChannelServer::StartListening(bool first) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security_, FALSE};
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode =
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    HANDLE pipe = ::CreateNamedPipeA(path_.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                     kPipeBuffer, kPipeBuffer, 0, &attributes);
    listener_->pipe = nullptr;
    if (pipe == INVALID_HANDLE_VALUE)
        return false;
    // Where FILE_FLAG_FIRST_PIPE_INSTANCE is not enforced (wine), instances somebody else made
    // beforehand still show in the count.
    DWORD instances = 0;
    if (first &&
        ::GetNamedPipeHandleStateA(pipe, nullptr, &instances, nullptr, nullptr, nullptr, 0) &&
        instances != 1) {
        ::CloseHandle(pipe);
        return false;
    }
    ::ResetEvent(listener_->connect.ov.hEvent);
    listener_->connectedAtOnce = false;
    if (!::ConnectNamedPipe(pipe, &listener_->connect.ov)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
            // A client came between the two calls (and may have gone again: its read fails).
            listener_->connectedAtOnce = true;
            ::SetEvent(listener_->connect.ov.hEvent);
        } else if (error != ERROR_IO_PENDING) {
            ::CloseHandle(pipe);
            return false;
        }
    }
    listener_->pipe = pipe;
    return true;
}

void CaptureChannelServer::ReadClients() {
    std::vector<std::unique_ptr<Client>> reading;
    std::vector<HANDLE> watched;
    for (;;) {
        watched.assign({stop_});
        if (!listener_->pipe)
            StartListening(false); // a new instance could not be made last time
        DWORD timeoutMs = INFINITE;
        if (listener_->pipe)
            watched.push_back(listener_->connect.ov.hEvent);
        else
            timeoutMs = 100; // and try again soon
        const Clock::time_point now = Clock::now();
        for (const auto& client : reading) {
            watched.push_back(client->read.ov.hEvent);
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(client->deadline - now).count();
            timeoutMs =
                std::min<DWORD>(timeoutMs, static_cast<DWORD>(std::max<long long>(left, 0)));
        }
        const DWORD woken = ::WaitForMultipleObjects(static_cast<DWORD>(watched.size()),
                                                     watched.data(), FALSE, timeoutMs);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED)
            break; // the server is being destroyed
        const Clock::time_point after = Clock::now();
        std::vector<std::unique_ptr<Client>> still;
        for (auto& client : reading) {
            const Progress progress =
                ::WaitForSingleObject(client->read.ov.hEvent, 0) == WAIT_OBJECT_0
                    ? client->Collect()
                    : Progress::More;
            if (progress == Progress::Gone) {
                ::CloseHandle(client->pipe);
            } else if (progress == Progress::Line) {
                if (std::optional<std::string> token = ParseCaptureRequest(client->line)) {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    requests_.emplace_back(client->pipe, std::move(*token));
                    ::SetEvent(ready_);
                } else {
                    AnswerAndClose(client->pipe, kCaptureAnswerUnknown);
                }
            } else if (after >= client->deadline) {
                client->StopReading();
                AnswerAndClose(client->pipe, kCaptureAnswerBusy); // not read in time: dropped
            } else {
                still.push_back(std::move(client));
            }
        }
        reading = std::move(still);
        if (listener_->pipe &&
            ::WaitForSingleObject(listener_->connect.ov.hEvent, 0) == WAIT_OBJECT_0)
            Accept(reading, after);
    }
    for (auto& client : reading) {
        client->StopReading();
        ::CloseHandle(client->pipe);
    }
}

// The listening instance has a client: it is read (or told "busy"), and a new instance listens.
void CaptureChannelServer::Accept(std::vector<std::unique_ptr<Client>>& reading,
                                  Clock::time_point now) {
    HANDLE pipe = listener_->pipe;
    DWORD n = 0;
    const bool connected = listener_->connectedAtOnce ||
                           ::GetOverlappedResult(pipe, &listener_->connect.ov, &n, FALSE);
    StartListening(false); // when it fails, the reader tries again shortly
    if (!connected) {
        ::CloseHandle(pipe);
        return;
    }
    if (reading.size() >= kMaxReading) {
        AnswerAndClose(pipe, kCaptureAnswerBusy);
        return;
    }
    auto client = std::make_unique<Client>();
    client->pipe = pipe;
    client->deadline = now + std::chrono::milliseconds(deadlineMs_);
    if (!client->ReadMore()) {
        ::CloseHandle(pipe);
        return;
    }
    reading.push_back(std::move(client));
}

std::vector<CaptureRequest> CaptureChannelServer::TakeRequests() {
    std::vector<CaptureRequest> taken;
    const std::lock_guard<std::mutex> lock(mutex_);
    ::ResetEvent(ready_);
    for (CaptureRequest& request : requests_)
        taken.push_back(std::move(request));
    requests_.clear();
    return taken;
}

void CaptureChannelServer::DropPending() {
    for (CaptureRequest& request : TakeRequests())
        request.Answer(false);
}

} // namespace glimmerly::platform
