#include "platform/haptics/haptics.hpp"

namespace platform {

std::string_view hapticName(HapticType type) {
    switch (type) {
    case HapticType::notification:
        return "notification";
    case HapticType::directionUp:
        return "directionUp";
    case HapticType::directionDown:
        return "directionDown";
    case HapticType::success:
        return "success";
    case HapticType::failure:
        return "failure";
    case HapticType::retry:
        return "retry";
    case HapticType::start:
        return "start";
    case HapticType::stop:
        return "stop";
    case HapticType::click:
        return "click";
    }
    return "notification";
}

void HapticRecorder::play(HapticType type) {
    PlayedHaptic haptic{type, clock_.now()};
    played_.push_back(haptic);
    lastPlayed = haptic;
}

} // namespace platform
