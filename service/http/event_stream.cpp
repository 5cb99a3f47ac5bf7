#include "service/http/event_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <microhttpd.h>

#include "service/http/pages.h"
#include "service/rules/change_signal.h"
#include "service/rules/picture_store.h"

namespace glimmerly::service {

EventStream::EventStream(PictureStore& s, std::string name, std::string from)
    : store(s), session(std::move(name)), address(std::move(from)) {}

EventStream::~EventStream() {
    if (admitted) {
        store.Changes().Leave(session, address);
    }
}

void EventStream::Admit(unsigned perSession, unsigned perAddress) {
    admitted = store.Changes().Admit(session, address, perSession, perAddress);
}

namespace {

// Sends pictures read from the store itself, in change order, and moves the stream past them
// and past upto (everything up to which the reads are known to cover).
void SendRead(EventStream* stream, std::vector<StoredPicture> pictures, std::int64_t upto) {
    std::sort(pictures.begin(), pictures.end(),
              [](const StoredPicture& a, const StoredPicture& b) { return a.seq < b.seq; });
    for (const StoredPicture& p : pictures) {
        stream->pending += PictureEvent(p);
        upto = std::max(upto, p.seq);
    }
    stream->lastSeq = upto;
}

ssize_t FillEvents(EventStream* stream) {
    using Kind = ChangeBatch::Kind;
    while (stream->sent >= stream->pending.size()) {
        stream->pending.clear();
        stream->sent = 0;
        if (!stream->greeted) {
            stream->greeted = true;
            const int retry = stream->admitted ? kEventRetryMs : kRefusedRetryMs;
            stream->pending = "retry: " + std::to_string(retry) + "\n\n";
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!stream->admitted || now >= stream->endsAt) {
            return MHD_CONTENT_READER_END_OF_STREAM;
        }
        ChangeBatch batch =
            stream->store.Changes().Next(stream->session, stream->lastSeq, stream->epoch,
                                         std::min(stream->endsAt, now + stream->ping));
        switch (batch.kind) {
        case Kind::Stopping:
            return MHD_CONTENT_READER_END_OF_STREAM;
        case Kind::Changes:
            for (const StoredPicture& p : batch.pictures) {
                stream->pending += PictureEvent(p);
            }
            stream->lastSeq = batch.upto;
            break;
        case Kind::Behind:
            SendRead(stream, stream->store.SessionPictures(stream->session, stream->lastSeq),
                     batch.upto);
            break;
        case Kind::Resync:
            // The page updates the pictures it has in place and adds the ones it lacks.
            SendRead(stream, stream->store.SessionPictures(stream->session, 0), batch.upto);
            break;
        case Kind::Idle:
            stream->lastSeq = batch.upto;
            if (std::chrono::steady_clock::now() < stream->endsAt) {
                stream->pending = ": ping\n\n"; // keeps proxies and dead-peer detection going
            }
            break;
        }
    }
    return 0;
}

} // namespace

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

} // namespace glimmerly::service
