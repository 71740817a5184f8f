#include "platform/values/bplist.hpp"

#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace platform {

namespace {

constexpr std::uint8_t magic[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr std::size_t headerSize = sizeof magic;
constexpr std::size_t trailerSize = 32;

// Strings up to this length are written once and shared by reference. Longer ones are written
// each time they occur: sharing them could let a document expand past the decoder's budget.
constexpr std::size_t maxSharedStringLength = 64;

// Decodes one code point at s[i], advancing i; false for anything that is not well-formed UTF-8
// (overlong forms, surrogates and values past U+10FFFF included).
bool nextCodePoint(std::string_view s, std::size_t& i, std::uint32_t& codePoint) {
    const auto lead = static_cast<std::uint8_t>(s[i]);
    if (lead < 0x80) {
        codePoint = lead;
        ++i;
        return true;
    }
    std::size_t length = 0;
    std::uint32_t cp = 0;
    std::uint32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1Fu;
        smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0Fu;
        smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return false;
    }
    if (s.size() - i < length) {
        return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(s[i + k]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (next & 0x3Fu);
    }
    if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
    }
    codePoint = cp;
    i += length;
    return true;
}

bool isAscii(const std::uint8_t* p, std::size_t n) {
    // An OR over the whole run vectorises; an early exit would not.
    std::uint8_t seen = 0;
    for (std::size_t i = 0; i < n; ++i) {
        seen |= p[i];
    }
    return (seen & 0x80) == 0;
}

bool isAscii(std::string_view s) {
    return isAscii(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

bool isValidUtf8(std::string_view s) {
    if (isAscii(s)) {
        return true;
    }
    std::uint32_t cp = 0;
    for (std::size_t i = 0; i < s.size();) {
        if (!nextCodePoint(s, i, cp)) {
            return false;
        }
    }
    return true;
}

bool representable(const Value& value, std::size_t depth) {
    switch (value.kind()) {
    case ValueKind::null:
        return false;
    case ValueKind::string:
        return isValidUtf8(*value.string());
    case ValueKind::array:
        if (depth >= binaryPlistMaxDepth) {
            return false;
        }
        for (const auto& element : *value.array()) {
            if (!representable(element, depth + 1)) {
                return false;
            }
        }
        return true;
    case ValueKind::dictionary:
        if (depth >= binaryPlistMaxDepth) {
            return false;
        }
        for (const auto& [key, element] : *value.dictionary()) {
            if (!isValidUtf8(key) || !representable(element, depth + 1)) {
                return false;
            }
        }
        return true;
    default:
        return true;
    }
}

// The width, among the 1/2/4/8 that every reader handles, that holds n.
unsigned widthFor(std::uint64_t n) {
    if (n <= 0xFF) {
        return 1;
    }
    if (n <= 0xFFFF) {
        return 2;
    }
    if (n <= 0xFFFFFFFF) {
        return 4;
    }
    return 8;
}

unsigned log2Width(unsigned width) {
    return static_cast<unsigned>(std::countr_zero(width));
}

class Encoder {
public:
    bool flatten(const Value& value, std::size_t depth, std::uint64_t& index) {
        switch (value.kind()) {
        case ValueKind::null:
            return false;
        case ValueKind::string:
            return addString(*value.string(), index);
        case ValueKind::array: {
            if (depth >= binaryPlistMaxDepth) {
                return false;
            }
            const auto& array = *value.array();
            index = objects_.size();
            const std::size_t first = refs_.size();
            objects_.push_back({&value, nullptr, first});
            refs_.resize(first + array.size());
            for (std::size_t i = 0; i < array.size(); ++i) {
                if (!flatten(array[i], depth + 1, refs_[first + i])) {
                    return false;
                }
            }
            return true;
        }
        case ValueKind::dictionary: {
            if (depth >= binaryPlistMaxDepth) {
                return false;
            }
            const auto& dict = *value.dictionary();
            index = objects_.size();
            const std::size_t first = refs_.size();
            objects_.push_back({&value, nullptr, first});
            refs_.resize(first + 2 * dict.size());
            // Keys first, then values: the layout other writers use, so documents diff cleanly.
            std::size_t slot = first;
            for (const auto& entry : dict) {
                if (!addString(entry.first, refs_[slot++])) {
                    return false;
                }
            }
            for (const auto& entry : dict) {
                if (!flatten(entry.second, depth + 1, refs_[slot++])) {
                    return false;
                }
            }
            return true;
        }
        default:
            index = objects_.size();
            objects_.push_back({&value, nullptr, 0});
            return true;
        }
    }

    Data write(std::uint64_t top) {
        const std::uint64_t count = objects_.size();
        refWidth_ = widthFor(count);
        std::vector<std::uint64_t> offsets(count);
        out_.assign(std::begin(magic), std::end(magic));
        for (std::size_t i = 0; i < count; ++i) {
            offsets[i] = out_.size();
            writeObject(objects_[i]);
        }
        const std::uint64_t tableOffset = out_.size();
        const unsigned offsetWidth = widthFor(tableOffset);
        out_.reserve(out_.size() + count * offsetWidth + trailerSize);
        for (auto offset : offsets) {
            putUInt(offset, offsetWidth);
        }
        out_.insert(out_.end(), 6, 0); // unused bytes and the sort version
        out_.push_back(static_cast<std::uint8_t>(offsetWidth));
        out_.push_back(static_cast<std::uint8_t>(refWidth_));
        putUInt(count, 8);
        putUInt(top, 8);
        putUInt(tableOffset, 8);
        return std::move(out_);
    }

private:
    struct Object {
        const Value* value; // null for a dictionary key
        const std::string* key;
        std::size_t firstRef;
    };

    bool addString(const std::string& text, std::uint64_t& index) {
        const bool shared = text.size() <= maxSharedStringLength;
        if (shared) {
            if (auto it = strings_.find(text); it != strings_.end()) {
                index = it->second;
                return true;
            }
        }
        if (!isValidUtf8(text)) {
            return false;
        }
        index = objects_.size();
        objects_.push_back({nullptr, &text, 0});
        if (shared) {
            strings_.emplace(text, index);
        }
        return true;
    }

    void putUInt(std::uint64_t v, unsigned width) {
        for (unsigned shift = width * 8; shift > 0;) {
            shift -= 8;
            out_.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    }

    void putMarker(std::uint8_t type, std::uint64_t length) {
        if (length < 15) {
            out_.push_back(static_cast<std::uint8_t>(type | length));
            return;
        }
        const unsigned width = widthFor(length);
        out_.push_back(static_cast<std::uint8_t>(type | 0x0F));
        out_.push_back(static_cast<std::uint8_t>(0x10 | log2Width(width)));
        putUInt(length, width);
    }

    void putInteger(std::int64_t v) {
        // Negative numbers always take eight bytes: narrower integers are read as unsigned.
        const unsigned width = v < 0 ? 8 : widthFor(static_cast<std::uint64_t>(v));
        out_.push_back(static_cast<std::uint8_t>(0x10 | log2Width(width)));
        putUInt(static_cast<std::uint64_t>(v), width);
    }

    void putString(std::string_view s) {
        if (isAscii(s)) {
            putMarker(0x50, s.size());
            out_.insert(out_.end(), s.begin(), s.end());
            return;
        }
        std::size_t units = 0;
        std::uint32_t cp = 0;
        for (std::size_t i = 0; i < s.size();) {
            nextCodePoint(s, i, cp); // validated when flattened
            units += cp >= 0x10000 ? 2 : 1;
        }
        putMarker(0x60, units);
        for (std::size_t i = 0; i < s.size();) {
            nextCodePoint(s, i, cp);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                putUInt(0xD800 + (cp >> 10), 2);
                putUInt(0xDC00 + (cp & 0x3FF), 2);
            } else {
                putUInt(cp, 2);
            }
        }
    }

    void putRefs(std::size_t first, std::size_t n) {
        for (std::size_t i = first; i < first + n; ++i) {
            putUInt(refs_[i], refWidth_);
        }
    }

    void writeObject(const Object& object) {
        if (object.key != nullptr) {
            putString(*object.key);
            return;
        }
        const Value& value = *object.value;
        switch (value.kind()) {
        case ValueKind::boolean:
            out_.push_back(*value.boolean() ? 0x09 : 0x08);
            break;
        case ValueKind::integer:
            putInteger(*value.integer());
            break;
        case ValueKind::real:
            out_.push_back(0x23);
            putUInt(std::bit_cast<std::uint64_t>(*value.real()), 8);
            break;
        case ValueKind::date:
            out_.push_back(0x33);
            putUInt(std::bit_cast<std::uint64_t>(value.date()->sinceReferenceDate), 8);
            break;
        case ValueKind::data: {
            const auto& data = *value.data();
            putMarker(0x40, data.size());
            out_.insert(out_.end(), data.begin(), data.end());
            break;
        }
        case ValueKind::array:
            putMarker(0xA0, value.array()->size());
            putRefs(object.firstRef, value.array()->size());
            break;
        case ValueKind::dictionary:
            putMarker(0xD0, value.dictionary()->size());
            putRefs(object.firstRef, 2 * value.dictionary()->size());
            break;
        case ValueKind::string: // strings are flattened as keys
        case ValueKind::null:   // refused when flattened
            break;
        }
    }

    std::vector<Object> objects_;
    std::vector<std::uint64_t> refs_;
    std::unordered_map<std::string_view, std::uint64_t> strings_;
    Data out_;
    unsigned refWidth_ = 1;
};

std::uint64_t readUInt(const std::uint8_t* p, unsigned width) {
    switch (width) {
    case 1:
        return p[0];
    case 2:
        return static_cast<std::uint64_t>(p[0]) << 8 | p[1];
    case 4: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
    }
    case 8: {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
    }
    default: {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i) {
            v = v << 8 | p[i];
        }
        return v;
    }
    }
}

// Replaces a freshly made or skeleton value in place: constructing the new alternative directly
// spares the variant's move-assignment dispatch, which shows in the decoder's profile.
template <class T> void place(Value& out, T&& v) {
    std::destroy_at(&out);
    std::construct_at(&out, std::forward<T>(v));
}

class Decoder {
public:
    explicit Decoder(std::span<const std::uint8_t> bytes)
        : bytes_(bytes.data()), size_(bytes.size()) {
        const std::size_t size = size_;
        // Decoded values may cost this many bytes of memory; proportional to the input, so that
        // objects referenced over and over cannot blow up into exponentially many values.
        constexpr std::size_t budgetFloor = 64 * 1024;
        constexpr std::size_t budgetPerByte = 256;
        constexpr std::size_t maxSize = std::numeric_limits<std::size_t>::max();
        budget_ = size > (maxSize - budgetFloor) / budgetPerByte
                      ? maxSize
                      : budgetFloor + budgetPerByte * size;
    }

