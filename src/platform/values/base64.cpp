#include "platform/values/base64.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace platform {

namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> makeReverseTable() {
    std::array<int, 256> table{};
    table.fill(-1);
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
    }
    return table;
}

constexpr std::array<int, 256> reverseTable = makeReverseTable();

template <class Buffer> void appendTo(Buffer& out, const Data& bytes) {
    using Unit = typename Buffer::value_type;
    auto put = [&out](char c) { out.push_back(static_cast<Unit>(c)); };
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (count > 1) {
            group |= std::uint32_t{bytes[i + 1]} << 8;
        }
        if (count > 2) {
            group |= std::uint32_t{bytes[i + 2]};
        }
        put(alphabet[(group >> 18) & 63]);
        put(alphabet[(group >> 12) & 63]);
        put(count > 1 ? alphabet[(group >> 6) & 63] : '=');
        put(count > 2 ? alphabet[group & 63] : '=');
    }
}

} // namespace

std::string encodeBase64(const Data& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    appendTo(out, bytes);
    return out;
}

void appendBase64(std::string& out, const Data& bytes) {
    appendTo(out, bytes);
}

void appendBase64(Data& out, const Data& bytes) {
    appendTo(out, bytes);
}

std::optional<Data> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    Data out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const std::size_t padding = (text[i + 3] == '=' ? 1 : 0) + (text[i + 2] == '=' ? 1 : 0);
        if (padding > 0 && (!last || (padding == 1 && text[i + 2] == '='))) {
            return std::nullopt;
        }
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4 - padding; ++j) {
            const int sextet = reverseTable[static_cast<unsigned char>(text[i + j])];
            if (sextet < 0) {
                return std::nullopt;
            }
            group |= static_cast<std::uint32_t>(sextet) << (18 - 6 * j);
        }
        // Bits below the last whole byte must be zero, or two texts would mean the same bytes.
        const std::uint32_t unusedMask = padding == 2 ? 0xFFFFu : padding == 1 ? 0xFFu : 0u;
        if ((group & unusedMask) != 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<std::uint8_t>((group >> 8) & 0xFF));
        }
        if (padding < 1) {
            out.push_back(static_cast<std::uint8_t>(group & 0xFF));
        }
    }
    return out;
}

} // namespace platform
