#include "service/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <microhttpd.h>

#include "service/connection_guard.h"
#include "service/server_reply.h"

namespace glimmerly::service {

namespace {

// Idle time-out of every connection; bodies that keep moving are bound by this alone.
constexpr unsigned kIdleTimeoutSeconds = 60;

// Runs a request handler; a store failure becomes a German text instead of a dropped connection.
template <typename Handler> Server::Reply Guarded(Handler handler) {
    try {
        return handler();
    } catch (const StoreUnavailable&) {
        Server::Reply r = Server::Reply::Text("Die Datenbank ist gerade nicht erreichbar. Bitte "
                                              "versuchen Sie es in einigen Sekunden noch einmal.",
                                              MHD_HTTP_SERVICE_UNAVAILABLE);
        r.headers.emplace_back("Retry-After", "5");
        return r;
    } catch (const std::exception&) {
        return Server::Reply::Text("Interner Fehler. Bitte versuchen Sie es später noch einmal.",
                                   MHD_HTTP_INTERNAL_SERVER_ERROR);
    }
}

MHD_Result Send(MHD_Connection* connection, Server::Reply reply) {
    MHD_Response* response = nullptr;
    if (reply.events) {
        response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, ReadEvents,
                                                     reply.events, FreeEvents);
    } else if (reply.fd >= 0) {
        response = MHD_create_response_from_fd64(reply.fdSize, reply.fd);
    } else {
        response = MHD_create_response_from_buffer(reply.body.size(), reply.body.data(),
                                                   MHD_RESPMEM_MUST_COPY);
    }
    if (!response) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    if (reply.contentType == kHtmlType) {
        MHD_add_response_header(response, "Content-Security-Policy",
                                "default-src 'self'; object-src 'none'; base-uri 'none'");
    }
    for (auto& [key, value] : reply.headers) {
        MHD_add_response_header(response, key.c_str(), value.c_str());
    }
    MHD_Result result = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return result;
}

// Keeps the raw request target: libmicrohttpd would otherwise decode "%xx" and "+" in it.
void* KeepRawTarget(void*, const char* uri, MHD_Connection*) {
    auto* exchange = new Server::Exchange();
    exchange->rawTarget = uri ? uri : "";
    return exchange;
}

void Completed(void*, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
    ConnectionGuard::RequestDone(connection);
    delete static_cast<Server::Exchange*>(*context);
    *context = nullptr;
}

// Paths are never decoded; the handlers work on the raw target.
size_t NoUnescape(void*, MHD_Connection*, char* text) {
    return std::strlen(text);
}

// The peer's IPv4 address as text; empty when unknown.
std::string ClientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET_ADDRSTRLEN] = {};
    if (!info || !info->client_addr || info->client_addr->sa_family != AF_INET) {
        return {};
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(info->client_addr);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    return text;
}

MHD_Result OnServiceRequest(void* cls, MHD_Connection* connection, const char*, const char* method,
                            const char*, const char*, std::size_t* uploadSize, void** context) {
    auto* server = static_cast<Server*>(cls);
    auto* exchange = static_cast<Server::Exchange*>(*context);
    if (!exchange || (!exchange->started && !ConnectionGuard::HeadComplete(connection))) {
        return MHD_NO;
    }
    if (*uploadSize > 0) {
        // The service host takes no bodies; drop whatever comes.
        *uploadSize = 0;
        return MHD_YES;
    }
    if (!exchange->started) {
        exchange->started = true;
        return MHD_YES;
    }
    const char* lastEventId =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Last-Event-ID");
    return Send(connection, Guarded([&] {
                    return server->HandleService(method, exchange->rawTarget, lastEventId,
                                                 ClientAddress(connection));
                }));
}

