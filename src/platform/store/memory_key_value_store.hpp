#pragma once

#include "platform/store/key_value_store.hpp"
#include "platform/store/stored_value.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace platform {

// Keeps everything in memory, with the same conversions as the file-backed store.
class MemoryKeyValueStore final : public KeyValueStore {
public:
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
    void put(std::string_view key, store_detail::StoredValue value);

    mutable std::mutex mutex_;
    std::map<std::string, store_detail::StoredValue, std::less<>> values_;
};

class MemoryKeyValueStores final : public KeyValueStores {
public:
    KeyValueStore& standard() override;
    KeyValueStore& suite(std::string_view name) override;

private:
    std::mutex mutex_;
    MemoryKeyValueStore standard_;
    std::map<std::string, std::unique_ptr<MemoryKeyValueStore>, std::less<>> suites_;
};

} // namespace platform
