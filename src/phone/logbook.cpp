#include "phone/logbook.hpp"

#include "platform/store/sqlite_handles.hpp"

#include <sqlite3.h>

#include <chrono>
#include <utility>

namespace phone {

namespace {

using DatabaseHandle = platform::sqlite::Connection;
using platform::sqlite::Statement;

constexpr int schemaVersion = 2;

void setError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

std::string describeFailure(sqlite3* db, std::string_view what) {
    return std::string(what) + ": " + sqlite3_errmsg(db);
}

std::int64_t toMillis(platform::TimePoint time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

platform::TimePoint fromMillis(std::int64_t millis) {
    return platform::TimePoint(std::chrono::milliseconds(millis));
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
               : std::string();
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

LogbookEntry readEntry(sqlite3_stmt* statement) {
    return LogbookEntry{sqlite3_column_int64(statement, 0), columnText(statement, 1),
                        columnText(statement, 2), columnText(statement, 3),
                        fromMillis(sqlite3_column_int64(statement, 4))};
}

} // namespace

struct Logbook::Database {
    DatabaseHandle db;

    Statement prepare(std::string_view sql, std::string* error) const {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db.get(), sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
            SQLITE_OK) {
            setError(error, describeFailure(db.get(), "cannot prepare a query"));
            return nullptr;
        }
        return Statement(raw);
    }

    bool execute(const char* sql, std::string* error) const {
        char* message = nullptr;
        if (sqlite3_exec(db.get(), sql, nullptr, nullptr, &message) != SQLITE_OK) {
            setError(error, message != nullptr ? message : "failed");
            sqlite3_free(message);
            return false;
        }
        return true;
    }
};

namespace {

std::unique_ptr<Logbook::Database> openDatabase(const std::filesystem::path& file,
                                                std::string& problem) {
    sqlite3* raw = nullptr;
    int opened =
        sqlite3_open_v2(file.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    auto database = std::make_unique<Logbook::Database>(Logbook::Database{DatabaseHandle(raw)});
    if (opened != SQLITE_OK) {
        problem = raw != nullptr ? sqlite3_errmsg(raw) : "out of memory";
        return nullptr;
    }
    sqlite3_busy_timeout(raw, 5000);
    // A recorded message must outlive a crash of the phone right after its acknowledgement.
    if (!database->execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", &problem)) {
        return nullptr;
    }
    auto version = database->prepare("PRAGMA user_version", &problem);
    if (!version || sqlite3_step(version.get()) != SQLITE_ROW) {
        problem = sqlite3_errmsg(raw);
        return nullptr;
    }
    auto found = sqlite3_column_int(version.get(), 0);
    if (found > schemaVersion) {
        problem = "written by a newer phone-sim (logbook version " + std::to_string(found) + ")";
        return nullptr;
    }
    if (!database->execute("BEGIN;"
                           "CREATE TABLE IF NOT EXISTS messages ("
                           " number INTEGER PRIMARY KEY,"
                           " sync_id TEXT NOT NULL UNIQUE,"
                           " type TEXT NOT NULL,"
                           " message TEXT NOT NULL,"
                           " arrived_at_ms INTEGER NOT NULL);"
                           "CREATE TABLE IF NOT EXISTS counters ("
                           " name TEXT PRIMARY KEY NOT NULL,"
                           " value INTEGER NOT NULL) WITHOUT ROWID;"
                           "CREATE TABLE IF NOT EXISTS applied_events ("
                           " sync_id TEXT PRIMARY KEY NOT NULL) WITHOUT ROWID;"
                           "CREATE TABLE IF NOT EXISTS finished_workouts ("
                           " number INTEGER PRIMARY KEY,"
                           " sync_id TEXT NOT NULL UNIQUE,"
                           " workout_id TEXT NOT NULL,"
                           " completed_at_ms REAL NOT NULL,"
                           " workout TEXT NOT NULL);"
                           "PRAGMA user_version = 2;"
                           "COMMIT;",
                           &problem)) {
        database->execute("ROLLBACK;", nullptr);
        return nullptr;
    }
    return database;
}

} // namespace

std::unique_ptr<Logbook> Logbook::open(const std::filesystem::path& file, std::string* error) {
    std::string problem;
    auto database = openDatabase(file, problem);
    if (!database) {
        setError(error, "cannot use " + file.string() + " as the logbook: " + problem);
        return nullptr;
    }
    return std::make_unique<Logbook>(Key{}, file, std::move(database));
}

Logbook::Logbook(Key, std::filesystem::path file, std::unique_ptr<Database> database)
    : file_(std::move(file)), database_(std::move(database)) {}

Logbook::~Logbook() = default;

std::optional<Recorded> Logbook::record(std::string_view syncId, std::string_view type,
                                        std::string_view messageJson, platform::TimePoint arrivedAt,
                                        std::string* error) {
    auto insert = database_->prepare(
        "INSERT INTO messages (sync_id, type, message, arrived_at_ms) VALUES (?1, ?2, ?3, ?4) "
        "ON CONFLICT (sync_id) DO NOTHING",
        error);
    if (!insert) {
        return std::nullopt;
    }
    bindText(insert.get(), 1, syncId);
    bindText(insert.get(), 2, type);
    bindText(insert.get(), 3, messageJson);
    sqlite3_bind_int64(insert.get(), 4, toMillis(arrivedAt));
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        setError(error, describeFailure(database_->db.get(), "cannot record a message"));
        return std::nullopt;
    }
    if (sqlite3_changes(database_->db.get()) == 1) {
        return Recorded{sqlite3_last_insert_rowid(database_->db.get()), false};
    }
    auto earlier = find(syncId);
    if (!earlier) {
        setError(error, "the logbook refused sync id " + std::string(syncId));
        return std::nullopt;
    }
    return Recorded{earlier->number, true};
}

std::vector<LogbookEntry> Logbook::entries() const {
    std::vector<LogbookEntry> result;
    auto select = database_->prepare(
        "SELECT number, sync_id, type, message, arrived_at_ms FROM messages ORDER BY number",
        nullptr);
    while (select && sqlite3_step(select.get()) == SQLITE_ROW) {
        result.push_back(readEntry(select.get()));
    }
    return result;
}

std::optional<LogbookEntry> Logbook::find(std::string_view syncId) const {
    auto select = database_->prepare(
        "SELECT number, sync_id, type, message, arrived_at_ms FROM messages WHERE sync_id = ?1",
        nullptr);
    if (!select) {
        return std::nullopt;
    }
    bindText(select.get(), 1, syncId);
    if (sqlite3_step(select.get()) != SQLITE_ROW) {
        return std::nullopt;
    }
    return readEntry(select.get());
}

std::int64_t Logbook::revision() const {
    return counter("syncRevision");
}

std::optional<std::int64_t> Logbook::takeNextRevision(std::string* error) {
    return takeNext("syncRevision", error);
}

std::int64_t Logbook::counter(std::string_view name) const {
    auto select = database_->prepare("SELECT value FROM counters WHERE name = ?1", nullptr);
    if (!select) {
        return 0;
    }
    bindText(select.get(), 1, name);
    if (sqlite3_step(select.get()) == SQLITE_ROW) {
        return sqlite3_column_int64(select.get(), 0);
    }
    return 0;
}

std::optional<std::int64_t> Logbook::takeNext(std::string_view name, std::string* error) {
    auto update = database_->prepare("INSERT INTO counters (name, value) VALUES (?1, 1) "
                                     "ON CONFLICT (name) DO UPDATE SET value = value + 1 "
                                     "RETURNING value",
                                     error);
    if (!update) {
        return std::nullopt;
    }
    bindText(update.get(), 1, name);
    auto failed = [&] {
        setError(error, describeFailure(database_->db.get(),
                                        "cannot store the next " + std::string(name)));
        return std::nullopt;
    };
    if (sqlite3_step(update.get()) != SQLITE_ROW) {
        return failed();
    }
    auto value = sqlite3_column_int64(update.get(), 0);
    // RETURNING commits only once the statement has run to completion.
    if (sqlite3_step(update.get()) != SQLITE_DONE) {
        return failed();
    }
    return value;
}

bool Logbook::markApplied(std::string_view syncId, std::string* error) {
    auto insert = database_->prepare(
        "INSERT INTO applied_events (sync_id) VALUES (?1) ON CONFLICT (sync_id) DO NOTHING", error);
    if (!insert) {
        return false;
    }
    bindText(insert.get(), 1, syncId);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        setError(error, describeFailure(database_->db.get(), "cannot mark an event applied"));
        return false;
    }
    return true;
}

bool Logbook::wasApplied(std::string_view syncId) const {
    auto select = database_->prepare("SELECT 1 FROM applied_events WHERE sync_id = ?1", nullptr);
    if (!select) {
        return false;
    }
    bindText(select.get(), 1, syncId);
    return sqlite3_step(select.get()) == SQLITE_ROW;
}

bool Logbook::recordFinishedWorkout(const FinishedWorkout& workout, std::string* error) {
    auto insert = database_->prepare(
        "INSERT INTO finished_workouts (sync_id, workout_id, completed_at_ms, workout) "
        "VALUES (?1, ?2, ?3, ?4) ON CONFLICT (sync_id) DO NOTHING",
        error);
    if (!insert) {
        return false;
    }
    bindText(insert.get(), 1, workout.syncId);
    bindText(insert.get(), 2, workout.workoutId);
    sqlite3_bind_double(insert.get(), 3, workout.completedAtMs);
    bindText(insert.get(), 4, workout.workoutJson);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        setError(error, describeFailure(database_->db.get(), "cannot record a finished workout"));
        return false;
    }
    return true;
}

std::vector<FinishedWorkout> Logbook::finishedWorkouts() const {
    std::vector<FinishedWorkout> result;
    auto select = database_->prepare("SELECT sync_id, workout_id, completed_at_ms, workout "
                                     "FROM finished_workouts ORDER BY number",
                                     nullptr);
    while (select && sqlite3_step(select.get()) == SQLITE_ROW) {
        result.push_back(FinishedWorkout{columnText(select.get(), 0), columnText(select.get(), 1),
                                         sqlite3_column_double(select.get(), 2),
                                         columnText(select.get(), 3)});
    }
    return result;
}

} // namespace phone
