#include "service/event_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <microhttpd.h>

#include "service/pages.h"

namespace glimmerly::service {

namespace {

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
