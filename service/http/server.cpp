#include "service/http/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <microhttpd.h>

#include "service/http/access_log.h"
#include "service/http/connection_guard.h"
#include "service/http/exchange.h"
#include "service/http/socket_listener.h"

namespace glimmerly::service {

namespace {

// Idle time-out of every connection (a body has a total deadline as well).
constexpr unsigned kIdleTimeoutSeconds = 60;

// Runs a request handler; a store failure becomes a German text instead of a dropped connection.
template <typename Handler> Reply Guarded(Handler handler) {
    try {
        return handler();
    } catch (const StoreBusy& e) {
        // A wait for the database ran out; the operation was rolled back.
        Reply r = Reply::Text("Der Dienst ist gerade ausgelastet. Bitte versuchen "
                              "Sie es in einigen Sekunden noch einmal.",
                              MHD_HTTP_SERVICE_UNAVAILABLE);
        r.headers.emplace_back("Retry-After", "2");
        r.cause = e.what();
        return r;
    } catch (const StoreUnavailable& e) {
        Reply r = Reply::Text("Die Datenbank ist gerade nicht erreichbar. Bitte "
                              "versuchen Sie es in einigen Sekunden noch einmal.",
                              MHD_HTTP_SERVICE_UNAVAILABLE);
        r.headers.emplace_back("Retry-After", "5");
        r.cause = e.what();
        return r;
    } catch (const std::exception& e) {
        Reply r = Reply::Text("Interner Fehler. Bitte versuchen Sie es später noch einmal.",
                              MHD_HTTP_INTERNAL_SERVER_ERROR);
        r.cause = e.what();
        return r;
    }
}

// closeAfter: the connection ends with this reply (at shutdown, or when a body is left unread).
MHD_Result Send(MHD_Connection* connection, Exchange& exchange, Reply reply, bool closeAfter) {
    exchange.status = reply.status;
    exchange.cause = std::move(reply.cause);
    if (exchange.method == "HEAD") {
        exchange.bytes = 0;
    } else if (!reply.events) {
        exchange.bytes = reply.fd >= 0 ? reply.fdSize : reply.body.size();
    }
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
    if (closeAfter) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    MHD_Result result = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return result;
}

// Keeps the raw request target: libmicrohttpd would otherwise decode "%xx" and "+" in it.
// cls: the daemon's name in the access log.
void* KeepRawTarget(void* cls, const char* uri, MHD_Connection*) {
    auto* exchange = new Exchange();
    exchange->rawTarget = uri ? uri : "";
    exchange->host = static_cast<const char*>(cls);
    return exchange;
}

const char* EndText(MHD_RequestTerminationCode code) {
    switch (code) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK:
        return "";
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
        return "timeout";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
        return "shutdown";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
    case MHD_REQUEST_TERMINATED_READ_ERROR:
        return "client-gone";
    default:
        return "error";
    }
}

void Completed(void* cls, MHD_Connection* connection, void** context,
               MHD_RequestTerminationCode code) {
    ConnectionGuard::RequestDone(connection);
    auto* exchange = static_cast<Exchange*>(*context);
    auto* server = static_cast<Server*>(cls);
    if (exchange && server->config().accessLog) {
        AccessRecord record;
        record.time = std::chrono::system_clock::now();
        record.instance = server->Instance();
        record.host = exchange->host;
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        record.client = info ? AddressText(info->client_addr) : std::string();
        record.method = exchange->method;
        record.target = exchange->rawTarget;
        record.status = exchange->status;
        record.bytes = exchange->bytes;
        record.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                              exchange->begun)
                        .count();
        record.end = EndText(code);
        record.cause = exchange->cause;
        server->config().accessLog->Write(record);
    }
    delete exchange;
    *context = nullptr;
}

Reply TooLarge() {
    return Reply::Text("Die Anfrage ist zu groß.", MHD_HTTP_CONTENT_TOO_LARGE);
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
    auto* exchange = static_cast<Exchange*>(*context);
    if (!exchange || (!exchange->started && !ConnectionGuard::HeadComplete(connection))) {
        return MHD_NO;
    }
    if (!exchange->started) {
        exchange->started = true;
        exchange->method = method;
        // The service host takes no bodies: one announced is refused before a byte of it is
        // read, and the connection closes after the reply.
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        const char* encoding = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                           MHD_HTTP_HEADER_TRANSFER_ENCODING);
        if ((length && std::strtoull(length, nullptr, 10) > 0) || encoding) {
            // Other methods than GET and HEAD get their usual refusal, only sooner.
            bool read = std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
            return Send(connection, *exchange,
                        read ? TooLarge()
                             : server->HandleService(method, exchange->rawTarget, nullptr),
                        true);
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        *uploadSize = 0;
        return MHD_YES;
    }
    ConnectionGuard::BodyComplete(connection);
    const char* lastEventId =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Last-Event-ID");
    const char* cookie =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_COOKIE);
    return Send(connection, *exchange, Guarded([&] {
                    return server->HandleService(method, exchange->rawTarget, lastEventId,
                                                 ClientAddress(connection), cookie);
                }),
                server->Draining());
}

