#pragma once

#include "platform/link/session.hpp"
#include "platform/values/value.hpp"

#include <cstddef>
#include <optional>

namespace platform::phonelink {

// Sizes of the binary property-list encoding the sending platform accepts.
inline constexpr std::size_t maxMessageBytes = 65'536;  // live message and user-info bodies
inline constexpr std::size_t maxContextBytes = 262'144; // application context
// The longest transfer id a receiver remembers (the platform's own are UUIDs).
inline constexpr std::size_t maxTransferIdBytes = 256;
// File contents, with room left for the envelope inside the largest frame (64 MiB).
inline constexpr std::size_t maxFileContentsBytes = 64u * 1024u * 1024u - 2u * maxMessageBytes;

// Nothing when the platform would send `payload`, the refusal otherwise.
std::optional<SessionError> checkPayload(const Dictionary& payload, std::size_t limit);

SessionError sessionError(SessionError::Code code);

} // namespace platform::phonelink
