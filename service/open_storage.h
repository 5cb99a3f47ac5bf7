#pragma once
// Which storage back end the service runs on, chosen from its options: SQLite and files in a data
// folder (the default) or one PostgreSQL database shared by any number of instances.

#include <memory>
#include <string>
#include <string_view>

#include "service/storage/storage_backend.h"

namespace glimmerly::service {

struct StoreOptions {
    std::string folder;             // data folder of the SQLite store
    std::string database;           // postgresql://… or postgres://…: use PostgreSQL instead
    int poolSize = 8;               // database connections of the PostgreSQL store
    bool quarantineMissing = false; // SQLite: quarantine rows without a file, however many
};

// True for a connection address the PostgreSQL store takes.
bool IsPostgresAddress(std::string_view address);

// Opens the storage the options name (a PictureStore puts the rules over it). nullptr with error
// set on failure (an unreachable database, a database schema newer than this program, a data
// folder in use or not whole).
std::unique_ptr<StorageBackend> OpenStorage(const StoreOptions& options, std::string& error);

} // namespace glimmerly::service
