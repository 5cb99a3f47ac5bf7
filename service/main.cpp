// glimmerly-service: the web service behind the desktop client. It takes uploads on one port,
// serves pages, pictures, renames and session logins on another, and keeps its data in a folder.

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>

#include "service/access_log.h"
#include "service/picture_store.h"
#include "service/server.h"
#include "service/sqlite_storage.h"

#ifndef GLIMMERLY_VERSION
#define GLIMMERLY_VERSION "0"
#endif

namespace {

using glimmerly::service::PictureStore;
using glimmerly::service::Server;
using glimmerly::service::ServiceConfig;
using glimmerly::service::SqliteStorage;
using glimmerly::service::StorageBackend;
using glimmerly::service::StoreOptions;

void Usage(std::FILE* out) {
    std::fputs(
        "Usage: glimmerly-service [options]\n"
        "  --data DIR          data folder (default $XDG_DATA_HOME/glimmerly-service or\n"
        "                      ~/.local/share/glimmerly-service)\n"
        "  --database URL      keep everything in PostgreSQL (postgresql://user@host/db) instead\n"
        "                      of the data folder; several instances may share it (default\n"
        "                      $GLIMMERLY_DATABASE; pass passwords there, not here)\n"
        "  --database-pool N   connections to the database (default 8)\n"
        "  --listen ADDR       IPv4 address to listen on (default 127.0.0.1)\n"
        "  --service-port N    port of the service host (default 8460, 0 = any free port)\n"
        "  --upload-port N     port of the upload host (default 8461, 0 = any free port)\n"
        "  --public-host H     host[:port] put into picture addresses (default localhost:8460)\n"
        "  --version TEXT      program version announced to clients (default 3.2)\n"
        "  --version           (as the last argument) print this program's version\n"
        "  --session-ttl S     seconds a session stays open after login or upload (default "
        "86400)\n"
        "  --per-address-limit N  connections one client address may hold per port (default\n"
        "                      64; raise it behind a load balancer)\n"
        "  --header-timeout S  seconds a connection has for its request line and headers\n"
        "                      (default 10)\n"
        "  --body-timeout S    seconds a request has for its body after its headers (default\n"
        "                      30)\n"
        "  --drain-timeout S   on SIGTERM or SIGINT, seconds the requests in flight may take to\n"
        "                      finish before the service stops (default 30)\n"
        "  --proxy-protocol    every connection begins with a PROXY protocol header (from a\n"
        "                      load balancer such as haproxy's send-proxy); its client address\n"
        "                      counts for --per-address-limit\n"
        "  --quarantine-missing  move the entries of pictures whose file is missing to\n"
        "                      quarantine however many there are (once, when those files are\n"
        "                      gone for good; without it such a start is refused)\n"
        "  --event-ping S      seconds between keep-alive comments on a live-update stream\n"
        "                      (default 15)\n"
        "  --event-lifetime S  seconds after which a live-update stream ends and the page\n"
        "                      reconnects (default 600)\n"
        "  --event-streams N   live-update streams one client address may hold open (default\n"
        "                      32; a session may hold 8; raise it behind a load balancer)\n"
        "  --session-retention DAYS  sessions expired longer ago are deleted, hourly; their\n"
        "                      pictures stay (default 30; 0 keeps them for ever)\n"
        "  --access-log FILE   append a line per request to FILE (default -: stderr; off: none)\n"
        "  --log-format F      text or json (one JSON object per line); default text\n"
        "  --instance NAME     this instance's name in the access log (default ADDR:PORT)\n"
        "  --help              this text\n",
        out);
}

std::filesystem::path DefaultDataFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return std::filesystem::path(xdg) / "glimmerly-service";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local/share/glimmerly-service";
}

// Seconds from 0.1 to an hour, as milliseconds.
bool ParseSeconds(const char* text, std::chrono::milliseconds& result) {
    char* end = nullptr;
    double seconds = std::strtod(text, &end);
    if (!*text || *end || !(seconds >= 0.1 && seconds <= 3600)) {
        return false;
    }
    result = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return true;
}

