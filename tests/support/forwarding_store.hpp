#pragma once

#include "platform/store/key_value_store.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Hands every call to another store; a test overrides the calls it wants to watch or to lose.
class ForwardingStore : public platform::KeyValueStore {
public:
    explicit ForwardingStore(platform::KeyValueStore& inner) : inner_(inner) {}

    std::optional<double> doubleForKey(std::string_view key) const override {
        return inner_.doubleForKey(key);
    }
    void setDouble(std::string_view key, double value) override { inner_.setDouble(key, value); }
    std::optional<bool> boolForKey(std::string_view key) const override {
        return inner_.boolForKey(key);
    }
    void setBool(std::string_view key, bool value) override { inner_.setBool(key, value); }
    std::optional<std::vector<std::string>> stringListForKey(std::string_view key) const override {
        return inner_.stringListForKey(key);
    }
    void setStringList(std::string_view key, const std::vector<std::string>& value) override {
        inner_.setStringList(key, value);
    }
    std::optional<platform::Data> dataForKey(std::string_view key) const override {
        return inner_.dataForKey(key);
    }
    void setData(std::string_view key, const platform::Data& value) override {
        inner_.setData(key, value);
    }
    void removeObject(std::string_view key) override { inner_.removeObject(key); }

protected:
    platform::KeyValueStore& inner_;
};

} // namespace testsupport
