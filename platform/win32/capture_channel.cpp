// The capture channel on Windows: a named pipe of the user's session, read by a thread of its
// own, which wakes the window thread through a manual-reset event.
#include "platform/capture_channel.h"

#include "platform/win32/pipe_parts.h"

#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <thread>

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

void CaptureRequest::AnswerAndClose(std::intptr_t connection, std::string_view answer) {
    platform::AnswerAndClose(reinterpret_cast<HANDLE>(connection), answer);
}

// ---- CaptureChannelServer ----

namespace {

// A connected client being read: what it sent so far and until when it may send the rest.
struct Client {
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

struct Listener {
    HANDLE pipe = nullptr;
    Overlapped connect;
    bool connectedAtOnce = false; // ConnectNamedPipe found its client there already
};

} // namespace

struct CaptureChannelServer::Reader {
    Reader(std::string path, int deadlineMs, void* security)
        : path(std::move(path)), deadlineMs(deadlineMs), security(security),
          ready(::CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Reader();
    // Ends the reader thread.
    void Stop() {
        if (stop)
            ::SetEvent(stop);
        if (thread.joinable())
            thread.join();
    }
    bool StartListening(bool first);
    void ReadClients(CaptureChannelServer& server);
    void Accept(std::vector<std::unique_ptr<Client>>& reading, Clock::time_point now);

    std::string path;
    int deadlineMs;
    void* security;    // the pipe's security descriptor (LocalFree)
    Listener listener; // the instance waiting for the next client
    HANDLE ready;      // set by the reader, reset by TakeRequests()
    HANDLE stop;       // set to end the reader
    std::thread thread;
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
    std::unique_ptr<CaptureChannelServer> server(new CaptureChannelServer);
    server->reader_ = std::make_unique<Reader>(path, requestDeadlineMs, security);
    Reader& reader = *server->reader_;
    if (!reader.ready || !reader.stop || !reader.StartListening(true))
        return nullptr;
    reader.thread = std::thread([&reader, s = server.get()] { reader.ReadClients(*s); });
    return server;
}

CaptureChannelServer::~CaptureChannelServer() {
    if (reader_)
        reader_->Stop();
    requests_.clear(); // answered "busy"
    reader_.reset();
}

CaptureChannelServer::Reader::~Reader() {
    if (listener.pipe) {
        if (!listener.connectedAtOnce) {
            ::CancelIoEx(listener.pipe, &listener.connect.ov);
            DWORD n = 0;
            ::GetOverlappedResult(listener.pipe, &listener.connect.ov, &n, TRUE);
        }
        ::CloseHandle(listener.pipe);
    }
    for (HANDLE event : {ready, stop}) {
        if (event)
            ::CloseHandle(event);
    }
    ::LocalFree(security);
}

WakeHandle CaptureChannelServer::Wake() const {
    return {reinterpret_cast<std::intptr_t>(reader_->ready)};
}

void CaptureChannelServer::SetWake() {
    ::SetEvent(reader_->ready);
}

void CaptureChannelServer::ClearWake() {
    ::ResetEvent(reader_->ready);
}

bool CaptureChannelServer::Reader::StartListening(bool first) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    const DWORD openMode =
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    const DWORD pipeMode =
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    HANDLE pipe = ::CreateNamedPipeA(path.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES,
                                     kPipeBuffer, kPipeBuffer, 0, &attributes);
    listener.pipe = nullptr;
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
    ::ResetEvent(listener.connect.ov.hEvent);
    listener.connectedAtOnce = false;
    if (!::ConnectNamedPipe(pipe, &listener.connect.ov)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
            // A client came between the two calls (and may have gone again: its read fails).
            listener.connectedAtOnce = true;
            ::SetEvent(listener.connect.ov.hEvent);
        } else if (error != ERROR_IO_PENDING) {
            ::CloseHandle(pipe);
            return false;
        }
    }
    listener.pipe = pipe;
    return true;
}

void CaptureChannelServer::Reader::ReadClients(CaptureChannelServer& server) {
    std::vector<std::unique_ptr<Client>> reading;
    std::vector<HANDLE> watched;
    for (;;) {
        watched.assign({stop});
        if (!listener.pipe)
            StartListening(false); // a new instance could not be made last time
        DWORD timeoutMs = INFINITE;
        if (listener.pipe)
            watched.push_back(listener.connect.ov.hEvent);
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
                    server.Deliver(CaptureRequest(reinterpret_cast<std::intptr_t>(client->pipe),
                                                  std::move(*token)));
                } else {
                    platform::AnswerAndClose(client->pipe, kCaptureAnswerUnknown);
                }
            } else if (after >= client->deadline) {
                client->StopReading();
                platform::AnswerAndClose(client->pipe,
                                         kCaptureAnswerBusy); // not read in time: dropped
            } else {
                still.push_back(std::move(client));
            }
        }
        reading = std::move(still);
        if (listener.pipe && ::WaitForSingleObject(listener.connect.ov.hEvent, 0) == WAIT_OBJECT_0)
            Accept(reading, after);
    }
    for (auto& client : reading) {
        client->StopReading();
        ::CloseHandle(client->pipe);
    }
}

// The listening instance has a client: it is read (or told "busy"), and a new instance listens.
void CaptureChannelServer::Reader::Accept(std::vector<std::unique_ptr<Client>>& reading,
                                          Clock::time_point now) {
    HANDLE pipe = listener.pipe;
    DWORD n = 0;
    const bool connected =
        listener.connectedAtOnce || ::GetOverlappedResult(pipe, &listener.connect.ov, &n, FALSE);
    StartListening(false); // when it fails, the reader tries again shortly
    if (!connected) {
        ::CloseHandle(pipe);
        return;
    }
    if (reading.size() >= kMaxReading) {
        platform::AnswerAndClose(pipe, kCaptureAnswerBusy);
        return;
    }
    auto client = std::make_unique<Client>();
    client->pipe = pipe;
    client->deadline = now + std::chrono::milliseconds(deadlineMs);
    if (!client->ReadMore()) {
        ::CloseHandle(pipe);
        return;
    }
    reading.push_back(std::move(client));
}

} // namespace glimmerly::platform