    bool readTrailer() {
        const std::size_t size = size_;
        if (size < headerSize + 1 + 1 + trailerSize ||
            std::memcmp(bytes_, magic, headerSize) != 0) {
            return false;
        }
        const std::uint8_t* trailer = bytes_ + size - trailerSize;
        offsetWidth_ = trailer[6];
        refWidth_ = trailer[7];
        const std::uint64_t count = readUInt(trailer + 8, 8);
        top_ = readUInt(trailer + 16, 8);
        const std::uint64_t tableOffset = readUInt(trailer + 24, 8);
        if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8) {
            return false;
        }
        const std::size_t tableEnd = size - trailerSize;
        if (tableOffset <= headerSize || tableOffset > tableEnd) {
            return false;
        }
        if (count == 0 || count > (tableEnd - tableOffset) / offsetWidth_ || top_ >= count) {
            return false;
        }
        objectsEnd_ = tableOffset;
        offsetTable_ = bytes_ + tableOffset;
        count_ = count;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t offset = offsetOf(i);
            if (offset < headerSize || offset >= objectsEnd_) {
                return false;
            }
        }
        return true;
    }

    bool decodeTop(Value& out) {
        active_.assign(static_cast<std::size_t>((count_ + 63) / 64), 0);
        return decode(top_, 0, out);
    }

