#include "platform/store/memory_key_value_store.hpp"

namespace platform {

using store_detail::StoredValue;

std::optional<StoredValue> MemoryKeyValueStore::find(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void MemoryKeyValueStore::put(std::string_view key, StoredValue value) {
    std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
}

std::optional<double> MemoryKeyValueStore::doubleForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asDouble(*value) : std::nullopt;
}

void MemoryKeyValueStore::setDouble(std::string_view key, double value) {
    put(key, value);
}

std::optional<bool> MemoryKeyValueStore::boolForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asBool(*value) : std::nullopt;
}

void MemoryKeyValueStore::setBool(std::string_view key, bool value) {
    put(key, value);
}

std::optional<std::vector<std::string>>
MemoryKeyValueStore::stringListForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asStringList(*value) : std::nullopt;
}

void MemoryKeyValueStore::setStringList(std::string_view key,
                                        const std::vector<std::string>& value) {
    // Through the same encoding as the file store, so both agree on text that is not UTF-8.
    auto list = store_detail::decodeStringList(store_detail::encodeStringList(value));
    put(key, list.value_or(std::vector<std::string>{}));
}

std::optional<Data> MemoryKeyValueStore::dataForKey(std::string_view key) const {
    auto value = find(key);
    return value ? store_detail::asData(*value) : std::nullopt;
}

void MemoryKeyValueStore::setData(std::string_view key, const Data& value) {
    put(key, value);
}

void MemoryKeyValueStore::removeObject(std::string_view key) {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it != values_.end()) {
        values_.erase(it);
    }
}

KeyValueStore& MemoryKeyValueStores::standard() {
    return standard_;
}

KeyValueStore& MemoryKeyValueStores::suite(std::string_view name) {
    std::lock_guard lock(mutex_);
    auto it = suites_.find(name);
    if (it == suites_.end()) {
        it = suites_.emplace(std::string(name), std::make_unique<MemoryKeyValueStore>()).first;
    }
    return *it->second;
}

} // namespace platform
