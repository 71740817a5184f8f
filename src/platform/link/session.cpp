#include "platform/link/session.hpp"

namespace platform {

std::string_view describe(SessionError::Code code) {
    switch (code) {
    case SessionError::Code::notActivated:
        return "session not activated";
    case SessionError::Code::notReachable:
        return "counterpart not reachable";
    case SessionError::Code::payloadTooLarge:
        return "payload too large";
    case SessionError::Code::payloadUnsupportedTypes:
        return "payload unsupported types";
    case SessionError::Code::connectionLost:
        return "connection lost before the reply";
    case SessionError::Code::transferFailed:
        return "transfer failed";
    }
    return "unknown session error";
}

} // namespace platform
