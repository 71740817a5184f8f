#pragma once

#include "platform/values/value.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace platform {

// Containers may nest this deep and no deeper; the encoder holds to the same bound so that whatever
// it writes, the decoder reads back.
inline constexpr std::size_t binaryPlistMaxDepth = 512;

// Encodes a representable value as a bplist00 document; nothing when some part of the value is not
// representable: a Null marker anywhere inside, a string that is not valid UTF-8, containers nested
// deeper than binaryPlistMaxDepth.
std::optional<Data> encodeBinaryPlist(const Value& value);

// Decodes a bplist00 document; nothing for bytes that are not a well-formed binary property list,
// and nothing for a document whose shared references would expand into far more values than its
// size accounts for.
std::optional<Value> decodeBinaryPlist(std::span<const std::uint8_t> bytes);

// True when encodeBinaryPlist would succeed (the property-list validity test).
bool isPropertyList(const Value& value);

} // namespace platform
