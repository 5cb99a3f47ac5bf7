#include "service/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <microhttpd.h>

#include "platform/cp1252.h"
#include "service/connection_guard.h"
#include "service/jpeg_check.h"
#include "service/multipart.h"
#include "service/names.h"
#include "service/pages.h"
#include "service/request.h"

namespace glimmerly::service {

namespace {

constexpr const char* kTextType = "text/plain; charset=windows-1252";
constexpr const char* kHtmlType = "text/html; charset=utf-8";
// Idle time-out of every connection; bodies that keep moving are bound by this alone.
constexpr unsigned kIdleTimeoutSeconds = 60;

// The live-update stream of one session page.
struct EventStream {
    Store* store = nullptr;
    std::string session;
    std::int64_t lastSeq = 0;
    std::chrono::milliseconds ping{15000};
    std::string pending;
    std::size_t sent = 0;
    bool greeted = false;
};

ssize_t FillEvents(EventStream* stream) {
    while (stream->sent >= stream->pending.size()) {
        stream->pending.clear();
        stream->sent = 0;
        if (!stream->greeted) {
            stream->greeted = true;
            stream->pending = "retry: 2000\n\n";
            break;
        }
        if (stream->store->ShuttingDown()) {
            return MHD_CONTENT_READER_END_OF_STREAM;
        }
        std::vector<StoredPicture> news =
            stream->store->SessionPictures(stream->session, stream->lastSeq);
        if (!news.empty()) {
            // Oldest change first, so that the page can insert each one in order.
            for (auto it = news.rbegin(); it != news.rend(); ++it) {
                stream->pending += PictureEvent(*it);
                stream->lastSeq = std::max(stream->lastSeq, it->seq);
            }
            break;
        }
        std::int64_t seen = stream->store->LastSeq();
        if (seen > stream->lastSeq) {
            // Changes of other sessions: skip them once, then wait for the next.
            std::vector<StoredPicture> again =
                stream->store->SessionPictures(stream->session, stream->lastSeq);
            if (again.empty()) {
                stream->lastSeq = seen;
            }
            continue;
        }
        if (stream->store->WaitForChange(seen, stream->ping) == seen &&
            !stream->store->ShuttingDown()) {
            stream->pending = ": ping\n\n"; // keeps proxies and dead-peer detection going
            break;
        }
    }
    return 0;
}

ssize_t ReadEvents(void* cls, std::uint64_t, char* buffer, std::size_t max) {
    auto* stream = static_cast<EventStream*>(cls);
    try {
        if (ssize_t end = FillEvents(stream)) {
            return end;
        }
    } catch (const std::exception&) {
        // The database is gone for now: end the stream, the page reconnects with its last id.
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    std::size_t n = std::min(max, stream->pending.size() - stream->sent);
    std::memcpy(buffer, stream->pending.data() + stream->sent, n);
    stream->sent += n;
    return static_cast<ssize_t>(n);
}

void FreeEvents(void* cls) {
    delete static_cast<EventStream*>(cls);
}

} // namespace

struct Server::Exchange {
    std::string rawTarget;
    bool started = false;
    std::string body;
    std::size_t received = 0;
    bool overflow = false;
};

struct Server::Reply {
    unsigned status = MHD_HTTP_OK;
    std::string contentType = kTextType;
    std::string body;
    int fd = -1; // a file to send instead of body
    std::uint64_t fdSize = 0;
    EventStream* events = nullptr;
    std::vector<std::pair<std::string, std::string>> headers;

