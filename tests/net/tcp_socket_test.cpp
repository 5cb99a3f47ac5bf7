// The socket layer under the HTTP client, on whichever system it was built for: the error
// numbers and texts it raises come from the system's own failures, a cancel from another thread
// ends a blocked wait, and a peer's end is told apart from a peer's reset.
#include "net/http_errors.h"
#include "net/tcp_socket.h"
#include "tests/support/loopback_server.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <thread>

namespace glimmerly::net {
namespace {

using testing::LoopbackServer;
using testing::ServerConnection;

bool UnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// The number of the SocketError a call raises; 0 when it raises none.
template <typename Call> int ErrorNumber(Call call) {
    try {
        call();
    } catch (const SocketError& e) {
        return e.number();
    }
    return 0;
}

TEST(TcpSocket, RefusedConnect) {
    CancelSignal cancel;
    TcpSocket socket(cancel);
    try {
        socket.Connect("127.0.0.1", testing::UnusedPort(), 5000);
        FAIL() << "connected where nobody listens";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.number(), 10061);
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(socket.IsOpen());
}

TEST(TcpSocket, CancelFromAnotherThreadEndsABlockedReceive) {
    LoopbackServer server([&](ServerConnection& c) {
        c.Send("x");
        c.Stall(30000);
    });
    CancelSignal cancel;
    TcpSocket socket(cancel);
    socket.Connect("localhost", server.Port(), 0);
    char buffer[16];
    // The first byte comes; the second read blocks until the cancel.
    ASSERT_EQ(socket.WaitReadable(5000), WaitResult::Ready);
    ASSERT_EQ(socket.ReceiveSome(buffer, sizeof buffer), 1u);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel.Fire();
    });
    const auto start = std::chrono::steady_clock::now();
    const int number = ErrorNumber([&] { socket.ReceiveSome(buffer, sizeof buffer); });
    canceller.join();
    EXPECT_EQ(number, 10004);
    // Woken by the cancel, long before the server would have ended the stall.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_STREQ(SocketError(number).what(), "Socket Error # 10004\r\nInterrupted system call.");
    EXPECT_FALSE(socket.IsOpen());
    // It stays in force: the next connect does not even start.
    EXPECT_EQ(ErrorNumber([&] { socket.Connect("127.0.0.1", server.Port(), 0); }), 10004);
    server.Release();
}

TEST(TcpSocket, IdleWaitEndsAfterItsTimeAndDataEndsIt) {
    LoopbackServer server([](ServerConnection& c) {
        c.Stall(300);
        c.Send("late");
        c.Stall();
    });
    CancelSignal cancel;
    TcpSocket socket(cancel);
    socket.Connect("127.0.0.1", server.Port(), 0);
    EXPECT_EQ(socket.WaitReadable(20), WaitResult::TimedOut);
    EXPECT_TRUE(socket.IsOpen());
    ASSERT_EQ(socket.WaitReadable(0), WaitResult::Ready);
    char buffer[16];
    EXPECT_EQ(std::string(buffer, socket.ReceiveSome(buffer, sizeof buffer)), "late");
    server.Release();
}

TEST(TcpSocket, PeersEndIsZeroBytes) {
    LoopbackServer server([](ServerConnection& c) {
        c.ReadHead();
        c.Send("bye");
    });
    CancelSignal cancel;
    TcpSocket socket(cancel);
    socket.Connect("127.0.0.1", server.Port(), 0);
    socket.SendSome("GET\r\n\r\n", 7, 0);
    char buffer[16];
    EXPECT_EQ(std::string(buffer, socket.ReceiveSome(buffer, sizeof buffer)), "bye");
    EXPECT_EQ(socket.ReceiveSome(buffer, sizeof buffer), 0u);
    EXPECT_EQ(socket.ReceiveSome(buffer, sizeof buffer), 0u);
}

TEST(TcpSocket, PeersResetIsAnError) {
    if (UnderWine()) {
        GTEST_SKIP()
            << "wine ends a socket closed with a zero linger time in order, not with a reset";
    }
    LoopbackServer server([](ServerConnection& c) {
        c.ReadHead();
        c.Reset();
    });
    CancelSignal cancel;
    TcpSocket socket(cancel);
    socket.Connect("127.0.0.1", server.Port(), 0);
    socket.SendSome("GET\r\n\r\n", 7, 0);
    char buffer[16];
    const int number = ErrorNumber([&] { socket.ReceiveSome(buffer, sizeof buffer); });
    EXPECT_EQ(number, 10054);
    EXPECT_STREQ(SocketError(number).what(), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_FALSE(socket.IsOpen());
    // Using the closed socket is the client's own mistake, not a socket error.
    try {
        socket.SendSome("x", 1, 0);
        FAIL() << "sent on a closed socket";
    } catch (const SocketError&) {
        FAIL() << "a socket error for a socket that is gone";
    } catch (const HttpError& e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
}

} // namespace
} // namespace glimmerly::net
