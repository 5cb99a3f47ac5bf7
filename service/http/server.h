#pragma once
// The HTTP side of glimmerly-service: two libmicrohttpd daemons on the service port (pages,
// pictures, rename, session login, live updates) and the upload port (upload.php).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "service/rules/picture_store.h"

struct MHD_Daemon;

namespace glimmerly::service {

class AccessLog;
class ConnectionGuard;
class SocketListener;
struct Exchange;
struct Reply;

struct ServiceConfig {
    std::string listenAddress = "127.0.0.1";
    std::uint16_t servicePort = 8460; // 0: any free port
    std::uint16_t uploadPort = 8461;  // 0: any free port
    std::string publicHost = "localhost:8460";
    std::string version = "3.2";
    std::chrono::milliseconds sessionTtl = std::chrono::hours(24);
    // Interval of the keep-alive comments on the live-update stream.
    std::chrono::milliseconds eventPing = std::chrono::seconds(15);
    // Time after which a live-update stream ends; the page then reconnects with its last id.
    std::chrono::milliseconds eventLifetime = std::chrono::minutes(10);
    // Live-update streams one session, and one client address, may hold open at once.
    unsigned eventStreamsPerSession = 8;
    unsigned eventStreamsPerAddress = 32;
    // Connections one client address may hold open on each port.
    unsigned perAddressLimit = 64;
    // Time a connection has for its request line and headers (a body may take longer).
    std::chrono::milliseconds headerTimeout = std::chrono::seconds(10);
    // Time a request has for its body once its head is complete: the largest upload we take
    // (kMaxUploadBody) in 30 s needs about 12 KB/s.
    std::chrono::milliseconds bodyTimeout = std::chrono::seconds(30);
    // Every connection starts with a PROXY protocol header (from a balancer), whose client
    // address then counts for the per-address limit.
    bool proxyProtocol = false;
    // Where a line per request goes; none when null.
    std::shared_ptr<AccessLog> accessLog;
    // The instance's name in the access log; empty: listen address and service port.
    std::string instance;
};

// Largest JPEG the upload host takes; larger ones are answered with "toobig".
inline constexpr std::size_t kMaxPictureBytes = 307200;
// Room for the form fields and part heads around the picture.
inline constexpr std::size_t kMaxUploadBody = kMaxPictureBytes + 64 * 1024;
// Bodies beyond this size are refused before they are read.
inline constexpr std::size_t kRefusedUploadBody = 64u * 1024 * 1024;

class Server {
public:
    Server(PictureStore& store, ServiceConfig config);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    bool Start(std::string& error);
    // Stops accepting connections (new ones are refused), ends live-update streams and lets the
    // requests in flight finish, each reply closing its connection, until none is left or the
    // deadline has passed; then stops. True when no request had to be cut off.
    bool Drain(std::chrono::milliseconds deadline);
    // Ends live-update streams and stops both daemons; waits for running requests.
    void Stop();
    bool Draining() const { return draining_; }

    std::uint16_t ServicePort() const { return servicePort_; }
    std::uint16_t UploadPort() const { return uploadPort_; }

    // Request routing, called by the daemons' handlers.
    Reply HandleService(const std::string& method, const std::string& rawTarget,
                        const char* lastEventId, const std::string& client = {},
                        const char* cookie = nullptr);
    Reply HandleUpload(const std::string& method, const std::string& rawTarget,
                       const char* contentType, Exchange& exchange);

    PictureStore& store() { return store_; }
    const ServiceConfig& config() const { return config_; }
    const std::string& Instance() const { return instance_; }

private:
    Reply Rename(const std::string& query, const char* cookie);
    Reply DeletePicture(const std::string& query, const char* cookie);
    Reply Login(const std::string& query);
    Reply SessionPage(const std::string& session);
    Reply Events(const std::string& session, const std::string& query, const char* lastEventId,
                 const std::string& client);
    Reply Picture(const std::string& name);
    Reply Health();
    std::string PictureAddress(const std::string& name) const;

    PictureStore& store_;
    ServiceConfig config_;
    std::unique_ptr<ConnectionGuard> guard_;
    std::unique_ptr<SocketListener> serviceListener_;
    std::unique_ptr<SocketListener> uploadListener_;
    std::atomic<bool> draining_{false};
    MHD_Daemon* service_ = nullptr;
    MHD_Daemon* upload_ = nullptr;
    std::uint16_t servicePort_ = 0;
    std::uint16_t uploadPort_ = 0;
    std::string instance_;
};

} // namespace glimmerly::service
