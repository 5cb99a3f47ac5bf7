// How changes reach the waiters of this instance: its own uploads and renames, and the
// notifications of every instance through the listener connection.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include <libpq-fe.h>

#include "service/postgres_store.h"

namespace glimmerly::service {

void PostgresStore::Known(std::int64_t seq) {
    std::lock_guard lock(mutex_);
    if (seq > known_) {
        known_ = seq;
        changed_.notify_all();
    }
}

std::int64_t PostgresStore::WaitForChange(std::int64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return stopping_ || known_ > seen; });
    return std::max(known_, seen);
}

void PostgresStore::Shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
}

bool PostgresStore::ShuttingDown() {
    std::lock_guard lock(mutex_);
    return stopping_;
}

// The listener: its own connection, LISTENing on the change channel. When the connection is
// lost it reconnects every half second and then reads the counter, so changes made meanwhile
// still wake the pages.
void PostgresStore::Listen() {
    std::unique_ptr<pg::Connection> c;
    while (!ending_) {
        if (!c || !c->ok()) {
            c = pg::Connect(address_);
            try {
                if (c->ok()) {
                    c->Must((std::string("LISTEN ") + pg::kChangeChannel).c_str());
                    Known(c->Must("SELECT last FROM change_counter").Int(0, 0));
                }
            } catch (const std::exception&) {
                c.reset();
            }
        }
        pollfd fds[2] = {{wakeFds_[0], POLLIN, 0}, {-1, POLLIN, 0}};
        if (c && c->ok()) {
            fds[1].fd = PQsocket(c->raw());
        }
        ::poll(fds, 2, 500);
        if (fds[1].fd < 0 || !(fds[1].revents & (POLLIN | POLLERR | POLLHUP))) {
            continue;
        }
        if (!PQconsumeInput(c->raw())) {
            c.reset();
            continue;
        }
        while (PGnotify* n = PQnotifies(c->raw())) {
            Known(std::strtoll(n->extra, nullptr, 10));
            PQfreemem(n);
        }
    }
}

} // namespace glimmerly::service
