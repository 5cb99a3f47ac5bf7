#include "tests/service/pg_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>

#include <libpq-fe.h>

#include "tests/service/harness.h"

namespace glimmerly::service::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
constexpr uid_t kNobody = 65534;

// The program's clusters: [0] without fsync, [1] with it.
std::unique_ptr<PgCluster>& Instance(bool fsync) {
    static std::unique_ptr<PgCluster> clusters[2];
    return clusters[fsync ? 1 : 0];
}

// The server's programs where `pg_config --bindir` says (Debian's wrapper names the newest
// server installed), else where Debian's PostgreSQL 15 puts them.
std::string ServerBinaries() {
    std::string bin;
    if (std::FILE* pipe = ::popen("pg_config --bindir 2>/dev/null", "r")) {
        char line[512];
        if (std::fgets(line, sizeof line, pipe))
            bin = line;
        ::pclose(pipe);
    }
    while (!bin.empty() && (bin.back() == '\n' || bin.back() == '\r'))
        bin.pop_back();
    return bin.empty() ? kBin : bin;
}

std::string& Reason() {
    static std::string why;
    return why;
}

// Stops the cluster when the test program ends.
class ClusterEnvironment : public ::testing::Environment {
public:
    void TearDown() override {
        Instance(false).reset();
        Instance(true).reset();
    }
};
[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ClusterEnvironment);

} // namespace

std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

void BackendTest::SetUp() {
    if (GetParam() == Backend::Postgres) {
        GLIMMERLY_PG_OR_SKIP(cluster);
        database_ = cluster->NewDatabase();
    }
}

std::vector<std::string> BackendTest::StoreArgs() const {
    if (database_.empty()) {
        return {};
    }
    return {"--database", database_};
}

void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}

PgCluster* PgCluster::Shared() {
    return Started(false);
}

PgCluster* PgCluster::Flushing() {
    return Started(true);
}

PgCluster* PgCluster::Started(bool fsync) {
    static std::mutex mutex;
    static bool tried[2] = {false, false};
    std::lock_guard lock(mutex);
    if (!tried[fsync]) {
        tried[fsync] = true;
        std::unique_ptr<PgCluster> cluster(new PgCluster(fsync));
        if (cluster->Init(Reason())) {
            Instance(fsync) = std::move(cluster);
        }
    }
    return Instance(fsync).get();
}

bool PostgresRequired() {
    const char* required = std::getenv("GLIMMERLY_REQUIRE_POSTGRES");
    return required && std::string(required) == "1";
}

const std::string& PgCluster::Why() {
    return Reason();
}

int PgCluster::Run(const std::vector<std::string>& args, bool unprivileged) {
    // Everything the child needs is made before fork: only async-signal-safe calls after it.
    std::string logPath = root_ + "/commands.log";
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (auto& a : copy) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        if (unprivileged && ::geteuid() == 0) {
            // PostgreSQL refuses to run as root.
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                ::_exit(126);
            }
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool PgCluster::Init(std::string& why) {
    bin_ = ServerBinaries();
    if (::access((bin_ + "/initdb").c_str(), X_OK) != 0 ||
        ::access((bin_ + "/pg_ctl").c_str(), X_OK) != 0) {
        why = "PostgreSQL is not installed (no " + bin_ + "/initdb)";
        return false;
    }
    std::string pattern = (fs::temp_directory_path() / "glimmerly-pg-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        why = "no temporary folder for the cluster";
        return false;
    }
    root_ = pattern;
    if (::geteuid() == 0 && ::chown(root_.c_str(), kNobody, kNobody) != 0) {
        why = "cannot hand " + root_ + " to the unprivileged user";
        return false;
    }
    if (!MakeData()) {
        why = "initdb failed, see " + root_ + "/commands.log";
        return false;
    }
    port_ = FreePort();
    WatchForOurEnd();
    if (!Start()) {
        why = "the PostgreSQL server did not start, see " + root_ + "/server.log";
        return false;
    }
    return true;
}

// A test program killed by a time-out never reaches its tear-down. A watcher in a session of its
// own waits for the end of a pipe this process holds, then stops the server and removes the
// folder, so no cluster outlives its test program.
void PgCluster::WatchForOurEnd() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    std::string script = "exec >/dev/null 2>&1; " + bin_ + "/pg_ctl -D '" + root_ +
                         "/data' -m immediate -w stop; rm -rf '" + root_ + "'";
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    bool root = ::geteuid() == 0;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        ::close(fds[1]);
        char byte;
        while (::read(fds[0], &byte, 1) != 0) {
        }
        if (root &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(126);
        }
        ::execv(argv[0], const_cast<char**>(argv));
        ::_exit(127);
    }
    ::close(fds[0]);
    watch_ = fds[1]; // closed by the end of this process, whatever ends it
}

