// The PostgreSQL store's pool of connections: writers get all but a quarter of them (at least
// one stays for reads once there are two), so reads are served while writers wait; a request
// finding no connection free within the wait is refused as busy.

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/postgres/postgres_pool.h"
#include "tests/service/pg_cluster.h"

namespace glimmerly::service::test {
namespace {

using namespace std::chrono_literals;
using Use = pg::Pool::Use;

// How many leases of one use the pool hands out at once (up to its size and one more).
int Leases(pg::Pool& pool, Use use, int size, std::vector<pg::Pool::Lease>& held) {
    int taken = 0;
    for (int i = 0; i <= size; ++i) {
        try {
            held.push_back(pool.Acquire(use));
            ++taken;
        } catch (const StoreBusy&) {
            break;
        }
    }
    return taken;
}

TEST(PostgresPoolTest, WritersLeaveAQuarterOfTheConnectionsForReads) {
    GLIMMERLY_PG_OR_SKIP(cluster);
    const std::string database = cluster->NewDatabase();
    struct Case {
        int size;
        int writers;
    };
    for (Case c : {Case{1, 1}, Case{2, 1}, Case{3, 2}, Case{4, 3}, Case{8, 6}, Case{9, 7}}) {
        SCOPED_TRACE("pool of " + std::to_string(c.size));
        pg::Pool pool(database, c.size, 50ms);
        std::vector<pg::Pool::Lease> held;
        EXPECT_EQ(Leases(pool, Use::Write, c.size, held), c.writers);
        // Reads take what is left, and no more than the pool holds.
        EXPECT_EQ(Leases(pool, Use::Read, c.size, held), c.size - c.writers);
        held.clear();
        EXPECT_EQ(Leases(pool, Use::Read, c.size, held), c.size) << "reads may take them all";
    }
}

} // namespace
} // namespace glimmerly::service::test