MHD_Result OnUploadRequest(void* cls, MHD_Connection* connection, const char*, const char* method,
                           const char*, const char* uploadData, std::size_t* uploadSize,
                           void** context) {
    auto* server = static_cast<Server*>(cls);
    auto* exchange = static_cast<Server::Exchange*>(*context);
    if (!exchange || (!exchange->started && !ConnectionGuard::HeadComplete(connection))) {
        return MHD_NO;
    }
    if (!exchange->started) {
        exchange->started = true;
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length && std::strtoull(length, nullptr, 10) > kRefusedUploadBody) {
            return Send(connection, Server::Reply::Text("Die Anfrage ist zu groß.",
                                                        MHD_HTTP_CONTENT_TOO_LARGE));
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        exchange->received += *uploadSize;
        if (exchange->received > kRefusedUploadBody) {
            *uploadSize = 0;
            return Send(connection, Server::Reply::Text("Die Anfrage ist zu groß.",
                                                        MHD_HTTP_CONTENT_TOO_LARGE));
        }
        if (!exchange->overflow && exchange->body.size() + *uploadSize <= kMaxUploadBody) {
            exchange->body.append(uploadData, *uploadSize);
        } else {
            // Too large to be a picture we take: read on (so the client gets its answer) but
            // keep nothing.
            exchange->overflow = true;
            exchange->body.clear();
            exchange->body.shrink_to_fit();
        }
        *uploadSize = 0;
        return MHD_YES;
    }
    const char* contentType =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    return Send(connection, Guarded([&] {
                    return server->HandleUpload(method, exchange->rawTarget, contentType,
                                                *exchange);
                }));
}

MHD_Daemon* StartDaemon(std::uint16_t port, const ServiceConfig& config, ConnectionGuard* guard,
                        MHD_AccessHandlerCallback handler, Server* server, std::string& error) {
    const std::string& address = config.listenAddress;
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        error = "invalid listen address " + address;
        return nullptr;
    }
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
            MHD_USE_ITC,
        port, nullptr, nullptr, handler, server, MHD_OPTION_SOCK_ADDR, &where,
        MHD_OPTION_URI_LOG_CALLBACK, KeepRawTarget, nullptr, MHD_OPTION_NOTIFY_COMPLETED, Completed,
        nullptr, MHD_OPTION_UNESCAPE_CALLBACK, NoUnescape, nullptr, MHD_OPTION_CONNECTION_LIMIT,
        512u, MHD_OPTION_PER_IP_CONNECTION_LIMIT, config.perAddressLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds, MHD_OPTION_NOTIFY_CONNECTION,
        &ConnectionGuard::OnConnection, guard, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<std::size_t>(64 * 1024), MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
        MHD_OPTION_END);
    if (!daemon) {
        error = "cannot listen on " + address + ":" + std::to_string(port);
    }
    return daemon;
}

std::uint16_t PortOf(MHD_Daemon* daemon) {
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

} // namespace

Server::Server(Store& store, ServiceConfig config) : store_(store), config_(std::move(config)) {}

Server::~Server() {
    Stop();
}

bool Server::Start(std::string& error) {
    // A kept-alive connection may wait as long as the idle time-out for its next request.
    guard_ = std::make_unique<ConnectionGuard>(config_.headerTimeout,
                                               std::chrono::seconds(kIdleTimeoutSeconds));
    service_ =
        StartDaemon(config_.servicePort, config_, guard_.get(), OnServiceRequest, this, error);
    if (!service_) {
        guard_.reset();
        return false;
    }
    upload_ = StartDaemon(config_.uploadPort, config_, guard_.get(), OnUploadRequest, this, error);
    if (!upload_) {
        Stop();
        return false;
    }
    servicePort_ = PortOf(service_);
    uploadPort_ = PortOf(upload_);
    return true;
}

void Server::Stop() {
    store_.Shutdown();
    if (upload_) {
        MHD_stop_daemon(upload_);
        upload_ = nullptr;
    }
    if (service_) {
        MHD_stop_daemon(service_);
        service_ = nullptr;
    }
    guard_.reset();
}

} // namespace glimmerly::service
