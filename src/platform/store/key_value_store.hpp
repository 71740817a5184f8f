#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Small typed settings under string keys, like the platform's user defaults. A missing key reads
// as nothing. Cross-type reads: a Boolean reads as the double 0 or 1, a double that is exactly 0
// or 1 reads as a Boolean; any other read of the wrong type gives nothing. Strings are UTF-8
// text: invalid sequences read back as U+FFFD. Calls may come from any thread.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;

    virtual std::optional<double> doubleForKey(std::string_view key) const = 0;
    virtual void setDouble(std::string_view key, double value) = 0;

    virtual std::optional<bool> boolForKey(std::string_view key) const = 0;
    virtual void setBool(std::string_view key, bool value) = 0;

    virtual std::optional<std::vector<std::string>>
    stringListForKey(std::string_view key) const = 0;
    virtual void setStringList(std::string_view key, const std::vector<std::string>& value) = 0;

    virtual std::optional<Data> dataForKey(std::string_view key) const = 0;
    virtual void setData(std::string_view key, const Data& value) = 0;

    virtual void removeObject(std::string_view key) = 0;
};

// The standard store and named suites. The same name gives the same store for the provider's
// life; the standard store is distinct from every suite.
class KeyValueStores {
public:
    virtual ~KeyValueStores() = default;

    virtual KeyValueStore& standard() = 0;
    virtual KeyValueStore& suite(std::string_view name) = 0;
};

} // namespace platform
