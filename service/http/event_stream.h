#pragma once
// The live-update stream of one session page: server-sent events read by libmicrohttpd through
// a content callback, one event per new or renamed picture in change order, a ping while nothing
// happens. The changes come from the instance's ChangeSignal, read once for all streams; a
// stream ends after its lifetime (the page reconnects with its last id) or as soon as it is
// admitted no place (then after a long retry).

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace glimmerly::service {

class PictureStore;

struct EventStream {
    EventStream(PictureStore& store, std::string session, std::string address);
    ~EventStream();
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // Takes one of the places for live streams; a stream without one only says when to retry.
    void Admit(unsigned perSession, unsigned perAddress);

    PictureStore& store;
    const std::string session;
    const std::string address;
    std::int64_t lastSeq = 0;
    std::chrono::milliseconds ping{15000};
    std::chrono::steady_clock::time_point endsAt = std::chrono::steady_clock::time_point::max();
    std::uint64_t epoch = 0;
    bool admitted = false;
    std::string pending;
    std::size_t sent = 0;
    bool greeted = false;
};

// What a page is told to wait before it reconnects, in milliseconds: after the end of a stream,
// and after it found no free place.
inline constexpr int kEventRetryMs = 2000;
inline constexpr int kRefusedRetryMs = 30000;

// libmicrohttpd's content reader and its clean-up for an EventStream* (which it then owns).
ssize_t ReadEvents(void* cls, std::uint64_t, char* buffer, std::size_t max);
void FreeEvents(void* cls);

} // namespace glimmerly::service
