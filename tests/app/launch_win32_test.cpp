// The Windows program started as a process: what reaches the starter's output, what ends a start
// silently, and a capture request handed to the running copy over the pipe.

#include "platform/capture_channel.h"
#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

using glimmerly::platform::CaptureChannelPath;
using glimmerly::platform::CaptureChannelServer;
using glimmerly::platform::CaptureRequest;

namespace {

struct Outcome {
    DWORD exitCode = 0;
    bool ended = false; // false: killed after the time-out
    std::string out;
    std::string err;
};

std::string ReadAll(HANDLE pipe) {
    std::string text;
    char buffer[512];
    DWORD n = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    return text;
}

// Starts the program with `arguments`, its output and error into pipes, and waits for its end.
Outcome Start(const std::string& arguments, DWORD timeoutMs = 20000) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    EXPECT_TRUE(::CreatePipe(&outRead, &outWrite, &inherit, 1 << 16));
    EXPECT_TRUE(::CreatePipe(&errRead, &errWrite, &inherit, 1 << 16));
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::string commandLine = "\"" GLIMMERLY_BINARY "\" " + arguments;
    PROCESS_INFORMATION process{};
    Outcome run;
    const bool started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    EXPECT_TRUE(started) << commandLine;
    if (started) {
        auto out = std::async(std::launch::async, [&] { return ReadAll(outRead); });
        auto err = std::async(std::launch::async, [&] { return ReadAll(errRead); });
        run.ended = ::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
        if (!run.ended)
            ::TerminateProcess(process.hProcess, 99);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::GetExitCodeProcess(process.hProcess, &run.exitCode);
        run.out = out.get();
        run.err = err.get();
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return run;
}

// The running copy's guard, held by the test.
class HeldGuard {
public:
    HeldGuard() : mutex_(::CreateMutexA(nullptr, TRUE, "Screenshot")) {}
    ~HeldGuard() {
        ::ReleaseMutex(mutex_);
        ::CloseHandle(mutex_);
    }
    HeldGuard(const HeldGuard&) = delete;
    HeldGuard& operator=(const HeldGuard&) = delete;

private:
    HANDLE mutex_;
};

TEST(WindowsLaunch, TextsReachTheStartersOutputWithTheirExitStatus) {
    const Outcome version = Start("--version");
    ASSERT_TRUE(version.ended);
    EXPECT_EQ(version.exitCode, 0u);
    EXPECT_EQ(version.out, "glimmerly 3.2\r\n");
    const Outcome help = Start("--help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_EQ(help.out.rfind("Aufruf: glimmerly [OPTION]\r\n", 0), 0u) << help.out;
    const Outcome bad = Start("--bogus");
    EXPECT_EQ(bad.exitCode, 2u);
    EXPECT_TRUE(bad.out.empty());
    EXPECT_EQ(bad.err.rfind("glimmerly: unbekanntes oder \xC3\xBC"
                            "berz\xC3\xA4hliges Argument: --bogus\r\n",
                            0),
              0u)
        << bad.err;
}

TEST(WindowsLaunch, ASecondCopyEndsSilently) {
    HeldGuard guard;
    const Outcome second = Start("");
    ASSERT_TRUE(second.ended) << "the second copy kept running";
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(second.out + second.err, "");
}

// The running copy is this test: its channel takes the request of a copy started with
// --capture, which ends with 0; without a channel the copy says so and fails.
TEST(WindowsLaunch, CaptureIsHandedToTheRunningCopy) {
    HeldGuard guard;
    {
        auto server = CaptureChannelServer::Listen(CaptureChannelPath());
        ASSERT_NE(server, nullptr);
        auto asking = std::async(std::launch::async, [] { return Start("--capture"); });
        std::size_t taken = 0;
        while (asking.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            for (CaptureRequest& request : server->TakeRequests()) {
                ++taken;
                request.Answer(true);
            }
        }
        const Outcome run = asking.get();
        EXPECT_EQ(taken, 1u);
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(run.out + run.err, "");
    }
    const Outcome unheard = Start("--capture");
    EXPECT_EQ(unheard.exitCode, 1u);
    EXPECT_NE(unheard.err.find("nimmt keine Anfragen an"), std::string::npos) << unheard.err;
}

} // namespace