// Deletes the sessions that expired more than retention ago: at start, then every hour, until
// the service stops. Every instance on a shared database does it; the deletes are idempotent.
class SessionPurge {
public:
    SessionPurge(StorageBackend& storage, std::chrono::milliseconds retention)
        : storage_(storage), retention_(retention), thread_([this] { Run(); }) {}
    ~SessionPurge() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch());
            try {
                if (std::int64_t n = storage_.PurgeSessions((now - retention_).count())) {
                    std::fprintf(stderr, "glimmerly-service: deleted %lld expired session(s)\n",
                                 static_cast<long long>(n));
                }
            } catch (const std::exception& e) {
                std::fprintf(stderr, "glimmerly-service: cannot delete expired sessions: %s\n",
                             e.what());
            }
            lock.lock();
            wake_.wait_for(lock, std::chrono::hours(1), [this] { return stopping_; });
        }
    }

    StorageBackend& storage_;
    const std::chrono::milliseconds retention_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_; // last: starts when the rest is ready
};

bool ParsePort(const char* text, std::uint16_t& port) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    ServiceConfig config;
    std::filesystem::path data = DefaultDataFolder();
    StoreOptions storeOptions;
    std::chrono::milliseconds drainTimeout = std::chrono::seconds(30);
    std::chrono::milliseconds sessionRetention = std::chrono::hours(24 * 30);
    std::string accessLogPath = "-";
    glimmerly::service::LogFormat logFormat = glimmerly::service::LogFormat::Text;
    if (const char* database = std::getenv("GLIMMERLY_DATABASE"); database && *database) {
        storeOptions.database = database;
    }
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg == "--quarantine-missing") {
            storeOptions.quarantineMissing = true;
            continue;
        }
        if (arg == "--version" && i + 1 == argc) {
            std::puts("glimmerly-service " GLIMMERLY_VERSION);
            return 0;
        }
        if (arg == "--proxy-protocol") {
            config.proxyProtocol = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "glimmerly-service: unknown option or missing value: %s\n",
                         argv[i]);
            Usage(stderr);
            return 2;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--data") {
            data = value;
        } else if (arg == "--database") {
            storeOptions.database = value;
            ok = glimmerly::service::IsPostgresAddress(storeOptions.database);
        } else if (arg == "--database-pool") {
            char* end = nullptr;
            long size = std::strtol(value, &end, 10);
            ok = *value && !*end && size >= 1 && size <= 1000;
            storeOptions.poolSize = static_cast<int>(size);
        } else if (arg == "--listen") {
            config.listenAddress = value;
        } else if (arg == "--service-port") {
            ok = ParsePort(value, config.servicePort);
        } else if (arg == "--upload-port") {
            ok = ParsePort(value, config.uploadPort);
        } else if (arg == "--public-host") {
            config.publicHost = value;
            ok = !config.publicHost.empty() &&
                 config.publicHost.find_first_of(" /\\\r\n\t") == std::string::npos;
        } else if (arg == "--version") {
            config.version = value;
            ok = config.version.find_first_of("|\r\n") == std::string::npos;
        } else if (arg == "--session-ttl") {
            char* end = nullptr;
            double seconds = std::strtod(value, &end);
            ok = *value && !*end && seconds > 0 && seconds < 1e9;
            config.sessionTtl = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        } else if (arg == "--per-address-limit") {
            char* end = nullptr;
            unsigned long limit = std::strtoul(value, &end, 10);
            ok = *value >= '0' && *value <= '9' && !*end && limit >= 1 && limit <= 100000;
            config.perAddressLimit = static_cast<unsigned>(limit);
        } else if (arg == "--event-ping" || arg == "--event-lifetime") {
            char* end = nullptr;
            double seconds = std::strtod(value, &end);
            ok = *value && !*end && seconds >= 0.1 && seconds <= 86400;
            const auto ms = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
            (arg == "--event-ping" ? config.eventPing : config.eventLifetime) = ms;
        } else if (arg == "--event-streams") {
            char* end = nullptr;
            unsigned long limit = std::strtoul(value, &end, 10);
            ok = *value >= '0' && *value <= '9' && !*end && limit >= 1 && limit <= 100000;
            config.eventStreamsPerAddress = static_cast<unsigned>(limit);
        } else if (arg == "--header-timeout") {
            ok = ParseSeconds(value, config.headerTimeout);
        } else if (arg == "--body-timeout") {
            ok = ParseSeconds(value, config.bodyTimeout);
        } else if (arg == "--drain-timeout") {
            ok = ParseSeconds(value, drainTimeout);
        } else if (arg == "--session-retention") {
            char* end = nullptr;
            double days = std::strtod(value, &end);
            ok = *value && !*end && days >= 0 && days <= 100000;
            sessionRetention = std::chrono::milliseconds(static_cast<long long>(days * 86400000));
        } else if (arg == "--access-log") {
            accessLogPath = value;
            ok = !accessLogPath.empty();
        } else if (arg == "--log-format") {
            ok = std::string_view(value) == "text" || std::string_view(value) == "json";
            logFormat = std::string_view(value) == "json" ? glimmerly::service::LogFormat::Json
                                                          : glimmerly::service::LogFormat::Text;
        } else if (arg == "--instance") {
            config.instance = value;
        } else {
            std::fprintf(stderr, "glimmerly-service: unknown option: %s\n", argv[i - 1]);
            Usage(stderr);
            return 2;
        }
        if (!ok) {
            std::fprintf(stderr, "glimmerly-service: invalid value for %s: %s\n", argv[i - 1],
                         value);
            return 2;
        }
    }

    // Block the stop signals before any thread starts, so every thread inherits the mask and
    // only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (accessLogPath == "-") {
        config.accessLog = std::make_shared<glimmerly::service::AccessLog>(2, logFormat);
    } else if (accessLogPath != "off") {
        config.accessLog = glimmerly::service::AccessLog::OpenFile(accessLogPath, logFormat, error);
        if (!config.accessLog) {
            std::fprintf(stderr, "glimmerly-service: %s\n", error.c_str());
            return 1;
        }
    }
    storeOptions.folder = data.string();
    std::unique_ptr<StorageBackend> storage = glimmerly::service::OpenStorage(storeOptions, error);
    if (!storage) {
        // Also a refused start on a data folder that is not whole: it changed nothing.
        std::fprintf(stderr, "glimmerly-service: %s\n", error.c_str());
        return 1;
    }
    if (auto* sqlite = dynamic_cast<SqliteStorage*>(storage.get())) {
        const auto& repairs = sqlite->Repairs();
        if (!repairs.Empty()) {
            std::fprintf(stderr,
                         "glimmerly-service: repaired the data folder: removed %zu unfinished "
                         "upload(s); moved %zu file(s) without entry to %s, %zu entry/entries "
                         "without file to the table quarantined_pictures; put back %zu "
                         "quarantined picture(s) whose file turned up again\n",
                         repairs.temporaryFiles.size(), repairs.orphanFiles.size(),
                         (sqlite->Folder() / "quarantine").c_str(), repairs.missingFiles.size(),
                         repairs.restored.size());
        }
    }
    StorageBackend& backend = *storage; // owned by the store from here on
    config.healthCheck = [&backend] { return backend.CheckHealth(); };
    PictureStore store(std::move(storage));
    std::unique_ptr<SessionPurge> purge;
    if (sessionRetention.count() > 0) {
        purge = std::make_unique<SessionPurge>(backend, sessionRetention);
    }
    Server server(store, config);
    if (!server.Start(error)) {
        std::fprintf(stderr, "glimmerly-service: %s\n", error.c_str());
        return 1;
    }
    std::printf("glimmerly-service: service http://%s:%u upload http://%s:%u %s\n",
                config.listenAddress.c_str(), server.ServicePort(), config.listenAddress.c_str(),
                server.UploadPort(), store.Describe().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    const char* name = received == SIGTERM ? "SIGTERM" : "SIGINT";
    // New connections are refused from here on (a balancer sends them to another instance);
    // the requests in flight are answered first.
    std::printf("glimmerly-service: %s: finishing the requests in flight\n", name);
    std::fflush(stdout);
    // A second stop signal means now: the stores are safe against an exit at any point (SQLite's
    // journal and the start-up repair, PostgreSQL's rollback of what was not committed).
    std::thread([stopSignals] {
        int again = 0;
        sigwait(&stopSignals, &again);
        std::printf("glimmerly-service: %s again: stopped without waiting\n",
                    again == SIGTERM ? "SIGTERM" : "SIGINT");
        std::fflush(stdout);
        std::_Exit(1);
    }).detach();
    bool finished = server.Drain(drainTimeout);
    std::printf("glimmerly-service: stopped (%s)%s\n", name,
                finished ? "" : "; requests still running at the deadline were cut off");
    return 0;
}
