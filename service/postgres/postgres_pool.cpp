#include "service/postgres/postgres_pool.h"

#include <algorithm>
#include <cstdlib>

#include <libpq-fe.h>

namespace glimmerly::service::pg {

namespace {

std::string Trimmed(const char* text) {
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

// SQL states that mean the server went away or refuses work for now: connection exceptions
// (class 08), admin/crash shutdown and "cannot connect now" (57P01-57P03).
bool IsOutage(const std::string& state) {
    return state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03";
}

// SQL states of a wait that ran out or was given up: lock_not_available (lock_timeout),
// query_canceled (statement_timeout), deadlock_detected, serialization_failure. The transaction
// is lost but may simply be run again later.
bool IsBusy(const std::string& state) {
    return state == "55P03" || state == "57014" || state == "40P01" || state == "40001";
}

// The server-side bounds every connection starts with.
std::string BoundOptions() {
    return "-c lock_timeout=" + std::to_string(kLockTimeoutMs) +
           " -c statement_timeout=" + std::to_string(kStatementTimeoutMs) +
           " -c idle_in_transaction_session_timeout=" + std::to_string(kIdleInTransactionTimeoutMs);
}

} // namespace

Result::~Result() {
    PQclear(result_);
}

Result& Result::operator=(Result&& other) noexcept {
    if (this != &other) {
        PQclear(result_);
        result_ = other.result_;
        other.result_ = nullptr;
    }
    return *this;
}

bool Result::ok() const {
    ExecStatusType s = PQresultStatus(result_);
    return result_ && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
}

std::string Result::SqlState() const {
    const char* state = result_ ? PQresultErrorField(result_, PG_DIAG_SQLSTATE) : nullptr;
    return state ? state : "";
}

std::string Result::Message() const {
    return Trimmed(result_ ? PQresultErrorMessage(result_) : "no result");
}

int Result::Rows() const {
    return result_ ? PQntuples(result_) : 0;
}

int Result::Affected() const {
    return result_ ? std::atoi(PQcmdTuples(result_)) : 0;
}

std::string Result::Text(int row, int col) const {
    return std::string(PQgetvalue(result_, row, col),
                       static_cast<std::size_t>(PQgetlength(result_, row, col)));
}

std::int64_t Result::Int(int row, int col) const {
    return std::strtoll(PQgetvalue(result_, row, col), nullptr, 10);
}

Params& Params::Text(std::string_view text) {
    copies_.emplace_back(text);
    values_.push_back(copies_.back().c_str());
    lengths_.push_back(static_cast<int>(text.size()));
    formats_.push_back(0);
    return *this;
}

Params& Params::Int(std::int64_t value) {
    return Text(std::to_string(value));
}

Params& Params::Binary(std::string_view bytes) {
    values_.push_back(bytes.data());
    lengths_.push_back(static_cast<int>(bytes.size()));
    formats_.push_back(1);
    return *this;
}

Params& Params::Null() {
    values_.push_back(nullptr);
    lengths_.push_back(0);
    formats_.push_back(0);
    return *this;
}

Connection::Connection(const std::string& address) {
    // Defaults first, so that the address can override them: a database host that vanishes
    // from the network is noticed within about half a minute instead of hanging requests.
    const std::string bounds = BoundOptions();
    const char* keys[] = {"connect_timeout",
                          "application_name",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "tcp_user_timeout",
                          "options",
                          "dbname",
                          nullptr};
    const char* values[] = {
        "5",    "glimmerly-service", "10", "5", "3", "30000", bounds.c_str(), address.c_str(),
        nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    // Notices ("relation already exists, skipping") are no news to the service.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
}

Connection::~Connection() {
    PQfinish(conn_);
}

bool Connection::ok() const {
    return conn_ && PQstatus(conn_) == CONNECTION_OK;
}

std::string Connection::Error() const {
    return Trimmed(conn_ ? PQerrorMessage(conn_) : "out of memory");
}

std::string Connection::Where() const {
    std::string host = PQhost(conn_) ? PQhost(conn_) : "";
    return host + ":" + (PQport(conn_) ? PQport(conn_) : "") + "/" +
           (PQdb(conn_) ? PQdb(conn_) : "");
}

Result Connection::Exec(const char* sql, const Params& params, bool binaryResult) {
    if (!ok()) {
        throw ConnectionLost("database connection lost: " + Error());
    }
    Result result(PQexecParams(conn_, sql, static_cast<int>(params.values_.size()), nullptr,
                               params.values_.data(), params.lengths_.data(),
                               params.formats_.data(), binaryResult ? 1 : 0));
    if (!result.ok() && (PQstatus(conn_) != CONNECTION_OK || IsOutage(result.SqlState()))) {
        throw ConnectionLost("database connection lost: " +
                             (result.Message().empty() ? Error() : result.Message()));
    }
    if (!result.ok() && IsBusy(result.SqlState())) {
        throw StoreBusy("database busy: " + result.Message());
    }
    return result;
}

Result Connection::Must(const char* sql, const Params& params, bool binaryResult) {
    Result result = Exec(sql, params, binaryResult);
    if (!result.ok()) {
        throw StatementFailed(result.Message());
    }
    return result;
}

Result Connection::Script(const char* sql) {
    if (!ok()) {
        throw ConnectionLost("database connection lost: " + Error());
    }
    Result result(PQexec(conn_, sql));
    if (!result.ok()) {
        if (PQstatus(conn_) != CONNECTION_OK || IsOutage(result.SqlState())) {
            throw ConnectionLost("database connection lost: " + result.Message());
        }
        if (IsBusy(result.SqlState())) {
            throw StoreBusy("database busy: " + result.Message());
        }
        throw StatementFailed(result.Message());
    }
    return result;
}

std::unique_ptr<Connection> Connect(const std::string& address) {
    return std::make_unique<Connection>(address);
}

Pool::Pool(std::string address, int size, std::chrono::milliseconds wait)
    : address_(std::move(address)), size_(std::max(size, 1)),
      writeLimit_(size_ > 1 ? size_ - std::max(1, size_ / 4) : 1), wait_(wait) {}

Pool::~Pool() = default;

Pool::Lease::~Lease() {
    if (pool_) {
        pool_->Return(std::move(connection_), use_);
    }
}

Pool::Lease Pool::Acquire(Use use) {
    std::unique_lock lock(mutex_);
    auto free = [&] {
        return (!idle_.empty() || leased_ < size_) && (use == Use::Read || writing_ < writeLimit_);
    };
    if (!freed_.wait_for(lock, wait_, free)) {
        throw StoreBusy("no database connection came free within " + std::to_string(wait_.count()) +
                        " ms");
    }
    ++leased_;
    writing_ += use == Use::Write;
    if (!idle_.empty()) {
        std::unique_ptr<Connection> c = std::move(idle_.back());
        idle_.pop_back();
        return Lease(*this, std::move(c), use);
    }
    lock.unlock();
    // Connecting may take a while; other requests go on meanwhile.
    std::unique_ptr<Connection> c = Connect(address_);
    if (!c->ok()) {
        std::string why = c->Error();
        Return(nullptr, use);
        throw StoreUnavailable("cannot connect to the database: " + why);
    }
    return Lease(*this, std::move(c), use);
}

void Pool::DropIdle() {
    std::vector<std::unique_ptr<Connection>> dropped;
    std::lock_guard lock(mutex_);
    dropped.swap(idle_);
    freed_.notify_all();
}

void Pool::Return(std::unique_ptr<Connection> connection, Use use) {
    std::lock_guard lock(mutex_);
    --leased_;
    writing_ -= use == Use::Write;
    if (connection && connection->ok() && PQtransactionStatus(connection->raw()) == PQTRANS_IDLE) {
        idle_.push_back(std::move(connection));
    }
    // Readers and writers wait for different things: wake them all to look.
    freed_.notify_all();
}

} // namespace glimmerly::service::pg
