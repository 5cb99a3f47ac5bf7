#pragma once
// The command line of glimmerly-service: what it asks for, checked against the bounds each
// option allows, before anything is opened.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "service/http/access_log.h"
#include "service/http/server.h"
#include "service/open_storage.h"

namespace glimmerly::service {

struct ServiceOptions {
    ServiceConfig server;
    StoreOptions store; // its folder is the data folder
    // On SIGTERM or SIGINT, the time the requests in flight may take.
    std::chrono::milliseconds drainTimeout = std::chrono::seconds(30);
    // Expired sessions are deleted this long after; zero keeps them for ever.
    std::chrono::milliseconds sessionRetention = std::chrono::hours(24 * 30);
    std::string accessLog = "-"; // "-": stderr; "off": none; else a file to append to
    LogFormat logFormat = LogFormat::Text;
};

enum class CommandLine {
    Run,              // options holds what to run with
    Help,             // print the usage on stdout
    Version,          // print this program's version
    Refused,          // print error on stderr, exit with 2
    RefusedWithUsage, // the same, followed by the usage
};

// Reads the arguments after the program's name into options. environmentDatabase
// ($GLIMMERLY_DATABASE; null or empty: none) is the database unless --database names one;
// dataFolder is the data folder unless --data names one. Refused: error says why.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const char* environmentDatabase,
                             const std::filesystem::path& dataFolder, ServiceOptions& options,
                             std::string& error);

// $XDG_DATA_HOME/glimmerly-service, else ~/.local/share/glimmerly-service.
std::filesystem::path DefaultDataFolder();

void PrintUsage(std::FILE* out);

} // namespace glimmerly::service
