// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/store.h"

#include <functional>
#include <span>
#include <string>

namespace directory {

// What a schema upgrade needs of an engine's connection.
struct SchemaConnection {
    // Runs SQL (one or more statements) returning nothing; throws StoreError.
    std::function<void(const std::string &sql)> execute;
    // The highest version recorded in schema_migrations, 0 when none.
    std::function<int()> version;
    // The statement that begins a transaction that writes.
    std::string begin = "BEGIN";
};

// Brings the schema up to the last of migrations: creates schema_migrations
// when missing, then runs each migration newer than the database in its own
// transaction and records it there; a step another server ran meanwhile is
// left out. Throws SchemaTooNew when the database records a
// version newer than the last migration, StoreError when a step failed (that
// step is rolled back).
void UpgradeSchema(const SchemaConnection &connection, std::span<const Migration> migrations,
                   const std::string &databaseName);

} // namespace directory
