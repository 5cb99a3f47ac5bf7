#pragma once
// The tables of the PostgreSQL store and the channel its transactions notify.

#include <string>

#include "service/postgres/postgres_pool.h"

namespace glimmerly::service::pg {

// Where uploads and renames NOTIFY their change number.
inline constexpr const char* kChangeChannel = "glimmerly_changes";
// The newest schema this program knows.
extern const int kSchemaVersion;
// Creates or upgrades the schema in one transaction; false with error set when the database
// cannot be prepared or is newer than this program.
bool PrepareSchema(Connection& c, std::string& error);

} // namespace glimmerly::service::pg
