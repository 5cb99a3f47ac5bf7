#pragma once
// A load balancer in front of several service instances for the tests: haproxy in the foreground
// with a generated configuration on free loopback ports, round robin, health checks (GET /health)
// every 200 ms, and retries of connections that fail (never of requests that reached an
// instance).

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace glimmerly::service::test {

class HaproxyProcess {
public:
    // One frontend per list: uploadPorts are balanced in HTTP mode, servicePorts over whole TCP
    // connections (request targets with raw blanks pass unchanged). Waits up to 10 s until both
    // frontends listen. folder holds the configuration and the log. sendProxy: every connection
    // to an instance begins with a PROXY protocol header naming the client.
    HaproxyProcess(const std::filesystem::path& folder,
                   const std::vector<std::uint16_t>& uploadPorts,
                   const std::vector<std::uint16_t>& servicePorts, bool sendProxy = false);
    ~HaproxyProcess();
    HaproxyProcess(const HaproxyProcess&) = delete;
    HaproxyProcess& operator=(const HaproxyProcess&) = delete;

    // The path of the haproxy program, or empty when it is not installed.
    static std::string Program();

    bool ok() const { return pid_ > 0 && ready_; }
    std::uint16_t uploadPort() const { return uploadPort_; }
    std::uint16_t servicePort() const { return servicePort_; }
    pid_t pid() const { return pid_; }
    std::string Log() const;

private:
    pid_t pid_ = -1;
    bool ready_ = false;
    std::uint16_t uploadPort_ = 0;
    std::uint16_t servicePort_ = 0;
    std::filesystem::path log_;
};

} // namespace glimmerly::service::test
