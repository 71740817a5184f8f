#pragma once

#include "platform/values/value.hpp"

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace bplist_test {

using platform::Data;
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
        const auto& y = *b.array();
        if (x->size() != y.size()) {
            return false;
        }
        for (std::size_t i = 0; i < x->size(); ++i) {
            if (!identical((*x)[i], y[i])) {
                return false;
            }
        }
        return true;
    }
    if (const auto* x = a.dictionary()) {
        const auto& y = *b.dictionary();
        if (x->size() != y.size()) {
            return false;
        }
        for (auto i = x->begin(), j = y.begin(); i != x->end(); ++i, ++j) {
            if (i->first != j->first || !identical(i->second, j->second)) {
                return false;
            }
        }
        return true;
    }
    return a == b;
}

// Assembles a document object by object, so tests can state exactly which bytes a decoder sees,
// including layouts no sane writer produces.
struct RawPlist {
    std::vector<Data> objects;
    unsigned refWidth = 1;
    unsigned offsetWidth = 1;
    std::uint64_t top = 0;

    std::size_t add(std::initializer_list<std::uint8_t> bytes) {
        objects.emplace_back(bytes);
        return objects.size() - 1;
    }
    std::size_t add(Data bytes) {
        objects.push_back(std::move(bytes));
        return objects.size() - 1;
    }

    Data build() const {
        Data out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<std::uint64_t> offsets;
        for (const auto& object : objects) {
            offsets.push_back(out.size());
            out.insert(out.end(), object.begin(), object.end());
        }
        const std::uint64_t tableOffset = out.size();
        for (auto offset : offsets) {
            putBigEndian(out, offset, offsetWidth);
        }
        out.insert(out.end(), 6, 0);
        out.push_back(static_cast<std::uint8_t>(offsetWidth));
        out.push_back(static_cast<std::uint8_t>(refWidth));
        putBigEndian(out, objects.size(), 8);
        putBigEndian(out, top, 8);
        putBigEndian(out, tableOffset, 8);
        return out;
    }

    static void putBigEndian(Data& out, std::uint64_t v, unsigned width) {
        for (unsigned shift = width * 8; shift > 0;) {
            shift -= 8;
            out.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }
};

// Byte positions of the trailer fields, counted from the end of the document.
enum class TrailerField : std::size_t {
    offsetWidth = 26,
    refWidth = 25,
    objectCount = 24,
    topObject = 16,
    offsetTableOffset = 8,
};

inline void patchTrailer(Data& doc, TrailerField field, std::uint64_t value) {
    const std::size_t at = doc.size() - static_cast<std::size_t>(field);
    if (field == TrailerField::offsetWidth || field == TrailerField::refWidth) {
        doc[at] = static_cast<std::uint8_t>(value);
        return;
    }
    for (std::size_t i = 0; i < 8; ++i) {
        doc[at + i] = static_cast<std::uint8_t>(value >> (8 * (7 - i)));
    }
}

// UTF-8 for the code points, written independently of the codec under test.
inline std::string toUtf8(const std::vector<std::uint32_t>& codePoints) {
    std::string out;
    for (std::uint32_t cp : codePoints) {
        auto put = [&out](std::uint32_t byte) { out += static_cast<char>(byte); };
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | cp >> 6);
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | cp >> 12);
            put(0x80 | (cp >> 6 & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | cp >> 18);
            put(0x80 | (cp >> 12 & 0x3F));
            put(0x80 | (cp >> 6 & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

} // namespace bplist_test
