#pragma once

#include "platform/log/log.hpp"
#include "platform/store/key_value_store.hpp"
#include "platform/store/stored_value.hpp"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace store_detail {
struct SqliteDatabase;
}

struct SqliteKeyValueStoreOptions {
    // How long a call waits for another connection's lock before it fails.
    std::chrono::milliseconds busyTimeout{5000};
};

// One SQLite file per store. A set call returns only once the write is durable (WAL journal,
// synchronous=FULL). A file that cannot be opened or read is renamed to
// "<file>.unreadable-<YYYYMMDDTHHMMSSZ>" (with its -wal, -shm and -journal files) and replaced by
// an empty one; if that fails too the store lives in memory. Failures are logged, never thrown.
// The log must outlive the store.
class SqliteKeyValueStore final : public KeyValueStore {
public:
    SqliteKeyValueStore(std::filesystem::path file, Log& log,
                        SqliteKeyValueStoreOptions options = {});
    ~SqliteKeyValueStore() override;
    SqliteKeyValueStore(const SqliteKeyValueStore&) = delete;
    SqliteKeyValueStore& operator=(const SqliteKeyValueStore&) = delete;

    const std::filesystem::path& file() const { return file_; }
    // True when the file could not be used, so nothing written will outlive this object.
    bool inMemory() const { return inMemory_; }

    std::optional<double> doubleForKey(std::string_view key) const override;
    void setDouble(std::string_view key, double value) override;
    std::optional<bool> boolForKey(std::string_view key) const override;
    void setBool(std::string_view key, bool value) override;
    std::optional<std::vector<std::string>> stringListForKey(std::string_view key) const override;
    void setStringList(std::string_view key, const std::vector<std::string>& value) override;
    std::optional<Data> dataForKey(std::string_view key) const override;
    void setData(std::string_view key, const Data& value) override;
    void removeObject(std::string_view key) override;

private:
    std::optional<store_detail::StoredValue> find(std::string_view key) const;
    void put(std::string_view key, const store_detail::StoredValue& value);

    mutable std::mutex mutex_;
    std::filesystem::path file_;
    Log& log_;
    std::unique_ptr<store_detail::SqliteDatabase> database_;
    bool inMemory_ = false;
};

// Files under <dataDirectory>/defaults/: standard.sqlite and suite.<name>.sqlite, where bytes
// of the name outside [A-Za-z0-9._-] are written as %XX so that distinct names never share a
// file, and very long names are shortened with a hash.
class SqliteKeyValueStores final : public KeyValueStores {
public:
    SqliteKeyValueStores(const std::filesystem::path& dataDirectory, Log& log,
                         SqliteKeyValueStoreOptions options = {});

    KeyValueStore& standard() override;
    KeyValueStore& suite(std::string_view name) override;

    const std::filesystem::path& directory() const { return directory_; }
    std::filesystem::path standardFile() const;
    std::filesystem::path suiteFile(std::string_view name) const;

private:
    std::mutex mutex_;
    std::filesystem::path directory_;
    Log& log_;
    SqliteKeyValueStoreOptions options_;
    std::unique_ptr<SqliteKeyValueStore> standard_;
    std::map<std::string, std::unique_ptr<SqliteKeyValueStore>, std::less<>> suites_;
};

} // namespace platform
