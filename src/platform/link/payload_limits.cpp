#include "platform/link/payload_limits.hpp"

#include "platform/values/bplist.hpp"

#include <string>

namespace platform::phonelink {

SessionError sessionError(SessionError::Code code) {
    return {code, std::string(describe(code))};
}

std::optional<SessionError> checkPayload(const Dictionary& payload, std::size_t limit) {
    const auto encoded = encodeBinaryPlist(Value(payload));
    if (!encoded) {
        return sessionError(SessionError::Code::payloadUnsupportedTypes);
    }
    if (encoded->size() > limit) {
        return sessionError(SessionError::Code::payloadTooLarge);
    }
    return std::nullopt;
}

} // namespace platform::phonelink
