#include "screens/logic/band_color.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace screens {

namespace {

bool isAsciiAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::optional<std::uint32_t> hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint32_t>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<std::uint32_t>(c - 'a' + 10);
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint32_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

double channel(std::uint32_t value, int shift) {
    return static_cast<double>((value >> shift) & 0xFFU) / 255.0;
}

} // namespace

RgbaColor parseBandColor(std::string_view text) {
    std::string digits;
    for (char c : text) {
        // Bytes of other scripts stay, so that such text counts as not a colour.
        if (isAsciiAlphanumeric(c) || static_cast<unsigned char>(c) >= 0x80) {
            digits += c;
        }
    }
    constexpr RgbaColor black{0, 0, 0, 1};
    if (digits.size() != 3 && digits.size() != 6 && digits.size() != 8) {
        return black;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        const auto digit = hexDigit(c);
        if (!digit) {
            return black;
        }
        value = value << 4 | *digit;
    }
    switch (digits.size()) {
    case 3: {
        // One digit per channel, 0xA meaning 0xAA.
        const auto nibble = [&](int shift) {
            return static_cast<double>((value >> shift) & 0xFU) * 17 / 255.0;
        };
        return {nibble(8), nibble(4), nibble(0), 1};
    }
    case 6:
        return {channel(value, 16), channel(value, 8), channel(value, 0), 1};
    default:
        return {channel(value, 16), channel(value, 8), channel(value, 0), channel(value, 24)};
    }
}

} // namespace screens
