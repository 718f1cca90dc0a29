// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/store.h"

#include "directory_server/data_folder.h"
#include "directory_server/postgres_store.h"
#include "directory_server/sqlite_store.h"

namespace directory {

std::unique_ptr<Store> OpenStore(const std::string &databaseUri, const DataFiles &files,
                                 LogLine log) {
    if (databaseUri.empty()) {
        return std::make_unique<SqliteStore>(files.database, SqliteMigrations(), files,
                                             std::move(log));
    }
    return std::make_unique<PostgresStore>(databaseUri, std::move(log));
}

} // namespace directory
