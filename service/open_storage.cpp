#include "service/open_storage.h"

#include "service/postgres/postgres_storage.h"
#include "service/sqlite/sqlite_storage.h"

namespace glimmerly::service {

bool IsPostgresAddress(std::string_view address) {
    return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

std::unique_ptr<StorageBackend> OpenStorage(const StoreOptions& options, std::string& error) {
    if (options.database.empty()) {
        SqliteOptions sqlite;
        sqlite.quarantineMissing = options.quarantineMissing;
        return SqliteStorage::Open(options.folder, error, sqlite);
    }
    if (!IsPostgresAddress(options.database)) {
        error = "unknown database address (expected postgresql://…)";
        return nullptr;
    }
    return PostgresStorage::Open(options.database, options.poolSize, error);
}

} // namespace glimmerly::service
