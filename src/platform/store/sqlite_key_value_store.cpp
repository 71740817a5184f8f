#include "platform/store/sqlite_key_value_store.hpp"

#include "platform/store/sqlite_handles.hpp"

#include <date/date.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

namespace platform {

namespace store_detail {

using sqlite::Connection;
using sqlite::Statement;

// Declared first so that the statements are finalised before the connection closes.
struct SqliteDatabase {
    Connection connection;
    Statement select;
    Statement upsert;
    Statement erase;
};

} // namespace store_detail

namespace {

using store_detail::Connection;
using store_detail::SqliteDatabase;
using store_detail::Statement;
using store_detail::StoredValue;
namespace fs = std::filesystem;

// Compared with what SQLite keeps in sqlite_schema, so any other layout counts as unreadable.
constexpr std::string_view tableSql =
    "CREATE TABLE entries (key TEXT PRIMARY KEY NOT NULL, type TEXT NOT NULL, value) WITHOUT ROWID";
constexpr std::string_view createTableSql =
    "CREATE TABLE IF NOT EXISTS entries (key TEXT PRIMARY "
    "KEY NOT NULL, type TEXT NOT NULL, value) WITHOUT ROWID";

constexpr std::string_view doubleTag = "double";
constexpr std::string_view boolTag = "bool";
constexpr std::string_view stringsTag = "strings";
constexpr std::string_view dataTag = "data";

struct OpenError {
    int code = SQLITE_OK;
    std::string message;
};

Statement prepare(sqlite3* db, std::string_view sql, OpenError& error) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) {
        error = {rc, sqlite3_errmsg(db)};
        return nullptr;
    }
    return statement;
}

bool execute(sqlite3* db, std::string_view sql, OpenError& error) {
    auto statement = prepare(db, sql, error);
    if (!statement) {
        return false;
    }
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) {
        rc = sqlite3_step(statement.get());
    }
    if (rc != SQLITE_DONE) {
        error = {rc, sqlite3_errmsg(db)};
        return false;
    }
    return true;
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = sqlite3_column_text(statement, column);
    if (text == nullptr) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// An empty file, or one holding exactly our table, is ours; anything else is someone else's
// layout and must not be written into.
bool checkSchema(sqlite3* db, bool& empty, OpenError& error) {
    auto statement = prepare(db, "SELECT type, name, sql FROM sqlite_schema", error);
    if (!statement) {
        return false;
    }
    int objects = 0;
    bool ours = false;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        ++objects;
        ours = columnText(statement.get(), 0) == "table" &&
               columnText(statement.get(), 1) == "entries" &&
               columnText(statement.get(), 2) == tableSql;
    }
    if (rc != SQLITE_DONE) {
        error = {rc, sqlite3_errmsg(db)};
        return false;
    }
    empty = objects == 0;
    if (!empty && !(objects == 1 && ours)) {
        error = {SQLITE_ERROR, "unexpected schema"};
        return false;
    }
    return true;
}

bool quickCheck(sqlite3* db, OpenError& error) {
    auto statement = prepare(db, "PRAGMA quick_check", error);
    if (!statement) {
        return false;
    }
    int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW) {
        error = {rc, sqlite3_errmsg(db)};
        return false;
    }
    auto result = columnText(statement.get(), 0);
    if (result != "ok") {
        error = {SQLITE_CORRUPT, "integrity check failed: " + result};
        return false;
    }
    return true;
}

std::unique_ptr<SqliteDatabase>
openDatabase(const std::string& path, const SqliteKeyValueStoreOptions& options, OpenError& error) {
    sqlite3* raw = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection connection(raw);
    if (rc != SQLITE_OK) {
        error = {rc, raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)};
        return nullptr;
    }
    sqlite3* db = connection.get();
    // Until the file proves readable, closing must not checkpoint into it or delete its -wal:
    // both belong to the evidence that gets moved aside.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_extended_result_codes(db, 1);
    auto timeout = std::min<std::chrono::milliseconds::rep>(options.busyTimeout.count(),
                                                            std::numeric_limits<int>::max());
    sqlite3_busy_timeout(db, static_cast<int>(timeout));
    // Checked before anything is written, so that a file that turns out foreign or damaged is
    // moved aside as it was found; IF NOT EXISTS lets two processes create one new file.
    bool empty = false;
    if (!checkSchema(db, empty, error) || !quickCheck(db, error) ||
        !execute(db, "PRAGMA journal_mode=WAL", error) ||
        !execute(db, "PRAGMA synchronous=FULL", error)) {
        return nullptr;
    }
    if (empty && !execute(db, createTableSql, error)) {
        return nullptr;
    }
    auto database = std::make_unique<SqliteDatabase>();
    database->select = prepare(db, "SELECT type, value FROM entries WHERE key = ?1", error);
    database->upsert =
        prepare(db, "INSERT OR REPLACE INTO entries (key, type, value) VALUES (?1, ?2, ?3)", error);
    database->erase = prepare(db, "DELETE FROM entries WHERE key = ?1", error);
    if (!database->select || !database->upsert || !database->erase) {
        return nullptr;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    database->connection = std::move(connection);
    return database;
}

