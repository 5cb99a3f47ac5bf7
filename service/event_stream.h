#pragma once
// The live-update stream of one session page: server-sent events read by libmicrohttpd through
// a content callback, one event per new or renamed picture, a ping while nothing happens.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "service/store.h"

namespace glimmerly::service {

struct EventStream {
    Store* store = nullptr;
    std::string session;
    std::int64_t lastSeq = 0;
    std::chrono::milliseconds ping{15000};
    std::string pending;
    std::size_t sent = 0;
    bool greeted = false;
};

// libmicrohttpd's content reader and its clean-up for an EventStream* (which it then owns).
ssize_t ReadEvents(void* cls, std::uint64_t, char* buffer, std::size_t max);
void FreeEvents(void* cls);

} // namespace glimmerly::service
