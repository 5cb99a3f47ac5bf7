#include "service/service_options.h"

#include <cstdlib>
#include <string_view>

namespace glimmerly::service {

namespace {

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

CommandLine ParseCommandLine(const std::vector<std::string>& args, const char* environmentDatabase,
                             const std::filesystem::path& dataFolder, ServiceOptions& o,
                             std::string& error) {
    ServiceConfig& config = o.server;
    std::filesystem::path data = dataFolder;
    if (environmentDatabase && *environmentDatabase) {
        o.store.database = environmentDatabase;
    }
    const std::size_t count = args.size();
    for (std::size_t i = 0; i < count; ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            return CommandLine::Help;
        }
        if (arg == "--quarantine-missing") {
            o.store.quarantineMissing = true;
            continue;
        }
        if (arg == "--version" && i + 1 == count) {
            return CommandLine::Version;
        }
        if (arg == "--proxy-protocol") {
            config.proxyProtocol = true;
            continue;
        }
        if (i + 1 >= count) {
            error = "unknown option or missing value: " + args[i];
            return CommandLine::RefusedWithUsage;
        }
        const char* value = args[++i].c_str();
        bool ok = true;
        if (arg == "--data") {
            data = value;
        } else if (arg == "--database") {
            o.store.database = value;
            ok = IsPostgresAddress(o.store.database);
        } else if (arg == "--database-pool") {
            char* end = nullptr;
            long size = std::strtol(value, &end, 10);
            ok = *value && !*end && size >= 1 && size <= 1000;
            o.store.poolSize = static_cast<int>(size);
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
            ok = ParseSeconds(value, o.drainTimeout);
        } else if (arg == "--session-retention") {
            char* end = nullptr;
            double days = std::strtod(value, &end);
            ok = *value && !*end && days >= 0 && days <= 100000;
            o.sessionRetention = std::chrono::milliseconds(static_cast<long long>(days * 86400000));
        } else if (arg == "--access-log") {
            o.accessLog = value;
            ok = !o.accessLog.empty();
        } else if (arg == "--log-format") {
            ok = std::string_view(value) == "text" || std::string_view(value) == "json";
            o.logFormat = std::string_view(value) == "json" ? LogFormat::Json : LogFormat::Text;
        } else if (arg == "--instance") {
            config.instance = value;
        } else {
            error = "unknown option: " + args[i - 1];
            return CommandLine::RefusedWithUsage;
        }
        if (!ok) {
            error = "invalid value for " + args[i - 1] + ": " + value;
            return CommandLine::Refused;
        }
    }
    o.store.folder = data.string();
    return CommandLine::Run;
}

std::filesystem::path DefaultDataFolder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return std::filesystem::path(xdg) / "glimmerly-service";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local/share/glimmerly-service";
}

void PrintUsage(std::FILE* out) {
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

} // namespace glimmerly::service
