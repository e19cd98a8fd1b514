// Owning holders for SQLite connections and prepared statements, built on
// CUniqueHandle like the platform's own holders.
#pragma once

#include <orafon/Holders.h>

#include <sqlite3.h>

namespace orafon {

struct SqliteDbTraits {
    using Handle = sqlite3 *;
    static Handle Empty() noexcept { return nullptr; }
    static int Close(Handle db) noexcept { return sqlite3_close(db); }
    static int CloseEmpty() noexcept { return SQLITE_OK; }
};
// A connection; its statements must be finalized before it is closed
// (sqlite3_close refuses to close a connection that still has some).
using CSqliteDb = CUniqueHandle<SqliteDbTraits>;

struct SqliteStmtTraits {
    using Handle = sqlite3_stmt *;
    static Handle Empty() noexcept { return nullptr; }
    static int Close(Handle statement) noexcept { return sqlite3_finalize(statement); }
    static int CloseEmpty() noexcept { return SQLITE_OK; }
};
// A prepared statement, finalized with its holder.
using CSqliteStmt = CUniqueHandle<SqliteStmtTraits>;

} // namespace orafon
