// What the HTTP client tests share: a client and a temporary folder per test, the answer
// "ok", the tail every request head ends with, and ways to look at errors and bodies.
#pragma once

#include "net/http_client.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace glimmerly::net::client_test {

using testing::Answer;
using testing::LoopbackServer;
using testing::ServerConnection;
using testing::TempDir;

inline const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
inline const std::string kTail =
    "Accept: text/html, */*\r\nUser-Agent: Doveviraza Zudavove\r\n\r\n";

inline std::string WholeBody(MultipartBody& body) {
    std::string out(std::size_t(body.TotalSize()), '\0');
    body.Seek(0, 0);
    out.resize(body.Read(out.data(), out.size()));
    body.Seek(0, 0);
    return out;
}

// The error a call raises, as the given type; fails the test when it raises nothing.
template <typename Error, typename Call> Error Raised(Call call) {
    try {
        call();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "expected an error";
    throw std::logic_error("no error raised");
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class HttpClientTest : public ::testing::Test {
protected:
    std::string Host(const LoopbackServer& server) const {
        return "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n";
    }
    TempDir dir;
    HttpClient client;
};

} // namespace glimmerly::net::client_test