private:
    std::uint64_t offsetOf(std::uint64_t index) const {
        return readUInt(offsetTable_ + index * offsetWidth_, offsetWidth_);
    }

    bool charge(std::uint64_t cost) {
        if (cost > budget_) {
            return false;
        }
        budget_ -= cost;
        return true;
    }

    // Reads the length that follows a marker whose low nibble is 0xF; pos is just past the marker
    // and ends past the length.
    bool readLength(std::uint8_t nibble, std::size_t& pos, std::uint64_t& length) const {
        if (nibble != 0x0F) {
            length = nibble;
            return true;
        }
        if (pos >= objectsEnd_) {
            return false;
        }
        const std::uint8_t marker = bytes_[pos];
        if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) {
            return false;
        }
        const unsigned width = 1u << (marker & 0x0F);
        if (objectsEnd_ - pos - 1 < width) {
            return false;
        }
        length = readUInt(bytes_ + pos + 1, width);
        pos += 1 + width;
        return true;
    }

    // True when `count` items of `itemSize` bytes fit between pos and the end of the object area.
    bool fits(std::size_t pos, std::uint64_t count, std::uint64_t itemSize) const {
        return count <= (objectsEnd_ - pos) / itemSize;
    }

    bool readRef(const std::uint8_t* p, std::uint64_t& index) const {
        index = readUInt(p, refWidth_);
        return index < count_;
    }

    // A string object, located and validated; ASCII text is used straight from the input.
    struct StringObject {
        const std::uint8_t* text;
        std::uint64_t units; // bytes when ASCII, UTF-16 code units otherwise
        std::size_t utf8Length;
        bool ascii;
    };

    bool readString(std::uint64_t index, StringObject& s) {
        std::size_t pos = offsetOf(index);
        const std::uint8_t marker = bytes_[pos++];
        std::uint64_t length = 0;
        if (!readLength(marker & 0x0F, pos, length)) {
            return false;
        }
        const std::uint8_t* p = bytes_ + pos;
        if ((marker & 0xF0) == 0x50) {
            s = {p, length, length, true};
            return fits(pos, length, 1) && isAscii(p, length) && charge(length);
        }
        if ((marker & 0xF0) != 0x60 || !fits(pos, length, 2)) {
            return false;
        }
        // Validates the surrogates and sizes the UTF-8 text, so that it is allocated once.
        std::size_t utf8Length = 0;
        for (std::uint64_t i = 0; i < length; ++i) {
            const unsigned unit = static_cast<unsigned>(p[2 * i] << 8 | p[2 * i + 1]);
            if (unit < 0x80) {
                utf8Length += 1;
            } else if (unit < 0x800) {
                utf8Length += 2;
            } else if (unit >= 0xD800 && unit <= 0xDBFF) {
                if (i + 1 == length) {
                    return false;
                }
                const unsigned low = static_cast<unsigned>(p[2 * i + 2] << 8 | p[2 * i + 3]);
                if (low < 0xDC00 || low > 0xDFFF) {
                    return false;
                }
                utf8Length += 4;
                ++i;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return false;
            } else {
                utf8Length += 3;
            }
        }
        s = {p, length, utf8Length, false};
        return charge(utf8Length);
    }

    static std::string toString(const StringObject& s) {
        if (s.ascii) {
            return std::string(reinterpret_cast<const char*>(s.text), s.units);
        }
        std::string out(s.utf8Length, '\0');
        char* w = out.data();
        auto put = [&w](unsigned byte) { *w++ = static_cast<char>(byte); };
        const std::uint8_t* p = s.text;
        for (std::uint64_t i = 0; i < s.units; ++i) {
            unsigned cp = static_cast<unsigned>(p[2 * i] << 8 | p[2 * i + 1]);
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                const unsigned low = static_cast<unsigned>(p[2 * i + 2] << 8 | p[2 * i + 3]);
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
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

    bool decode(std::uint64_t index, std::size_t depth, Value& out) {
        if (!charge(sizeof(Value))) {
            return false;
        }
        std::size_t pos = offsetOf(index);
        const std::uint8_t marker = bytes_[pos++];
        const std::uint8_t nibble = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            // 0x00 (null) and 0x0F (fill) have no Value that would survive a round trip.
            if (marker != 0x08 && marker != 0x09) {
                return false;
            }
            place(out, marker == 0x09);
            return true;
        case 0x1: {
            if (nibble > 4) {
                return false;
            }
            const unsigned width = 1u << nibble;
            if (!fits(pos, width, 1)) {
                return false;
            }
            if (width < 8) {
                place(out, static_cast<std::int64_t>(readUInt(bytes_ + pos, width)));
            } else if (width == 8) {
                place(out, static_cast<std::int64_t>(readUInt(bytes_ + pos, 8)));
            } else {
                // Sixteen bytes, two's complement: fine as long as the high half only extends the
                // sign of the low half.
                const std::uint64_t high = readUInt(bytes_ + pos, 8);
                const auto low = static_cast<std::int64_t>(readUInt(bytes_ + pos + 8, 8));
                if (high != (low < 0 ? ~std::uint64_t{0} : 0)) {
                    return false;
                }
                place(out, low);
            }
            return true;
        }
        case 0x2:
            if (nibble == 2 && fits(pos, 4, 1)) {
                const auto bits = static_cast<std::uint32_t>(readUInt(bytes_ + pos, 4));
                place(out, static_cast<double>(std::bit_cast<float>(bits)));
                return true;
            }
            if (nibble == 3 && fits(pos, 8, 1)) {
                place(out, std::bit_cast<double>(readUInt(bytes_ + pos, 8)));
                return true;
            }
            return false;
        case 0x3:
            if (marker != 0x33 || !fits(pos, 8, 1)) {
                return false;
            }
            place(out, Date{std::bit_cast<double>(readUInt(bytes_ + pos, 8))});
            return true;
        case 0x4: {
            std::uint64_t length = 0;
            if (!readLength(nibble, pos, length) || !fits(pos, length, 1) || !charge(length)) {
                return false;
            }
            place(out, Data(bytes_ + pos, bytes_ + pos + length));
            return true;
        }
        case 0x5:
        case 0x6: {
            StringObject text{};
            if (!readString(index, text)) {
                return false;
            }
            place(out, toString(text));
            return true;
        }
        case 0xA:
            return decodeArray(index, depth, pos, nibble, out);
        case 0xD:
            return decodeDictionary(index, depth, pos, nibble, out);
        default:
            return false;
        }
    }

    bool enter(std::uint64_t index, std::size_t depth) {
        // A container that is still being decoded further up contains itself.
        const std::uint64_t bit = std::uint64_t{1} << (index % 64);
        std::uint64_t& word = active_[static_cast<std::size_t>(index / 64)];
        if (depth >= binaryPlistMaxDepth || (word & bit) != 0) {
            return false;
        }
        word |= bit;
        return true;
    }

    void leave(std::uint64_t index) {
        active_[static_cast<std::size_t>(index / 64)] &= ~(std::uint64_t{1} << (index % 64));
    }

    bool decodeArray(std::uint64_t index, std::size_t depth, std::size_t pos, std::uint8_t nibble,
                     Value& out) {
        std::uint64_t length = 0;
        if (!readLength(nibble, pos, length) || !fits(pos, length, refWidth_) ||
            !charge(length * sizeof(Value)) || !enter(index, depth)) {
            return false;
        }
        place(out, Array(length));
        auto& array = *out.get<Array>();
        const std::uint8_t* refs = bytes_ + pos;
        for (std::size_t i = 0; i < length; ++i) {
            std::uint64_t child = 0;
            if (!readRef(refs + i * refWidth_, child) || !decode(child, depth + 1, array[i])) {
                return false;
            }
        }
        leave(index);
        return true;
    }

    // Dictionaries of one kind (every set of every exercise) refer to the very same key objects in
    // the same order. The first of a kind is decoded key by key and leaves a skeleton behind: its
    // keys, each mapped to its position in the document. The next ones start from a copy of the
    // skeleton, since copying a tree clones its nodes without comparing keys or rebalancing.
    struct Shape {
        const std::uint8_t* keyRefs;
        std::size_t length;
        Dictionary skeleton;
        std::uint64_t cost; // what the keys and entries of one such dictionary are charged
        bool sorted;        // the document lists the keys in the tree's order
    };
    static constexpr std::size_t minShapeLength = 4;
    static constexpr std::size_t maxShapeLength = 64;
    static constexpr std::size_t maxShapes = 16;
    // Each entry also costs a tree node and a key.
    static constexpr std::size_t entryCost = sizeof(Dictionary::value_type) - sizeof(Value) + 32;

    std::size_t findShape(const std::uint8_t* keyRefs, std::size_t length) const {
        const std::size_t bytes = length * refWidth_;
        for (std::size_t i = 0; i < shapes_.size(); ++i) {
            const auto& shape = shapes_[i];
            if (shape.length == length &&
                (shape.keyRefs == keyRefs || std::memcmp(shape.keyRefs, keyRefs, bytes) == 0)) {
                return i;
            }
        }
        return shapes_.size();
    }

    // Records the shape of a dictionary just decoded from keyRefs, whose keys are known good.
    void addShape(const std::uint8_t* keyRefs, std::size_t length, std::uint64_t cost) {
        Dictionary skeleton;
        for (std::size_t i = 0; i < length; ++i) {
            StringObject key{};
            if (!charge(entryCost) ||
                !readString(readUInt(keyRefs + i * refWidth_, refWidth_), key)) {
                return;
            }
            skeleton.emplace(toString(key), Value(static_cast<std::int64_t>(i)));
        }
        bool sorted = true;
        std::int64_t position = 0;
        for (const auto& entry : skeleton) {
            sorted = sorted && *entry.second.integer() == position++;
        }
        shapes_.push_back({keyRefs, length, std::move(skeleton), cost, sorted});
    }

    bool decodeShaped(std::size_t shapeIndex, std::uint64_t index, std::size_t depth,
                      const std::uint8_t* valueRefs, Value& out) {
        const Shape& shape = shapes_[shapeIndex];
        const std::size_t length = shape.length;
        const bool sorted = shape.sorted;
        if (!charge(shape.cost)) {
            return false;
        }
        place(out, Dictionary(shape.skeleton));
        // Nested dictionaries may add shapes, so `shape` is not used past this point.
        if (sorted) {
            const std::uint8_t* ref = valueRefs;
            for (auto& entry : *out.get<Dictionary>()) {
                std::uint64_t valueIndex = 0;
                if (!readRef(ref, valueIndex) || !decode(valueIndex, depth + 1, entry.second)) {
                    return false;
                }
                ref += refWidth_;
            }
            leave(index);
            return true;
        }
        // Nested dictionaries stack their own slots above these.
        const std::size_t base = slots_.size();
        slots_.resize(base + length);
        for (auto& entry : *out.get<Dictionary>()) {
            slots_[base + static_cast<std::size_t>(*entry.second.integer())] = &entry.second;
        }
        for (std::size_t i = 0; i < length; ++i) {
            std::uint64_t valueIndex = 0;
            if (!readRef(valueRefs + i * refWidth_, valueIndex) ||
                !decode(valueIndex, depth + 1, *slots_[base + i])) {
                return false;
            }
        }
        slots_.resize(base);
        leave(index);
        return true;
    }

    bool decodeDictionary(std::uint64_t index, std::size_t depth, std::size_t pos,
                          std::uint8_t nibble, Value& out) {
        std::uint64_t length = 0;
        if (!readLength(nibble, pos, length) || !fits(pos, length, 2 * std::uint64_t{refWidth_}) ||
            !enter(index, depth)) {
            return false;
        }
        const std::uint8_t* keyRefs = bytes_ + pos;
        const std::uint8_t* valueRefs = keyRefs + length * refWidth_;
        const bool shapely = length >= minShapeLength && length <= maxShapeLength;
        if (shapely) {
            if (const std::size_t shape = findShape(keyRefs, length); shape < shapes_.size()) {
                return decodeShaped(shape, index, depth, valueRefs, out);
            }
        }

        place(out, Dictionary{});
        auto& dict = *out.get<Dictionary>();
        std::uint64_t keysCost = 0;
        for (std::size_t i = 0; i < length; ++i) {
            std::uint64_t keyIndex = 0;
            std::uint64_t valueIndex = 0;
            StringObject key{};
            if (!charge(entryCost) || !readRef(keyRefs + i * refWidth_, keyIndex) ||
                !readRef(valueRefs + i * refWidth_, valueIndex) || !readString(keyIndex, key)) {
                return false;
            }
            keysCost += entryCost + key.utf8Length;
            // Writers that sort keys make the end the right place. ASCII keys are built right in
            // the tree's node.
            const std::size_t before = dict.size();
            auto it =
                key.ascii
                    ? dict.emplace_hint(
                          dict.end(), std::piecewise_construct,
                          std::forward_as_tuple(reinterpret_cast<const char*>(key.text), key.units),
                          std::forward_as_tuple())
                    : dict.emplace_hint(dict.end(), toString(key), Value{});
            if (dict.size() == before) {
                return false; // a repeated key makes the document ambiguous
            }
            if (!decode(valueIndex, depth + 1, it->second)) {
                return false;
            }
        }
        leave(index);
        // A dictionary nested in this one may have had the same keys and got there first.
        if (shapely && shapes_.size() < maxShapes && findShape(keyRefs, length) == shapes_.size()) {
            addShape(keyRefs, length, keysCost);
        }
        return true;
    }

    const std::uint8_t* bytes_;
    std::size_t size_;
    const std::uint8_t* offsetTable_ = nullptr;
    std::size_t objectsEnd_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    unsigned offsetWidth_ = 0;
    unsigned refWidth_ = 0;
    std::size_t budget_ = 0;
    std::vector<std::uint64_t> active_; // containers being decoded, one bit each, to catch cycles
    std::vector<Shape> shapes_;
    std::vector<Value*> slots_; // where the values of shaped dictionaries go, stacked by depth
};

} // namespace

bool isPropertyList(const Value& value) {
    return representable(value, 0);
}

std::optional<Data> encodeBinaryPlist(const Value& value) {
    Encoder encoder;
    std::uint64_t top = 0;
    if (!encoder.flatten(value, 0, top)) {
        return std::nullopt;
    }
    return encoder.write(top);
}

std::optional<Value> decodeBinaryPlist(std::span<const std::uint8_t> bytes) {
    Decoder decoder(bytes);
    if (!decoder.readTrailer()) {
        return std::nullopt;
    }
    Value value;
    if (!decoder.decodeTop(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace platform
