// The Server's routes: the upload, the service host's pages, rename, login, live updates and
// pictures. The daemon side (server.cpp) calls HandleUpload and HandleService.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "service/http/exchange.h"
#include "service/http/health.h"
#include "service/http/multipart.h"
#include "service/http/owner_token.h"
#include "service/http/pages.h"
#include "service/http/request.h"
#include "service/http/server.h"
#include "service/rules/jpeg_check.h"
#include "service/rules/names.h"
#include "service/rules/picture_store.h"

namespace glimmerly::service {

namespace {

Reply NotFound() {
    return Reply::Html(
        MessagePage("Nicht gefunden", "Diese Seite oder dieses Bild gibt es hier nicht."),
        MHD_HTTP_NOT_FOUND);
}

} // namespace

std::string Server::PictureAddress(const std::string& name) const {
    return "http://" + config_.publicHost + "/" + name + ".jpg";
}

Reply Server::HandleUpload(const std::string& method, const std::string& rawTarget,
                           const char* contentType, Exchange& exchange) {
    Target target = SplitTarget(rawTarget);
    if (target.path == "/health" && (method == "GET" || method == "HEAD")) {
        return Health();
    }
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
    // The client that sent a token owns this upload too; one without gets a new one.
    std::string token = OwnerTokenFromCookies(exchange.cookie).value_or(RandomToken());
    PictureStore::UploadResult stored = store_.AddPicture(file->data, *size, typedName, session,
                                                          config_.sessionTtl, OwnerKey(token));
    switch (stored.status) {
    case PictureStore::UploadStatus::Stored: {
        Reply r = Reply::Text("ok|" + config_.version + "|" + PictureAddress(stored.name));
        r.headers.emplace_back("Set-Cookie",
                               OwnerCookie(token, exchange.hostHeader, config_.publicHost));
        return r;
    }
    case PictureStore::UploadStatus::WrongSession:
        return Reply::Text("wrongsession");
    case PictureStore::UploadStatus::Failed:
        break;
    }
    return Reply::Text("Der Screenshot konnte nicht gespeichert werden. Bitte versuchen Sie es "
                       "später noch einmal.");
}

Reply Server::HandleService(const std::string& method, const std::string& rawTarget,
                            const char* lastEventId, const std::string& client,
                            const char* cookie) {
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
    if (path == "/health") {
        return Health();
    }
    if (path == "/download.htm") {
        return Reply::Html(DownloadPage(config_.version));
    }
    if (path == "/setname.php" || path == "/loginsession.php" || path == "/deletepicture.php") {
        // These act: a HEAD (a link checker, a proxy probing the address) must not.
        if (method != "GET") {
            Reply r = Reply::Text("Diese Adresse nimmt nur GET an.", MHD_HTTP_METHOD_NOT_ALLOWED);
            r.headers.emplace_back("Allow", "GET");
            return r;
        }
        if (path == "/setname.php") {
            return Rename(target.query, cookie);
        }
        if (path == "/deletepicture.php") {
            return DeletePicture(target.query, cookie);
        }
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
            return Events(rest.substr(0, rest.size() - kEvents.size()), target.query, lastEventId,
                          client);
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

Reply Server::Rename(const std::string& query, const char* cookie) {
    std::optional<RenameQuery> q = ParseRenameQuery(query);
    if (!q) {
        return Reply::Text("Fehlende Angaben: filename und newfilename werden benötigt.");
    }
    std::string current = q->filename;
    if (current.ends_with(".jpg")) {
        current.resize(current.size() - 4);
    }
    std::optional<std::string> token = OwnerTokenFromCookies(cookie ? cookie : "");
    std::string newName;
    switch (store_.Rename(current, q->newFilename, newName, token ? OwnerKey(*token) : "")) {
    case PictureStore::RenameStatus::Renamed:
        return Reply::Text(PictureAddress(newName));
    case PictureStore::RenameStatus::UnknownPicture:
        return Reply::Text("Der Screenshot wurde nicht gefunden. Vielleicht wurde er inzwischen "
                           "umbenannt.");
    case PictureStore::RenameStatus::InvalidName:
        return Reply::Text("Ungültiger Name. Bitte verwenden Sie Buchstaben oder Ziffern "
                           "(höchstens 200 Zeichen).");
    case PictureStore::RenameStatus::NotOwner:
        return Reply::Text("Nur wer den Screenshot hochgeladen hat, kann ihn umbenennen.");
    case PictureStore::RenameStatus::NameTaken:
        break;
    }
    return Reply::Text("Der Name „" + cp1252::ToUtf8(MakePictureName(q->newFilename)) +
                       "“ ist bereits vergeben. Bitte wählen Sie einen anderen Namen.");
}

Reply Server::DeletePicture(const std::string& query, const char* cookie) {
    std::optional<std::string> name = QueryValue(query, "filename");
    if (!name || name->empty()) {
        return Reply::Text("Fehlende Angaben: filename wird benötigt.");
    }
    if (name->ends_with(".jpg")) {
        name->resize(name->size() - 4);
    }
    std::optional<std::string> token = OwnerTokenFromCookies(cookie ? cookie : "");
    switch (store_.Delete(*name, token ? OwnerKey(*token) : "")) {
    case PictureStore::DeleteStatus::Deleted:
        return Reply::Text("Der Screenshot wurde gelöscht.");
    case PictureStore::DeleteStatus::NotOwner:
        return Reply::Text("Nur wer den Screenshot hochgeladen hat, kann ihn löschen.");
    case PictureStore::DeleteStatus::UnknownPicture:
        break;
    }
    return Reply::Text("Der Screenshot wurde nicht gefunden. Vielleicht wurde er inzwischen "
                       "umbenannt.");
}

Reply Server::Login(const std::string& query) {
    std::optional<std::string> name = QueryValue(query, "sessionname");
    if (!name || !IsSessionName(*name)) {
        return Reply::Text("invalidname");
    }
    store_.OpenSession(*name, config_.sessionTtl);
    return Reply::Text("ok " + *name);
}

Reply Server::SessionPage(const std::string& session) {
    if (!IsSessionName(session)) {
        return NotFound();
    }
    PictureStore::SessionState state = store_.GetSession(session);
    if (state == PictureStore::SessionState::Unknown) {
        return Reply::Html(
            MessagePage("Session nicht gefunden", "Eine Session mit diesem Namen gibt es nicht."),
            MHD_HTTP_NOT_FOUND);
    }
    std::int64_t lastSeq = store_.LastSeq();
    std::vector<StoredPicture> pictures = store_.SessionPictures(session);
    Reply r = Reply::Html(service::SessionPage(
        session, pictures, state == PictureStore::SessionState::Expired, lastSeq));
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

Reply Server::Events(const std::string& session, const std::string& query, const char* lastEventId,
                     const std::string& client) {
    if (!IsSessionName(session)) {
        return NotFound();
    }
    std::string after = lastEventId ? lastEventId : QueryValue(query, "after").value_or("");
    std::int64_t lastSeq = std::max<std::int64_t>(std::strtoll(after.c_str(), nullptr, 10), 0);
    bool reachable = true;
    try {
        if (store_.GetSession(session) == PictureStore::SessionState::Unknown) {
            return NotFound();
        }
        // An id beyond the counter comes from before an older state was restored (or the data
        // folder reset): what the page has seen says nothing about this history, so it gets the
        // session afresh (it updates the pictures it has in place).
        if (lastSeq > store_.LastSeq()) {
            lastSeq = 0;
        }
    } catch (const StoreUnavailable&) {
        // A browser gives up for good on an event stream answered with an error status. This
        // stream ends right after its retry line instead, so the page tries again.
        reachable = false;
    }
    auto* stream = new EventStream(store_, session, client);
    stream->ping = config_.eventPing;
    stream->endsAt = std::chrono::steady_clock::now() +
                     (reachable ? config_.eventLifetime : std::chrono::milliseconds(0));
    stream->lastSeq = lastSeq;
    stream->Admit(config_.eventStreamsPerSession, config_.eventStreamsPerAddress);
    Reply r;
    r.contentType = "text/event-stream; charset=utf-8";
    r.events = stream;
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

// For a load balancer's check: whether this instance can take requests now.
Reply Server::Health() {
    return HealthReply(draining_, store_);
}

Reply Server::Picture(const std::string& name) {
    std::optional<PictureContent> content = store_.ReadPicture(name);
    if (!content) {
        // An old name of a renamed picture leads on to it. Not for good (302, not 301): the
        // redirect would outlive the picture in every cache.
        std::optional<std::string> current = store_.CurrentName(name);
        if (current && current->empty()) {
            return Reply::Html(MessagePage("Gelöscht", "Dieses Bild wurde von seinem Absender "
                                                       "gelöscht."),
                               MHD_HTTP_GONE);
        }
        if (!current || *current == name) {
            return NotFound();
        }
        Reply r =
            Reply::Html(MessagePage("Umbenannt", "Dieses Bild heißt jetzt " + *current + ".jpg."),
                        MHD_HTTP_FOUND);
        r.headers.emplace_back("Location", PictureAddress(*current));
        r.headers.emplace_back("Cache-Control", "no-cache");
        return r;
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