// Failures that say nothing about the file's content: moving the file aside would not help.
bool blamesEnvironment(int code) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_FULL:
    case SQLITE_INTERRUPT:
        return true;
    default:
        return false;
    }
}

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

constexpr const char* companionSuffixes[] = {"-wal", "-shm", "-journal"};

// The new name, or nothing with the reason in error.
std::optional<fs::path> moveAside(const fs::path& file, std::string& error) {
    auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::string base = file.string() + ".unreadable-" + date::format("%Y%m%dT%H%M%SZ", now);
    std::string target = base;
    auto taken = [](const std::string& candidate) {
        if (present(candidate)) {
            return true;
        }
        for (const char* suffix : companionSuffixes) {
            if (present(candidate + suffix)) {
                return true;
            }
        }
        return false;
    };
    for (int n = 2; taken(target); ++n) {
        target = base + "-" + std::to_string(n);
    }
    std::error_code ec;
    fs::rename(file, target, ec);
    if (ec) {
        error = ec.message();
        return std::nullopt;
    }
    // A stale -wal left next to a fresh file could be replayed into it, so it must move as well.
    for (const char* suffix : companionSuffixes) {
        fs::path companion = file.string() + suffix;
        if (present(companion)) {
            fs::rename(companion, target + suffix, ec);
            if (ec) {
                error = "moved the file to " + target + " but not " + companion.string() + ": " +
                        ec.message();
                return std::nullopt;
            }
        }
    }
    return fs::path(target);
}

void bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    // A null pointer would bind SQL NULL rather than the empty string.
    sqlite3_bind_text64(statement, index, text.empty() ? "" : text.data(), text.size(),
                        SQLITE_STATIC, SQLITE_UTF8);
}

// Resets the statement however the caller leaves, so the next call starts clean.
struct StatementUse {
    sqlite3_stmt* statement;
    ~StatementUse() {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

} // namespace

SqliteKeyValueStore::SqliteKeyValueStore(std::filesystem::path file, Log& log,
                                         SqliteKeyValueStoreOptions options)
    : file_(std::move(file)), log_(log) {
    OpenError error;
    database_ = openDatabase(file_.string(), options, error);
    if (database_) {
        return;
    }
    std::string what = "Unable to open key-value store " + file_.string() + ": " + error.message;
    if (present(file_) && !blamesEnvironment(error.code)) {
        std::string moveError;
        if (auto moved = moveAside(file_, moveError)) {
            log_.line(what + "; moved aside to " + moved->string());
            database_ = openDatabase(file_.string(), options, error);
            if (database_) {
                return;
            }
            log_.line("Unable to create key-value store " + file_.string() + ": " + error.message +
                      "; keeping it in memory");
        } else {
            log_.line(what + "; could not move it aside (" + moveError + "); keeping it in memory");
        }
    } else {
        log_.line(what + "; keeping it in memory");
    }
    inMemory_ = true;
    database_ = openDatabase(":memory:", options, error);
    if (!database_) {
        log_.line("Unable to create an in-memory key-value store for " + file_.string() + ": " +
                  error.message + "; nothing will be kept");
    }
}

SqliteKeyValueStore::~SqliteKeyValueStore() = default;

std::optional<StoredValue> SqliteKeyValueStore::find(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (!database_) {
        return std::nullopt;
    }
    sqlite3_stmt* statement = database_->select.get();
    StatementUse use{statement};
    bindText(statement, 1, key);
    int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) {
        return std::nullopt;
    }
    if (rc != SQLITE_ROW) {
        log_.line("Unable to read key-value store " + file_.string() + ": " +
                  sqlite3_errmsg(database_->connection.get()));
        return std::nullopt;
    }
    auto tag = columnText(statement, 0);
    if (tag == doubleTag) {
        // SQLite turns NaN into NULL on the way in.
        if (sqlite3_column_type(statement, 1) == SQLITE_NULL) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return sqlite3_column_double(statement, 1);
    }
    if (tag == boolTag) {
        return sqlite3_column_int64(statement, 1) != 0;
    }
    if (tag == stringsTag) {
        if (auto list = store_detail::decodeStringList(columnText(statement, 1))) {
            return std::move(*list);
        }
    } else if (tag == dataTag) {
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, 1));
        auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, 1));
        return bytes == nullptr ? Data{} : Data(bytes, bytes + size);
    }
    log_.line("Unable to read key-value store " + file_.string() + ": key \"" + std::string(key) +
              "\" holds an unreadable value of type \"" + tag + "\"");
    return std::nullopt;
}

