#include "service/postgres_store.h"
#include "service/sqlite_store.h"

namespace glimmerly::service {

bool IsPostgresAddress(std::string_view address) {
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

std::unique_ptr<Store> OpenStore(const StoreOptions& options, std::string& error, Store::Now now) {
    if (options.database.empty()) {
        return SqliteStore::Open(options.folder, error, std::move(now));
    }
    if (!IsPostgresAddress(options.database)) {
        error = "unknown database address (expected postgresql://…)";
        return nullptr;
    }
    return PostgresStore::Open(options.database, options.poolSize, error, std::move(now));
}

} // namespace glimmerly::service
