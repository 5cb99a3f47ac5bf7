// The asking copy's end of the capture pipe: connect, check who listens, send, read the answer.
#include "platform/capture_channel.h"
#include "platform/win32/pipe_parts.h"

#include <algorithm>
#include <chrono>

namespace glimmerly::platform {

namespace {

using Clock = std::chrono::steady_clock;
using pipe::Overlapped;

// The running copy answers from its window thread, which a capture may hold a while.
constexpr DWORD kAnswerWaitMs = 10000;
// How long an asking copy waits for a free instance of a pipe that is there.
constexpr int kBusyWaitMs = 2000;

// Connects to `path`, waiting up to `connectWaitMs` for it to appear. A pipe that is there but
// has no free instance (the running copy is between two clients) is waited for up to
// kBusyWaitMs however short `connectWaitMs` is.
HANDLE ConnectPipe(const std::string& path, int connectWaitMs) {
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(connectWaitMs);
    const auto busyDeadline =
        start + std::chrono::milliseconds(std::max(connectWaitMs, kBusyWaitMs));
    for (;;) {
        // Identification only: the running copy may learn who asks, not act as the asker.
        HANDLE pipe = ::CreateFileA(
            path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        const bool busy = ::GetLastError() == ERROR_PIPE_BUSY;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                              (busy ? busyDeadline : deadline) - Clock::now())
                              .count();
        if (left <= 0)
            return nullptr;
        if (busy)
            ::WaitNamedPipeA(path.c_str(), static_cast<DWORD>(std::min<long long>(left, 50)));
        else
            ::Sleep(static_cast<DWORD>(std::min<long long>(left, 50)));
    }
}

// Sends `request` and reads the answer line (what came before the end or the time-out).
std::string Exchange(HANDLE pipe, const std::string& request) {
    Overlapped write;
    if (write.Finish(pipe,
                     ::WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), nullptr,
                                 &write.ov),
                     kAnswerWaitMs) != static_cast<long>(request.size())) {
        return {};
    }
    std::string answer;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerWaitMs);
    char c = 0;
    while (answer.size() < 16 && (answer.empty() || answer.back() != '\n')) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        Overlapped read;
        if (left <= 0 || read.Finish(pipe, ::ReadFile(pipe, &c, 1, nullptr, &read.ov),
                                     static_cast<DWORD>(left)) != 1) {
            break;
        }
        answer += c;
    }
    return answer;
}

} // namespace

CaptureRequestResult SendCaptureRequest(const std::string& path, int connectWaitMs,
                                        const std::string& activationToken) {
    if (path.empty())
        return CaptureRequestResult::NoListener;
    HANDLE pipe = ConnectPipe(path, connectWaitMs);
    if (!pipe)
        return CaptureRequestResult::NoListener;
    ULONG server = 0;
    if (!::GetNamedPipeServerProcessId(pipe, &server) || !pipe::RunsAsOwnUser(server)) {
        ::CloseHandle(pipe);
        return CaptureRequestResult::Refused;
    }
    // The running copy's window may come to the front when it takes the request.
    ::AllowSetForegroundWindow(server);
    const std::string answer = Exchange(pipe, CaptureRequestLine(activationToken));
    ::CloseHandle(pipe);
    if (answer == kCaptureAnswerUnknown && IsActivationToken(activationToken))
        return SendCaptureRequest(path, 0); // a copy from before tokens
    return CaptureAnswerResult(answer);
}

} // namespace glimmerly::platform