void SqliteKeyValueStore::put(std::string_view key, const StoredValue& value) {
    std::lock_guard lock(mutex_);
    if (!database_) {
        return;
    }
    sqlite3_stmt* statement = database_->upsert.get();
    StatementUse use{statement};
    bindText(statement, 1, key);
    std::string encoded;
    if (const auto* d = std::get_if<double>(&value)) {
        bindText(statement, 2, doubleTag);
        sqlite3_bind_double(statement, 3, *d);
    } else if (const auto* b = std::get_if<bool>(&value)) {
        bindText(statement, 2, boolTag);
        sqlite3_bind_int(statement, 3, *b ? 1 : 0);
    } else if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        bindText(statement, 2, stringsTag);
        encoded = store_detail::encodeStringList(*list);
        bindText(statement, 3, encoded);
    } else if (const auto* data = std::get_if<Data>(&value)) {
        bindText(statement, 2, dataTag);
        if (data->empty()) {
            sqlite3_bind_zeroblob(statement, 3, 0);
        } else {
            sqlite3_bind_blob64(statement, 3, data->data(), data->size(), SQLITE_STATIC);
        }
    }
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE) {
        log_.line("Unable to write key-value store " + file_.string() + ": " +
                  sqlite3_errmsg(database_->connection.get()));
    }
}

std::optional<double> SqliteKeyValueStore::doubleForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asDouble(*value) : std::nullopt;
}

void SqliteKeyValueStore::setDouble(std::string_view key, double value) {
    put(key, value);
}

std::optional<bool> SqliteKeyValueStore::boolForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asBool(*value) : std::nullopt;
}

void SqliteKeyValueStore::setBool(std::string_view key, bool value) {
    put(key, value);
}

std::optional<std::vector<std::string>>
SqliteKeyValueStore::stringListForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asStringList(*value) : std::nullopt;
}

void SqliteKeyValueStore::setStringList(std::string_view key,
                                        const std::vector<std::string>& value) {
    put(key, value);
}

std::optional<Data> SqliteKeyValueStore::dataForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asData(*value) : std::nullopt;
}

void SqliteKeyValueStore::setData(std::string_view key, const Data& value) {
    put(key, value);
}

void SqliteKeyValueStore::removeObject(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (!database_) {
        return;
    }
    sqlite3_stmt* statement = database_->erase.get();
    StatementUse use{statement};
    bindText(statement, 1, key);
    int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE) {
        log_.line("Unable to write key-value store " + file_.string() + ": " +
                  sqlite3_errmsg(database_->connection.get()));
    }
}

namespace {

std::string fileSafeName(std::string_view name) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        }
    }
    // File names stop at 255 bytes; a hash of the whole name keeps shortened ones distinct.
    constexpr std::size_t longest = 200;
    if (out.size() > longest) {
        std::uint64_t hash = 14695981039346656037ull;
        for (char c : name) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        char digest[17];
        std::snprintf(digest, sizeof digest, "%016llx", static_cast<unsigned long long>(hash));
        out.resize(longest - 17);
        out += '~';
        out += digest;
    }
    return out;
}

} // namespace

SqliteKeyValueStores::SqliteKeyValueStores(const std::filesystem::path& dataDirectory, Log& log,
                                           SqliteKeyValueStoreOptions options)
    : directory_(dataDirectory / "defaults"), log_(log), options_(options) {
    std::error_code ec;
    fs::create_directories(directory_, ec);
    if (ec) {
        log_.line("Unable to create key-value store directory " + directory_.string() + ": " +
                  ec.message());
    }
}

std::filesystem::path SqliteKeyValueStores::standardFile() const {
    return directory_ / "standard.sqlite";
}

std::filesystem::path SqliteKeyValueStores::suiteFile(std::string_view name) const {
    return directory_ / ("suite." + fileSafeName(name) + ".sqlite");
}

KeyValueStore& SqliteKeyValueStores::standard() {
    std::lock_guard lock(mutex_);
    if (!standard_) {
        standard_ = std::make_unique<SqliteKeyValueStore>(standardFile(), log_, options_);
    }
    return *standard_;
}

KeyValueStore& SqliteKeyValueStores::suite(std::string_view name) {
    std::lock_guard lock(mutex_);
    auto it = suites_.find(name);
    if (it == suites_.end()) {
        auto store = std::make_unique<SqliteKeyValueStore>(suiteFile(name), log_, options_);
        it = suites_.emplace(std::string(name), std::move(store)).first;
    }
    return *it->second;
}

} // namespace platform
