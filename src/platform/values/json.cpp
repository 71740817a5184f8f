#include "platform/values/json.hpp"

#include "platform/values/base64.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace platform {

namespace {

// Builds the Value straight from parser events: no intermediate document, and the depth check
// stops hostile nesting before anything recursive sees it.
class ValueBuilder {
public:
    using json = nlohmann::json;

    bool null() { return add(Value(Null{})); }
    bool boolean(bool value) { return add(Value(value)); }
    bool number_integer(json::number_integer_t value) { return add(Value(value)); }
    bool number_unsigned(json::number_unsigned_t value) {
        if (value >
            static_cast<json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max())) {
            return add(Value(static_cast<double>(value)));
        }
        return add(Value(static_cast<std::int64_t>(value)));
    }
    bool number_float(json::number_float_t value, const json::string_t&) {
        return add(Value(value));
    }
    bool string(json::string_t& value) { return add(Value(std::move(value))); }
    bool binary(json::binary_t& value) { return add(Value(Data(value.begin(), value.end()))); }
    bool start_object(std::size_t) { return open(Value(Dictionary{})); }
    bool key(json::string_t& value) {
        keys_.push_back(std::move(value));
        return true;
    }
    bool end_object() { return close(); }
    bool start_array(std::size_t) { return open(Value(Array{})); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    std::optional<Value> take() { return std::move(root_); }

private:
    bool open(Value container) {
        if (open_.size() >= maxJsonDepth) {
            return false;
        }
        open_.push_back(std::move(container));
        return true;
    }

    bool close() {
        Value finished = std::move(open_.back());
        open_.pop_back();
        return add(std::move(finished));
    }

    bool add(Value value) {
        if (open_.empty()) {
            root_ = std::move(value);
            return true;
        }
        Value& parent = open_.back();
        if (auto* array = parent.get<Array>()) {
            array->push_back(std::move(value));
        } else {
            // A repeated key keeps its last value, as nlohmann's own document does.
            parent.get<Dictionary>()->insert_or_assign(std::move(keys_.back()), std::move(value));
            keys_.pop_back();
        }
        return true;
    }

    std::vector<Value> open_;
    std::vector<std::string> keys_;
    std::optional<Value> root_;
};

nlohmann::json dateJson(Date date) {
    double millis = std::round(date.unixMillis());
    if (!std::isfinite(millis)) {
        return nullptr;
    }
    // 2^63 itself is out of range for int64, so the bound is exclusive.
    constexpr double limit = 9223372036854775808.0;
    if (millis >= limit || millis < -limit) {
        return millis;
    }
    return static_cast<std::int64_t>(millis);
}

} // namespace

std::optional<Value> parseJson(std::string_view text) {
    ValueBuilder builder;
    try {
        if (!nlohmann::json::sax_parse(text.begin(), text.end(), &builder)) {
            return std::nullopt;
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return builder.take();
}

Value fromJson(const nlohmann::json& json) {
    using Type = nlohmann::json::value_t;
    switch (json.type()) {
    case Type::null:
    case Type::discarded:
        return Null{};
    case Type::boolean:
        return json.get<bool>();
    case Type::number_integer:
        return json.get<std::int64_t>();
    case Type::number_unsigned: {
        auto value = json.get<std::uint64_t>();
        if (value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<double>(value);
        }
        return static_cast<std::int64_t>(value);
    }
    case Type::number_float:
        return json.get<double>();
    case Type::string:
        return json.get_ref<const std::string&>();
    case Type::binary: {
        const auto& binary = json.get_binary();
        return Data(binary.begin(), binary.end());
    }
    case Type::array: {
        Array array;
        array.reserve(json.size());
        for (const auto& element : json) {
            array.push_back(fromJson(element));
        }
        return array;
    }
    case Type::object: {
        Dictionary dictionary;
        for (const auto& [key, element] : json.items()) {
            dictionary.emplace(key, fromJson(element));
        }
        return dictionary;
    }
    }
    return Null{};
}

nlohmann::json toJson(const Value& value) {
    return std::visit(
        [](const auto& v) -> nlohmann::json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Null>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, double>) {
                if (!std::isfinite(v)) {
                    return nullptr;
                }
                return v;
            } else if constexpr (std::is_same_v<T, Date>) {
                return dateJson(v);
            } else if constexpr (std::is_same_v<T, Data>) {
                return encodeBase64(v);
            } else if constexpr (std::is_same_v<T, Array>) {
                auto array = nlohmann::json::array();
                for (const auto& element : v) {
                    array.push_back(toJson(element));
                }
                return array;
            } else if constexpr (std::is_same_v<T, Dictionary>) {
                auto object = nlohmann::json::object();
                for (const auto& [key, element] : v) {
                    object[key] = toJson(element);
                }
                return object;
            } else {
                return v;
            }
        },
        value.storage());
}

std::string toJsonText(const Value& value) {
    return toJson(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace platform
