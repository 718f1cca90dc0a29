#include "directory_server/store.h"

#include "directory_server/postgres_store.h"
#include "directory_server/sqlite_store.h"

namespace directory {

std::unique_ptr<Store> OpenStore(const std::string &databaseUri, const std::string &sqlitePath,
                                 LogLine log) {
    if (databaseUri.empty()) {
        return std::make_unique<SqliteStore>(sqlitePath);
    }
    return std::make_unique<PostgresStore>(databaseUri, std::move(log));
}

} // namespace directory
