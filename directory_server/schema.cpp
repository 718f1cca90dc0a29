// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/schema.h"

namespace directory {

namespace {

// Valid in both engines' SQL.
constexpr const char *kMigrationsTable = R"sql(
CREATE TABLE IF NOT EXISTS schema_migrations (
    version INTEGER PRIMARY KEY,
    applied_at TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP
)
)sql";

} // namespace

void UpgradeSchema(const SchemaConnection &connection, std::span<const Migration> migrations,
                   const std::string &databaseName) {
    connection.execute(kMigrationsTable);
    const int known = migrations.empty() ? 0 : migrations.back().version;
    int version = connection.version();
    if (version > known) {
        throw SchemaTooNew(databaseName + " has schema version " + std::to_string(version) +
                           ", newer than this quorvel-directory knows (" + std::to_string(known) +
                           "); run a newer quorvel-directory on it");
    }
    for (const Migration &migration : migrations) {
        if (migration.version <= version) {
            continue;
        }
        connection.execute(connection.begin);
        try {
            // Another server may have run it since the version was read.
            if (connection.version() >= migration.version) {
                connection.execute("COMMIT");
                continue;
            }
            connection.execute(std::string(migration.sql));
            connection.execute("INSERT INTO schema_migrations(version) VALUES(" +
                               std::to_string(migration.version) + ")");
            connection.execute("COMMIT");
        } catch (const StoreError &error) {
            try {
                connection.execute("ROLLBACK");
            } catch (const StoreError &) {
                // The connection is gone, and the transaction with it.
            }
            throw StoreError("cannot upgrade " + databaseName + " to schema version " +
                             std::to_string(migration.version) + ": " + error.what());
        }
        version = migration.version;
    }
}

} // namespace directory