// initdb takes seconds, a copy of its result a fraction of that: the first test program keeps
// one next to itself for the others.
bool PgCluster::MakeData() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    fs::path copy = self.parent_path() / "pg-template";
    if (!ec && fs::exists(copy / "PG_VERSION", ec) &&
        Run({"/bin/cp", "-a", copy.string(), root_ + "/data"}, false) == 0) {
        return true;
    }
    fs::remove_all(root_ + "/data", ec);
    if (Run({bin_ + "/initdb", "-D", root_ + "/data", "-U", "postgres", "-A", "trust", "-E", "UTF8",
             "--locale=C", "--no-sync"}) != 0) {
        return false;
    }
    if (!self.empty()) {
        std::string fresh = copy.string() + ".tmp-" + std::to_string(::getpid());
        if (Run({"/bin/cp", "-a", root_ + "/data", fresh}, false) != 0 ||
            ::rename(fresh.c_str(), copy.c_str()) != 0) {
            fs::remove_all(fresh, ec); // another test program was quicker
        }
    }
    return true;
}

bool PgCluster::Start() {
    std::string options = "-p " + std::to_string(port_) + " -k " + root_ +
                          " -c listen_addresses=127.0.0.1 -c max_connections=300";
    if (fsync_) {
        options += " -c fsync=on -c synchronous_commit=on -c track_wal_io_timing=on"
                   " -c shared_preload_libraries=pg_stat_statements";
    } else {
        // The tests crash the server, never the machine.
        options += " -c fsync=off";
    }
    running_ = Run({bin_ + "/pg_ctl", "-D", root_ + "/data", "-l", root_ + "/server.log", "-w",
                    "-t", "60", "-o", options, "start"}) == 0;
    return running_;
}

bool PgCluster::Stop() {
    bool ok = Run({bin_ + "/pg_ctl", "-D", root_ + "/data", "-w", "-m", "immediate", "stop"}) == 0;
    running_ = !ok;
    return ok;
}

pid_t PgCluster::Postmaster() const {
    if (!running_) {
        return 0;
    }
    // The first line of postmaster.pid is the postmaster's process id.
    std::FILE* f = std::fopen((root_ + "/data/postmaster.pid").c_str(), "r");
    long pid = 0;
    if (f) {
        if (std::fscanf(f, "%ld", &pid) != 1) {
            pid = 0;
        }
        std::fclose(f);
    }
    return static_cast<pid_t>(pid);
}

PgCluster::~PgCluster() {
    if (running_) {
        Stop();
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::string PgCluster::Address(const std::string& database) const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PgCluster::Sql(const std::string& database, const std::string& sql) {
    PGconn* conn = PQconnectdb(Address(database).c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
    } else {
        PGresult* r = PQexec(conn, sql.c_str());
        ExecStatusType s = PQresultStatus(r);
        if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) {
            error = PQresultErrorMessage(r);
        }
        PQclear(r);
    }
    PQfinish(conn);
    return error;
}

std::string PgCluster::NewDatabase() {
    std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++databases_);
    std::string error = Sql("postgres", "CREATE DATABASE " + name + " TEMPLATE template0");
    EXPECT_EQ(error, "");
    return Address(name);
}

} // namespace glimmerly::service::test