MHD_Result OnUploadRequest(void* cls, MHD_Connection* connection, const char*, const char* method,
                           const char*, const char* uploadData, std::size_t* uploadSize,
                           void** context) {
    auto* server = static_cast<Server*>(cls);
    auto* exchange = static_cast<Exchange*>(*context);
    if (!exchange || (!exchange->started && !ConnectionGuard::HeadComplete(connection))) {
        return MHD_NO;
    }
    if (!exchange->started) {
        exchange->started = true;
        exchange->method = method;
        const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                         MHD_HTTP_HEADER_CONTENT_LENGTH);
        if (length && std::strtoull(length, nullptr, 10) > kRefusedUploadBody) {
            return Send(connection, *exchange, TooLarge(), true);
        }
        return MHD_YES;
    }
    if (*uploadSize > 0) {
        exchange->received += *uploadSize;
        if (exchange->received > kRefusedUploadBody) {
            *uploadSize = 0;
            return Send(connection, *exchange, TooLarge(), true);
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
    ConnectionGuard::BodyComplete(connection);
    const char* contentType =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_TYPE);
    for (auto [field, name] : {std::pair{&exchange->hostHeader, MHD_HTTP_HEADER_HOST},
                               std::pair{&exchange->cookie, MHD_HTTP_HEADER_COOKIE}}) {
        const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
        *field = value ? value : "";
    }
    return Send(connection, *exchange, Guarded([&] {
                    return server->HandleUpload(method, exchange->rawTarget, contentType,
                                                *exchange);
                }),
                server->Draining());
}

// A daemon without a socket of its own: its SocketListener accepts the connections and hands them
// over.
MHD_Daemon* StartDaemon(const ServiceConfig& config, ConnectionGuard* guard,
                        MHD_AccessHandlerCallback handler, Server* server, const char* host,
                        std::string& error) {
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL |
            MHD_USE_ITC | MHD_USE_NO_LISTEN_SOCKET,
        0, nullptr, nullptr, handler, server, MHD_OPTION_URI_LOG_CALLBACK, KeepRawTarget,
        const_cast<char*>(host), MHD_OPTION_NOTIFY_COMPLETED, Completed, server,
        MHD_OPTION_UNESCAPE_CALLBACK, NoUnescape, nullptr, MHD_OPTION_CONNECTION_LIMIT, 512u,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, config.perAddressLimit, MHD_OPTION_CONNECTION_TIMEOUT,
        kIdleTimeoutSeconds, MHD_OPTION_NOTIFY_CONNECTION, &ConnectionGuard::OnConnection, guard,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(64 * 1024), MHD_OPTION_END);
    if (!daemon) {
        error = "cannot start the HTTP server";
    }
    return daemon;
}

} // namespace

Server::Server(PictureStore& store, ServiceConfig config)
    : store_(store), config_(std::move(config)) {}

Server::~Server() {
    Stop();
}

bool Server::Start(std::string& error) {
    serviceListener_ = SocketListener::Open(config_.listenAddress, config_.servicePort, error);
    if (serviceListener_) {
        uploadListener_ = SocketListener::Open(config_.listenAddress, config_.uploadPort, error);
    }
    if (!uploadListener_) {
        serviceListener_.reset();
        return false;
    }
    // A kept-alive connection may wait as long as the idle time-out for its next request.
    guard_ = std::make_unique<ConnectionGuard>(
        config_.headerTimeout, std::chrono::seconds(kIdleTimeoutSeconds), config_.bodyTimeout);
    service_ = StartDaemon(config_, guard_.get(), OnServiceRequest, this, "service", error);
    upload_ = service_ ? StartDaemon(config_, guard_.get(), OnUploadRequest, this, "upload", error)
                       : nullptr;
    if (!upload_) {
        Stop();
        return false;
    }
    servicePort_ = serviceListener_->Port();
    uploadPort_ = uploadListener_->Port();
    instance_ = config_.instance.empty()
                    ? config_.listenAddress + ":" + std::to_string(servicePort_)
                    : config_.instance;
    serviceListener_->Start(service_, config_.proxyProtocol, config_.headerTimeout);
    uploadListener_->Start(upload_, config_.proxyProtocol, config_.headerTimeout);
    return true;
}

bool Server::Drain(std::chrono::milliseconds deadline) {
    draining_ = true;
    auto until = std::chrono::steady_clock::now() + deadline;
    store_.Shutdown(); // live pages reconnect, through the balancer to another instance
    for (auto* listener : {serviceListener_.get(), uploadListener_.get()}) {
        if (listener) {
            listener->StopAccepting();
        }
    }
    bool done = !guard_;
    if (guard_) {
        guard_->Drain();
        done = guard_->WaitUntilNone(until);
    }
    Stop();
    return done;
}

void Server::Stop() {
    store_.Shutdown();
    serviceListener_.reset(); // no connection is handed to a daemon that is being stopped
    uploadListener_.reset();
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
