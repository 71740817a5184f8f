#pragma once

#include "platform/values/value.hpp"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

// Strict readers of the watch's dictionaries: a field of another type counts as absent.
namespace phone {

inline const std::string* stringAt(const platform::Dictionary& dictionary, std::string_view key) {
    auto found = dictionary.find(key);
    return found != dictionary.end() ? found->second.string() : nullptr;
}

// An integer or a finite real.
inline std::optional<double> numberAt(const platform::Dictionary& dictionary,
                                      std::string_view key) {
    auto found = dictionary.find(key);
    if (found == dictionary.end()) {
        return std::nullopt;
    }
    if (const auto* real = found->second.real(); real != nullptr && std::isfinite(*real)) {
        return *real;
    }
    if (const auto* integer = found->second.integer()) {
        return static_cast<double>(*integer);
    }
    return std::nullopt;
}

// True only for a Boolean true.
inline bool flagAt(const platform::Dictionary& dictionary, std::string_view key) {
    auto found = dictionary.find(key);
    return found != dictionary.end() && found->second.boolean() != nullptr &&
           *found->second.boolean();
}

} // namespace phone
