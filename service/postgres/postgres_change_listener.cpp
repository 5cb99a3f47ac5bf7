// How this instance hears of the changes of every instance: a connection of its own that
// LISTENs on the change channel.

#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include <libpq-fe.h>

#include "service/postgres/postgres_schema.h"
#include "service/postgres/postgres_storage.h"

namespace glimmerly::service {

void PostgresStorage::WatchChanges(std::function<void(std::int64_t)> changed) {
    changed_ = std::move(changed);
    changed_(opened_);
    changeListener_ = std::thread([this] { ListenForChanges(); });
}

// When the connection is lost the change listener reconnects every half second and then reads the
// counter, so changes made meanwhile still wake the pages.
void PostgresStorage::ListenForChanges() {
    std::unique_ptr<pg::Connection> c;
    while (!ending_) {
        if (!c || !c->ok()) {
            c = pg::Connect(address_);
            try {
                if (c->ok()) {
                    c->Must((std::string("LISTEN ") + pg::kChangeChannel).c_str());
                    changed_(c->Must("SELECT last FROM change_counter").Int(0, 0));
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
            changed_(std::strtoll(n->extra, nullptr, 10));
            PQfreemem(n);
        }
    }
}

} // namespace glimmerly::service
