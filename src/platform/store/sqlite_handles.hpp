#pragma once

#include <sqlite3.h>

#include <memory>

// Owning handles for SQLite's connection and statements, for the files of the platform and of
// phone-sim that keep their data in SQLite.
namespace platform::sqlite {

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

} // namespace platform::sqlite