    static Reply Text(std::string_view utf8, unsigned status = MHD_HTTP_OK) {
        Reply r;
        r.status = status;
        r.body = cp1252::FromUtf8(utf8);
        return r;
    }
    static Reply Html(std::string page, unsigned status = MHD_HTTP_OK) {
        Reply r;
        r.status = status;
        r.contentType = kHtmlType;
        r.body = std::move(page);
        return r;
    }
};

namespace {

Server::Reply NotFound() {
    return Server::Reply::Html(
        MessagePage("Nicht gefunden", "Diese Seite oder dieses Bild gibt es hier nicht."),
        MHD_HTTP_NOT_FOUND);
}

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
                    return server->HandleService(method, exchange->rawTarget, lastEventId);
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

std::string Server::PictureAddress(const std::string& name) const {
    return "http://" + config_.publicHost + "/" + name + ".jpg";
}

Server::Reply Server::HandleUpload(const std::string& method, const std::string& rawTarget,
                                   const char* contentType, Exchange& exchange) {
    Target target = SplitTarget(rawTarget);
    if (target.path != "/upload.php") {
        return NotFound();
    }
    if (method != "POST") {
        Reply r = Reply::Text("Bitte laden Sie Bilder mit POST hoch.", MHD_HTTP_METHOD_NOT_ALLOWED);
        r.headers.emplace_back("Allow", "POST");
        return r;
    }
    if (exchange.overflow) {
        return Reply::Text("toobig");
    }
    std::optional<std::string> boundary = MultipartBoundary(contentType ? contentType : "");
    if (!boundary) {
        return Reply::Text("Ungültige Anfrage: multipart/form-data erwartet.",
                           MHD_HTTP_BAD_REQUEST);
    }
    std::optional<std::vector<FormPart>> parts = ParseMultipart(exchange.body, *boundary);
    if (!parts) {
        return Reply::Text("Ungültige Anfrage: Der Inhalt ist beschädigt.", MHD_HTTP_BAD_REQUEST);
    }
    const FormPart* file = FindPart(*parts, "screenshot");
    if (!file || !file->filename) {
        return Reply::Text("Ungültige Anfrage: Es wurde kein Bild mitgeschickt.",
                           MHD_HTTP_BAD_REQUEST);
    }
    if (file->data.size() > kMaxPictureBytes) {
        return Reply::Text("toobig");
    }
    std::optional<JpegSize> size = CheckJpeg(file->data);
    if (!size) {
        return Reply::Text("Die hochgeladene Datei ist kein gültiges JPEG-Bild.");
    }
    const FormPart* nameField = FindPart(*parts, "screenshotname");
    const FormPart* sessionField = FindPart(*parts, "sessionname");
    std::string typedName = nameField ? std::string(nameField->data) : std::string();
    if (typedName.size() > kMaxTypedNameLength) {
        typedName.resize(kMaxTypedNameLength);
    }
    std::string session = sessionField ? std::string(sessionField->data) : std::string();
    if (!session.empty() && !IsSessionName(session)) {
        return Reply::Text("wrongsession");
    }
    Store::UploadResult stored =
        store_.AddPicture(file->data, *size, typedName, session, config_.sessionTtl);
    switch (stored.status) {
    case Store::UploadStatus::Stored:
        return Reply::Text("ok|" + config_.version + "|" + PictureAddress(stored.name));
    case Store::UploadStatus::WrongSession:
        return Reply::Text("wrongsession");
    case Store::UploadStatus::Failed:
        break;
    }
    return Reply::Text("Der Screenshot konnte nicht gespeichert werden. Bitte versuchen Sie es "
                       "später noch einmal.");
}

Server::Reply Server::HandleService(const std::string& method, const std::string& rawTarget,
                                    const char* lastEventId) {
    if (method != "GET" && method != "HEAD") {
        Reply r =
            Reply::Text("Diese Adresse kann nur gelesen werden.", MHD_HTTP_METHOD_NOT_ALLOWED);
        r.headers.emplace_back("Allow", "GET, HEAD");
        return r;
    }
    Target target = SplitTarget(rawTarget);
    const std::string& path = target.path;
    if (path == "/" || path == "/index.htm" || path == "/index.html") {
        std::optional<std::string> session = QueryValue(target.query, "session");
        if (session && IsSessionName(*session)) {
            Reply r = Reply::Html(MessagePage("Weiter", "Zur Session-Seite …"), MHD_HTTP_SEE_OTHER);
            r.headers.emplace_back("Location", "/~" + *session);
            return r;
        }
        return Reply::Html(HomePage(config_.version));
    }
    if (path == "/download.htm") {
        return Reply::Html(DownloadPage(config_.version));
    }
    if (path == "/setname.php") {
        return Rename(target.query);
    }
    if (path == "/loginsession.php") {
        return Login(target.query);
    }
    if (path == "/style.css") {
        Reply r;
        r.contentType = "text/css; charset=utf-8";
        r.body = std::string(StyleSheet());
        return r;
    }
    if (path == "/session.js") {
        Reply r;
        r.contentType = "text/javascript; charset=utf-8";
        r.body = std::string(SessionScript());
        return r;
    }
    if (path.size() > 2 && path[1] == '~') {
        std::string rest = path.substr(2);
        constexpr std::string_view kEvents = "/events";
        if (rest.size() > kEvents.size() && rest.ends_with(kEvents)) {
            return Events(rest.substr(0, rest.size() - kEvents.size()), target.query, lastEventId);
        }
        if (rest.ends_with('/')) {
            rest.pop_back();
        }
        return SessionPage(rest);
    }
    if (path.size() > 5 && path.ends_with(".jpg")) {
        return Picture(path.substr(1, path.size() - 5));
    }
    return NotFound();
}

Server::Reply Server::Rename(const std::string& query) {
    std::optional<RenameQuery> q = ParseRenameQuery(query);
    if (!q) {
        return Reply::Text("Fehlende Angaben: filename und newfilename werden benötigt.");
    }
    std::string current = q->filename;
    if (current.ends_with(".jpg")) {
        current.resize(current.size() - 4);
    }
    std::string newName;
    switch (store_.Rename(current, q->newFilename, newName)) {
    case Store::RenameStatus::Renamed:
        return Reply::Text(PictureAddress(newName));
    case Store::RenameStatus::UnknownPicture:
        return Reply::Text("Der Screenshot wurde nicht gefunden. Vielleicht wurde er inzwischen "
                           "umbenannt.");
    case Store::RenameStatus::InvalidName:
        return Reply::Text("Ungültiger Name. Bitte verwenden Sie Buchstaben oder Ziffern "
                           "(höchstens 200 Zeichen).");
    case Store::RenameStatus::NameTaken:
        break;
    }
    return Reply::Text("Der Name „" + cp1252::ToUtf8(MakePictureName(q->newFilename)) +
                       "“ ist bereits vergeben. Bitte wählen Sie einen anderen Namen.");
}

Server::Reply Server::Login(const std::string& query) {
    std::optional<std::string> name = QueryValue(query, "sessionname");
    if (!name || !IsSessionName(*name)) {
        return Reply::Text("invalidname");
    }
    store_.OpenSession(*name, config_.sessionTtl);
    return Reply::Text("ok " + *name);
}

Server::Reply Server::SessionPage(const std::string& session) {
    if (!IsSessionName(session)) {
        return NotFound();
    }
    Store::SessionState state = store_.GetSession(session);
    if (state == Store::SessionState::Unknown) {
        return Reply::Html(
            MessagePage("Session nicht gefunden", "Eine Session mit diesem Namen gibt es nicht."),
            MHD_HTTP_NOT_FOUND);
    }
    std::int64_t lastSeq = store_.LastSeq();
    std::vector<StoredPicture> pictures = store_.SessionPictures(session);
    Reply r = Reply::Html(
        service::SessionPage(session, pictures, state == Store::SessionState::Expired, lastSeq));
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Server::Reply Server::Events(const std::string& session, const std::string& query,
                             const char* lastEventId) {
    if (!IsSessionName(session)) {
        return NotFound();
    }
    std::string after = lastEventId ? lastEventId : QueryValue(query, "after").value_or("");
    std::int64_t lastSeq = std::max<std::int64_t>(std::strtoll(after.c_str(), nullptr, 10), 0);
    try {
        if (store_.GetSession(session) == Store::SessionState::Unknown) {
            return NotFound();
        }
        // An id from before a reset of the data folder would otherwise hide every new picture.
        lastSeq = std::min(lastSeq, store_.LastSeq());
    } catch (const StoreUnavailable&) {
        // A browser gives up for good on an event stream answered with an error status. This
        // stream ends right after its retry line instead, so the page tries again.
    }
    auto* stream = new EventStream();
    stream->store = &store_;
    stream->session = session;
    stream->ping = config_.eventPing;
    stream->lastSeq = lastSeq;
    Reply r;
    r.contentType = "text/event-stream; charset=utf-8";
    r.events = stream;
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Server::Reply Server::Picture(const std::string& name) {
    std::optional<PictureContent> content = store_.ReadPicture(name);
    if (!content) {
        return NotFound();
    }
    Reply r;
    r.contentType = "image/jpeg";
    r.fd = content->fd;
    r.fdSize = content->fileSize;
    r.body = std::move(content->bytes);
    r.headers.emplace_back("Cache-Control", "no-cache");
    return r;
}

} // namespace glimmerly::service
