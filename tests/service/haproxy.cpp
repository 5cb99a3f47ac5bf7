#include "tests/service/haproxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/service/harness.h"

namespace glimmerly::service::test {

namespace fs = std::filesystem;

std::string HaproxyProcess::Program() {
    for (const char* path : {"/usr/sbin/haproxy", "/usr/bin/haproxy"}) {
        if (::access(path, X_OK) == 0) {
            return path;
        }
    }
    return {};
}

namespace {

std::string Servers(const std::vector<std::uint16_t>& ports, bool sendProxy) {
    std::string lines;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        // A health check every 200 ms: one failure takes an instance out, two successes back in.
        lines += "    server instance" + std::to_string(i + 1) +
                 " 127.0.0.1:" + std::to_string(ports[i]) + " check inter 200ms fall 1 rise 2" +
                 (sendProxy ? " send-proxy\n" : "\n");
    }
    return lines;
}

} // namespace

HaproxyProcess::HaproxyProcess(const fs::path& folder,
                               const std::vector<std::uint16_t>& uploadPorts,
                               const std::vector<std::uint16_t>& servicePorts, bool sendProxy) {
    uploadPort_ = FreePort();
    servicePort_ = FreePort();
    fs::path config = folder / "haproxy.cfg";
    log_ = folder / "haproxy.log";
    // Requests that reached an instance are never sent again (an upload is no idempotent
    // request); a connection that fails goes to the next instance.
    std::ofstream(config) << "global\n"
                             "    maxconn 4000\n"
                             "defaults\n"
                             "    timeout connect 1s\n"
                             "    timeout client 60s\n"
                             "    timeout server 60s\n"
                             "    timeout check 1s\n"
                             "    retries 3\n"
                             "    option redispatch 1\n"
                             "frontend uploads\n"
                             "    mode http\n"
                             "    timeout http-request 10s\n"
                             "    bind 127.0.0.1:"
                          << uploadPort_
                          << "\n"
                             "    default_backend upload_instances\n"
                             "backend upload_instances\n"
                             "    mode http\n"
                             "    balance roundrobin\n"
                             "    retry-on conn-failure\n"
                             "    option httpchk GET /health\n"
                             "    http-check expect status 200\n"
                          << Servers(uploadPorts, sendProxy)
                          << "frontend pages\n"
                             "    mode tcp\n"
                             "    bind 127.0.0.1:"
                          << servicePort_
                          << "\n"
                             "    default_backend service_instances\n"
                             "backend service_instances\n"
                             "    mode tcp\n"
                             "    balance roundrobin\n"
                             "    option httpchk GET /health\n"
                             "    http-check expect status 200\n"
                          << Servers(servicePorts, sendProxy);
    std::string program = Program();
    if (program.empty()) {
        ADD_FAILURE() << "haproxy is not installed";
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // also when the test program is killed
        int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl(program.c_str(), program.c_str(), "-db", "-f", config.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        int a = Connect(uploadPort_);
        int b = a >= 0 ? Connect(servicePort_) : -1;
        for (int fd : {a, b}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (a >= 0 && b >= 0) {
            ready_ = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ok()) {
        ADD_FAILURE() << "haproxy did not start:\n" << Log();
    }
}

HaproxyProcess::~HaproxyProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::string HaproxyProcess::Log() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace glimmerly::service::test
