#pragma once

#include "platform/store/key_value_store.hpp"

#include <functional>
#include <map>
#include <string>
#include <variant>

namespace testsupport {

// An in-memory store whose whole content can be copied out and put back, so that a simulation
// can roll a program back to the moment of a crash. A hook sees every write after it is made.
class SnapshotStore final : public platform::KeyValueStore {
public:
    using Stored = std::variant<double, bool, std::vector<std::string>, platform::Data>;
    using Content = std::map<std::string, Stored, std::less<>>;

    Content content() const { return content_; }
    void restore(Content content) { content_ = std::move(content); }
    void onWrite(std::function<void(std::string_view key)> hook) { hook_ = std::move(hook); }

    // Bools and doubles of 0 or 1 read as each other, as in the other stores.
    std::optional<double> doubleForKey(std::string_view key) const override {
        if (auto b = get<bool>(key)) {
            return *b ? 1.0 : 0.0;
        }
        return get<double>(key);
    }
    void setDouble(std::string_view key, double value) override { put(key, value); }
    std::optional<bool> boolForKey(std::string_view key) const override {
        if (auto d = get<double>(key); d && (*d == 0 || *d == 1)) {
            return *d == 1;
        }
        return get<bool>(key);
    }
    void setBool(std::string_view key, bool value) override { put(key, value); }
    std::optional<std::vector<std::string>> stringListForKey(std::string_view key) const override {
        return get<std::vector<std::string>>(key);
    }
    void setStringList(std::string_view key, const std::vector<std::string>& value) override {
        put(key, value);
    }
    std::optional<platform::Data> dataForKey(std::string_view key) const override {
        return get<platform::Data>(key);
    }
    void setData(std::string_view key, const platform::Data& value) override { put(key, value); }
    void removeObject(std::string_view key) override {
        if (auto it = content_.find(key); it != content_.end()) {
            content_.erase(it);
        }
        if (hook_) {
            hook_(key);
        }
    }

private:
    template <class T> std::optional<T> get(std::string_view key) const {
        auto it = content_.find(key);
        const auto* value = it != content_.end() ? std::get_if<T>(&it->second) : nullptr;
        return value != nullptr ? std::optional<T>(*value) : std::nullopt;
    }
    void put(std::string_view key, Stored value) {
        content_.insert_or_assign(std::string(key), std::move(value));
        if (hook_) {
            hook_(key);
        }
    }

    Content content_;
    std::function<void(std::string_view)> hook_;
};

} // namespace testsupport
