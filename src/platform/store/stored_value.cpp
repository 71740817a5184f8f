#include "platform/store/stored_value.hpp"

#include <nlohmann/json.hpp>

namespace platform::store_detail {

std::optional<double> asDouble(const StoredValue& value) {
    if (const auto* d = std::get_if<double>(&value)) {
        return *d;
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        return *b ? 1.0 : 0.0;
    }
    return std::nullopt;
}

std::optional<bool> asBool(const StoredValue& value) {
    if (const auto* b = std::get_if<bool>(&value)) {
        return *b;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        if (*d == 0.0) {
            return false;
        }
        if (*d == 1.0) {
            return true;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> asStringList(const StoredValue& value) {
    if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        return *list;
    }
    return std::nullopt;
}

std::optional<Data> asData(const StoredValue& value) {
    if (const auto* data = std::get_if<Data>(&value)) {
        return *data;
    }
    return std::nullopt;
}

std::string encodeStringList(const std::vector<std::string>& list) {
    return nlohmann::json(list).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::vector<std::string>> decodeStringList(std::string_view text) {
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_array()) {
        return std::nullopt;
    }
    std::vector<std::string> list;
    list.reserve(json.size());
    for (const auto& element : json) {
        if (!element.is_string()) {
            return std::nullopt;
        }
        list.push_back(element.get<std::string>());
    }
    return list;
}

} // namespace platform::store_detail
