#include "platform/health/workout_database.hpp"

#include "platform/store/sqlite_handles.hpp"
#include "platform/values/bplist.hpp"

#include <sqlite3.h>

#include <memory>
#include <string_view>
#include <system_error>

namespace platform {

namespace {

using sqlite::Connection;
using sqlite::Statement;

constexpr std::string_view createTableSql =
    "CREATE TABLE IF NOT EXISTS workouts (uuid TEXT PRIMARY KEY NOT NULL, activity_type INTEGER "
    "NOT NULL, start_date REAL NOT NULL, end_date REAL NOT NULL, duration REAL NOT NULL, "
    "metadata BLOB NOT NULL, total_energy_kcal REAL, average_heart_rate REAL, "
    "max_heart_rate REAL)";

std::string lastError(sqlite3* db, int rc) {
    return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

Connection open(const std::filesystem::path& file, int flags, std::string& error) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection connection(raw);
    if (rc != SQLITE_OK) {
        error = lastError(raw, rc);
        return nullptr;
    }
    sqlite3_busy_timeout(raw, 5000);
    return connection;
}

Statement prepare(sqlite3* db, std::string_view sql, std::string& error) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) {
        error = lastError(db, rc);
        return nullptr;
    }
    return statement;
}

bool execute(sqlite3* db, std::string_view sql, std::string& error) {
    auto statement = prepare(db, sql, error);
    if (!statement) {
        return false;
    }
    if (int rc = sqlite3_step(statement.get()); rc != SQLITE_DONE && rc != SQLITE_ROW) {
        error = lastError(db, rc);
        return false;
    }
    return true;
}

void bindOptional(sqlite3_stmt* statement, int index, const std::optional<double>& value) {
    if (value) {
        sqlite3_bind_double(statement, index, *value);
    } else {
        sqlite3_bind_null(statement, index);
    }
}

std::optional<double> columnOptional(sqlite3_stmt* statement, int column) {
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    return sqlite3_column_double(statement, column);
}

} // namespace

std::optional<std::string> WorkoutDatabase::save(const SavedWorkout& workout) const {
    auto metadata = encodeBinaryPlist(workout.metadata);
    if (!metadata) {
        return "workout metadata is not a property list";
    }
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    std::string error;
    auto connection = open(file_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
    if (!connection) {
        return error;
    }
    sqlite3* db = connection.get();
    if (!execute(db, "PRAGMA journal_mode=WAL", error) ||
        !execute(db, "PRAGMA synchronous=FULL", error) || !execute(db, createTableSql, error)) {
        return error;
    }
    auto insert = prepare(db,
                          "INSERT INTO workouts (uuid, activity_type, start_date, end_date, "
                          "duration, metadata, total_energy_kcal, average_heart_rate, "
                          "max_heart_rate) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                          error);
    if (!insert) {
        return error;
    }
    sqlite3_stmt* statement = insert.get();
    sqlite3_bind_text(statement, 1, workout.uuid.data(), static_cast<int>(workout.uuid.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int(statement, 2, workout.activityType);
    sqlite3_bind_double(statement, 3, workout.startDate.sinceReferenceDate);
    sqlite3_bind_double(statement, 4, workout.endDate.sinceReferenceDate);
    sqlite3_bind_double(statement, 5, workout.durationSeconds);
    sqlite3_bind_blob(statement, 6, metadata->data(), static_cast<int>(metadata->size()),
                      SQLITE_TRANSIENT);
    bindOptional(statement, 7, workout.totalEnergyBurnedKilocalories);
    bindOptional(statement, 8, workout.averageHeartRate);
    bindOptional(statement, 9, workout.maxHeartRate);
    if (int rc = sqlite3_step(statement); rc != SQLITE_DONE) {
        return lastError(db, rc);
    }
    return std::nullopt;
}

std::optional<std::vector<SavedWorkout>> WorkoutDatabase::load() const {
    std::vector<SavedWorkout> workouts;
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        return workouts;
    }
    std::string error;
    auto connection = open(file_, SQLITE_OPEN_READONLY, error);
    if (!connection) {
        return std::nullopt;
    }
    auto select = prepare(connection.get(),
                          "SELECT uuid, activity_type, start_date, end_date, duration, metadata, "
                          "total_energy_kcal, average_heart_rate, max_heart_rate FROM workouts "
                          "ORDER BY start_date, uuid",
                          error);
    if (!select) {
        // A file that was created but never got its table holds no workouts.
        return workouts;
    }
    sqlite3_stmt* statement = select.get();
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        SavedWorkout workout;
        if (const auto* text = sqlite3_column_text(statement, 0)) {
            workout.uuid = reinterpret_cast<const char*>(text);
        }
        workout.activityType = sqlite3_column_int(statement, 1);
        workout.startDate = Date{sqlite3_column_double(statement, 2)};
        workout.endDate = Date{sqlite3_column_double(statement, 3)};
        workout.durationSeconds = sqlite3_column_double(statement, 4);
        const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, 5));
        auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, 5));
        if (blob != nullptr) {
            auto metadata = decodeBinaryPlist({blob, size});
            if (metadata && metadata->dictionary() != nullptr) {
                workout.metadata = *metadata->dictionary();
            }
        }
        workout.totalEnergyBurnedKilocalories = columnOptional(statement, 6);
        workout.averageHeartRate = columnOptional(statement, 7);
        workout.maxHeartRate = columnOptional(statement, 8);
        workouts.push_back(std::move(workout));
    }
    if (rc != SQLITE_DONE) {
        return std::nullopt;
    }
    return workouts;
}

} // namespace platform
