#pragma once
// A throwaway PostgreSQL 15 cluster for the tests: initdb into a temporary folder, run as an
// unprivileged user (the tests may run as root), listening on a free loopback port with its
// socket in that folder, stopped and removed at the end. One cluster per test program, started
// on first use; every test takes a fresh database in it. A second one that flushes its commits
// to disk is there for the tests and measurements whose subject is the cost of a commit.

#include <sys/types.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace glimmerly::service::test {

enum class Backend { Sqlite, Postgres };

std::string BackendName(const ::testing::TestParamInfo<Backend>& info);
// Readable parameter in test listings.
void PrintTo(Backend backend, std::ostream* out);

class PgCluster {
public:
    // The program's cluster, started on the first call; nullptr when PostgreSQL is not installed
    // or did not start (Why() then says so).
    static PgCluster* Shared();
    // The program's cluster with fsync on, as in production: every commit waits for its WAL
    // flush. It also loads pg_stat_statements and times its WAL writes and flushes (pg_stat_wal).
    // Started on first use; nullptr when it did not start (Why() then says so).
    static PgCluster* Flushing();
    static const std::string& Why();

    // A new, empty database; returns its postgresql:// address.
    std::string NewDatabase();
    // Runs SQL as the superuser in a database; the error text, or empty on success.
    std::string Sql(const std::string& database, const std::string& sql);
    // The address of a database by name.
    std::string Address(const std::string& database) const;
    std::uint16_t Port() const { return port_; }
    // The path of one of the server's programs (pg_dump, pg_restore, …).
    std::string Program(const std::string& name) const { return bin_ + "/" + name; }
    // The process id of the server's postmaster (the parent of all its backends); 0 when it
    // is not running.
    pid_t Postmaster() const;

    // Stops the server right away (like a crash) and starts it again; true on success.
    bool Stop();
    bool Start();

    ~PgCluster();

private:
    explicit PgCluster(bool fsync) : fsync_(fsync) {}
    static PgCluster* Started(bool fsync);
    bool Init(std::string& why);
    bool MakeData();
    void WatchForOurEnd();
    // Runs a command and returns its exit status; as the unprivileged user when we are root.
    int Run(const std::vector<std::string>& args, bool unprivileged = true);

    std::string root_;
    std::string bin_;
    std::uint16_t port_ = 0;
    int databases_ = 0;
    bool fsync_ = false;
    bool running_ = false;
    int watch_ = -1;
};

// Base of the suites that run against both stores: a temporary folder and, for PostgreSQL, a
// fresh database of the shared cluster (the test is skipped when there is none).
class BackendTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    // What the service needs to use this run's store: nothing for SQLite (its --data folder),
    // --database for PostgreSQL.
    std::vector<std::string> StoreArgs() const;

    glimmerly::testing::TempDir temp_{"glimmerly-service"};
    std::string database_; // empty for SQLite
};

#define GLIMMERLY_BOTH_STORES(suite)                                                               \
    INSTANTIATE_TEST_SUITE_P(Stores, suite,                                                        \
                             ::testing::Values(::glimmerly::service::test::Backend::Sqlite,        \
                                               ::glimmerly::service::test::Backend::Postgres),     \
                             ::glimmerly::service::test::BackendName)

// Whether a missing cluster fails the PostgreSQL tests instead of skipping them: set
// GLIMMERLY_REQUIRE_POSTGRES=1 where PostgreSQL must be there (the test command does).
bool PostgresRequired();

// Declares cluster as the shared cluster; without one the test fails (when PostgreSQL is
// required) or is skipped, with the reason.
#define GLIMMERLY_PG_OR_SKIP(cluster)                                                              \
    ::glimmerly::service::test::PgCluster* cluster =                                               \
        ::glimmerly::service::test::PgCluster::Shared();                                           \
    if (!cluster) {                                                                                \
        if (::glimmerly::service::test::PostgresRequired())                                        \
            GTEST_FAIL() << ::glimmerly::service::test::PgCluster::Why();                          \
        GTEST_SKIP() << ::glimmerly::service::test::PgCluster::Why();                              \
    }

} // namespace glimmerly::service::test
