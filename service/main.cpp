// glimmerly-service: the web service behind the desktop client. It takes uploads on one port,
// serves pages, pictures, renames and session logins on another, and keeps its data in a folder
// or a PostgreSQL database. Here the pieces are put together and the stop signals waited for.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "service/http/access_log.h"
#include "service/http/server.h"
#include "service/open_storage.h"
#include "service/rules/picture_store.h"
#include "service/rules/session_purge.h"
#include "service/service_options.h"

#ifndef GLIMMERLY_VERSION
#define GLIMMERLY_VERSION "0"
#endif

using namespace glimmerly::service;

int main(int argc, char** argv) {
    ServiceOptions options;
    std::string error;
    const CommandLine line =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                         std::getenv("GLIMMERLY_DATABASE"), DefaultDataFolder(), options, error);
    switch (line) {
    case CommandLine::Help:
        PrintUsage(stdout);
        return 0;
    case CommandLine::Version:
        std::puts("glimmerly-service " GLIMMERLY_VERSION);
        return 0;
    case CommandLine::Refused:
    case CommandLine::RefusedWithUsage:
        std::fprintf(stderr, "glimmerly-service: %s\n", error.c_str());
        if (line == CommandLine::RefusedWithUsage) {
            PrintUsage(stderr);
        }
        return 2;
    case CommandLine::Run:
        break;
    }
    ServiceConfig config = options.server;

    // Block the stop signals before any thread starts, so every thread inherits the mask and
    // only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (options.accessLog == "-") {
        config.accessLog = std::make_shared<AccessLog>(2, options.logFormat);
    } else if (options.accessLog != "off") {
        config.accessLog = AccessLog::OpenFile(options.accessLog, options.logFormat, error);
        if (!config.accessLog) {
            std::fprintf(stderr, "glimmerly-service: %s\n", error.c_str());
            return 1;
        }
    }
    std::unique_ptr<StorageBackend> storage = OpenStorage(options.store, error);
    if (!storage) {
        // Also a refused start on a data folder that is not whole: it changed nothing.
        std::fprintf(stderr, "glimmerly-service: %s\n", error.c_str());
        return 1;
    }
    PictureStore store(std::move(storage));
    if (std::string repairs = store.DescribeRepairs(); !repairs.empty()) {
        std::fprintf(stderr, "glimmerly-service: %s\n", repairs.c_str());
    }
    std::unique_ptr<SessionPurge> purge;
    if (options.sessionRetention.count() > 0) {
        purge = std::make_unique<SessionPurge>(store, options.sessionRetention);
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
    bool finished = server.Drain(options.drainTimeout);
    std::printf("glimmerly-service: stopped (%s)%s\n", name,
                finished ? "" : "; requests still running at the deadline were cut off");
    return 0;
}
