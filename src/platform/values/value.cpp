#include "platform/values/value.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace platform {

const Value* Value::find(std::string_view key) const {
    const auto* dict = dictionary();
    if (dict == nullptr) {
        return nullptr;
    }
    auto it = dict->find(key);
    return it == dict->end() ? nullptr : &it->second;
}

std::string_view kindName(ValueKind kind) {
    switch (kind) {
    case ValueKind::null:
        return "null";
    case ValueKind::boolean:
        return "boolean";
    case ValueKind::integer:
        return "integer";
    case ValueKind::real:
        return "real";
    case ValueKind::string:
        return "string";
    case ValueKind::date:
        return "date";
    case ValueKind::data:
        return "data";
    case ValueKind::array:
        return "array";
    case ValueKind::dictionary:
        return "dictionary";
    }
    return "unknown";
}

namespace {

void appendQuoted(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendReal(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out += std::isnan(d) ? "nan" : (d > 0 ? "inf" : "-inf");
        return;
    }
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    std::string_view text(buf, static_cast<std::size_t>(end - buf));
    out += text;
    if (text.find_first_of(".e") == std::string_view::npos) {
        out += ".0";
    }
}

void appendDate(std::string& out, Date date) {
    double seconds = date.unixSeconds();
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) {
        out += "date(";
        appendReal(out, date.sinceReferenceDate);
        out += ")";
        return;
    }
    auto whole = static_cast<std::time_t>(std::floor(seconds));
    std::tm tm{};
    gmtime_r(&whole, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    out += "date(";
    out += buf;
    double fraction = seconds - std::floor(seconds);
    if (fraction != 0) {
        char frac[32];
        std::snprintf(frac, sizeof frac, "%.6f", fraction);
        out += frac + 1; // skip the leading 0
    }
    out += "Z)";
}

void append(std::string& out, const Value& value) {
    std::visit(
        [&out](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Null>) {
                out += "null";
            } else if constexpr (std::is_same_v<T, bool>) {
                out += v ? "true" : "false";
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                out += std::to_string(v);
            } else if constexpr (std::is_same_v<T, double>) {
                appendReal(out, v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                appendQuoted(out, v);
            } else if constexpr (std::is_same_v<T, Date>) {
                appendDate(out, v);
            } else if constexpr (std::is_same_v<T, Data>) {
                static constexpr char hex[] = "0123456789abcdef";
                out += "<";
                for (auto byte : v) {
                    out += hex[byte >> 4];
                    out += hex[byte & 0xf];
                }
                out += ">";
            } else if constexpr (std::is_same_v<T, Array>) {
                out += "[";
                bool first = true;
                for (const auto& element : v) {
                    if (!first) {
                        out += ", ";
                    }
                    first = false;
                    append(out, element);
                }
                out += "]";
            } else if constexpr (std::is_same_v<T, Dictionary>) {
                out += "{";
                bool first = true;
                for (const auto& [key, element] : v) {
                    if (!first) {
                        out += ", ";
                    }
                    first = false;
                    appendQuoted(out, key);
                    out += ": ";
                    append(out, element);
                }
                out += "}";
            }
        },
        value.storage());
}

} // namespace

std::string describe(const Value& value) {
    std::string out;
    append(out, value);
    return out;
}

std::ostream& operator<<(std::ostream& out, const Value& value) {
    return out << describe(value);
}

void PrintTo(const Value& value, std::ostream* out) {
    *out << describe(value);
}

} // namespace platform
