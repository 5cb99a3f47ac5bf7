// The capture channel's named pipe on Windows: its name, who may open it, a name somebody took
// first, and a copy of the program from before activation tokens.

#include "platform/capture_channel.h"
#include "platform/win32/windows_api.h"
#include "tests/platform/channel_client.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

using glimmerly::platform::CaptureChannelPath;
using glimmerly::platform::CaptureChannelServer;
using glimmerly::platform::CaptureRequest;
using glimmerly::platform::CaptureRequestResult;
using glimmerly::platform::SendCaptureRequest;
using glimmerly::testing::RawChannelClient;
using glimmerly::testing::WaitForRequests;

namespace {

// The SID of this process's user, as text.
std::string OwnSid() {
    HANDLE token = nullptr;
    EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
    char buffer[512];
    DWORD size = sizeof buffer;
    EXPECT_TRUE(::GetTokenInformation(token, TokenUser, buffer, size, &size));
    ::CloseHandle(token);
    char* text = nullptr;
    EXPECT_TRUE(::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text));
    std::string sid = text ? text : "";
    ::LocalFree(text);
    return sid;
}

// Answers the one request a client sends with "ok", on a thread of its own.
std::size_t ServeOne(CaptureChannelServer& server, std::future<CaptureRequestResult>& client) {
    std::size_t taken = 0;
    while (client.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        if (!WaitForRequests(server, 50))
            continue;
        for (CaptureRequest& request : server.TakeRequests()) {
            ++taken;
            request.Answer(true);
        }
    }
    return taken;
}

class PipeChannel : public ::testing::Test {
protected:
    glimmerly::testing::ChannelPlace place_;
    const std::string path_ = place_.Path();
};

TEST_F(PipeChannel, TheNameCarriesTheSessionAndTheUser) {
    DWORD session = 0;
    ASSERT_TRUE(::ProcessIdToSessionId(::GetCurrentProcessId(), &session));
    EXPECT_EQ(CaptureChannelPath(),
              "\\\\.\\pipe\\glimmerly-capture-" + std::to_string(session) + "-" + OwnSid());
}

// The pipe's DACL grants the user alone, and nothing is inherited into it.
TEST_F(PipeChannel, OnlyTheUserMayOpenThePipe) {
    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    HANDLE pipe = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr) << "no DACL: everybody may open it";
    ASSERT_EQ(dacl->AceCount, 1);
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 0, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    char* sid = nullptr;
    ASSERT_TRUE(::ConvertSidToStringSidA(&allowed->SidStart, &sid));
    EXPECT_EQ(std::string(sid), OwnSid());
    ::LocalFree(sid);
    ::LocalFree(descriptor);
    ::CloseHandle(pipe);
}

// Whoever holds the name first keeps it: a second server (another copy, or somebody who put a
// pipe there beforehand) is refused instead of sharing the name.
TEST_F(PipeChannel, ANameTakenFirstIsNotShared) {
    HANDLE squatter = ::CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                         PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CaptureChannelServer::Listen(path_), nullptr);
    ::CloseHandle(squatter);

    auto server = CaptureChannelServer::Listen(path_);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(CaptureChannelServer::Listen(path_), nullptr);
    auto client = std::async(std::launch::async, [this] { return SendCaptureRequest(path_, 0); });
    EXPECT_EQ(ServeOne(*server, client), 1u);
    EXPECT_EQ(client.get(), CaptureRequestResult::Taken);
}

TEST_F(PipeChannel, ACopyFromBeforeTokensIsAskedAgainWithoutOne) {
    // The old server read at most "capture\n" and answered anything else with "?".
    std::vector<std::string> heard;
    HANDLE first = ::CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                      PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    std::thread old([&] {
        HANDLE pipe = first;
        for (int i = 0; i < 2; ++i) {
            if (!::ConnectNamedPipe(pipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED)
                break;
            // The next instance waits before this one closes.
            HANDLE next = ::CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                             PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr);
            std::string line;
            char c = 0;
            DWORD n = 0;
            while (line.size() < 8 && ::ReadFile(pipe, &c, 1, &n, nullptr) && n == 1)
                line += c;
            heard.push_back(line);
            const std::string answer = line == "capture\n" ? "ok\n" : "?\n";
            ::WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &n, nullptr);
            ::FlushFileBuffers(pipe);
            ::CloseHandle(pipe);
            pipe = next;
            if (line == "capture\n")
                break;
        }
        ::CloseHandle(pipe);
    });
    EXPECT_EQ(SendCaptureRequest(path_, 1000, "token"), CaptureRequestResult::Taken);
    // A stand-in still waiting for the second request is let go.
    const auto released = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (released != INVALID_HANDLE_VALUE)
        ::CloseHandle(released);
    old.join();
    EXPECT_EQ(heard, (std::vector<std::string>{"capture ", "capture\n"}));
}

} // namespace
