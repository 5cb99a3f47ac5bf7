#include "tests/platform/channel_client.h"

#include "platform/win32/windows_api.h"

#include <atomic>
#include <chrono>

namespace glimmerly::testing {

namespace {

HANDLE AsHandle(long long handle) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// Bytes waiting in the pipe; -1 once the server has closed and nothing is left.
long Available(HANDLE pipe) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        return -1;
    return static_cast<long>(available);
}

} // namespace

ChannelPlace::ChannelPlace() {
    static std::atomic<int> count{0};
    path_ = "\\\\.\\pipe\\glimmerly-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++count);
}

RawChannelClient::RawChannelClient(const std::string& path) : handle_(-1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        HANDLE pipe = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (pipe != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(pipe);
            return;
        }
        if (::GetLastError() != ERROR_PIPE_BUSY)
            return;
        ::WaitNamedPipeA(path.c_str(), 50);
    } while (std::chrono::steady_clock::now() < deadline);
}

RawChannelClient::~RawChannelClient() {
    Close();
}

RawChannelClient::RawChannelClient(RawChannelClient&& other) noexcept : handle_(other.handle_) {
    other.handle_ = -1;
}

bool RawChannelClient::Connected() const {
    return handle_ != -1;
}

bool RawChannelClient::Send(std::string_view bytes) {
    DWORD written = 0;
    return ::WriteFile(AsHandle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

bool RawChannelClient::Readable(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (Available(AsHandle(handle_)) != 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ::Sleep(5);
    }
}

bool RawChannelClient::StillWaiting() {
    return Available(AsHandle(handle_)) == 0;
}

std::string RawChannelClient::Answer() {
    std::string answer;
    char buffer[64];
    while (Readable(10000)) {
        DWORD n = 0;
        if (!::ReadFile(AsHandle(handle_), buffer, sizeof buffer, &n, nullptr) || n == 0)
            break;
        answer.append(buffer, n);
    }
    Close();
    return answer;
}

void RawChannelClient::Close() {
    if (handle_ != -1)
        ::CloseHandle(AsHandle(handle_));
    handle_ = -1;
}

bool WaitForRequests(const platform::CaptureChannelServer& server, int ms) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(server.Wake().native),
                                 static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

} // namespace glimmerly::testing
