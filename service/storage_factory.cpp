#include "service/picture_store.h"
#include "service/postgres_storage.h"
#include "service/sqlite_storage.h"

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

std::unique_ptr<Store> OpenStore(const StoreOptions& options, std::string& error, Store::Now now) {
    std::unique_ptr<StorageBackend> storage = OpenStorage(options, error);
    if (!storage) {
        return nullptr;
    }
    return std::make_unique<PictureStore>(std::move(storage), std::move(now));
}

} // namespace glimmerly::service
