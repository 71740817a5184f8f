#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Standard alphabet with "=" padding.
std::string encodeBase64(const Data& bytes);
// The same text added to the end of `out`, for encoders that write one buffer.
void appendBase64(std::string& out, const Data& bytes);
void appendBase64(Data& out, const Data& bytes);

// Only the strict, padded form that encodeBase64 writes; anything else is not ours and gives
// nothing rather than a guess at the bytes.
std::optional<Data> decodeBase64(std::string_view text);

} // namespace platform
