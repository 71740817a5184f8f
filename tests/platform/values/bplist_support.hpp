#pragma once

#include "platform/values/value.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace bplist_test {

using platform::Value;

// Exact equality in which reals and dates compare by bit pattern, so NaN equals itself and -0.0
// differs from 0.0: what a lossless round trip has to preserve.
inline bool identical(const Value& a, const Value& b) {
    if (a.kind() != b.kind()) {
        return false;
    }
    if (const auto* x = a.real()) {
        return std::bit_cast<std::uint64_t>(*x) == std::bit_cast<std::uint64_t>(*b.real());
    }
    if (const auto* x = a.date()) {
        return std::bit_cast<std::uint64_t>(x->sinceReferenceDate) ==
               std::bit_cast<std::uint64_t>(b.date()->sinceReferenceDate);
    }
    if (const auto* x = a.array()) {
        return std::equal(x->begin(), x->end(), b.array()->begin(), b.array()->end(), identical);
    }
    if (const auto* x = a.dictionary()) {
        return std::equal(x->begin(), x->end(), b.dictionary()->begin(), b.dictionary()->end(),
                          [](const auto& i, const auto& j) {
                              return i.first == j.first && identical(i.second, j.second);
                          });
    }
    return a == b;
}

// UTF-8 for the code points, written independently of the codecs under test.
inline std::string toUtf8(const std::vector<std::uint32_t>& codePoints) {
    std::string out;
    for (std::uint32_t cp : codePoints) {
        const int tail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
        constexpr std::uint32_t lead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(lead[tail] | cp >> (6 * tail));
        for (int i = tail - 1; i >= 0; --i) {
            out += static_cast<char>(0x80 | (cp >> (6 * i) & 0x3F));
        }
    }
    return out;
}

} // namespace bplist_test
