#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace timer {

// Standard alphabet with "=" padding.
std::string encodeBase64(const platform::Data& bytes);

// Only the strict, padded form that encodeBase64 writes; anything else is not ours and gives
// nothing rather than a guess at the bytes.
std::optional<platform::Data> decodeBase64(std::string_view text);

} // namespace timer
