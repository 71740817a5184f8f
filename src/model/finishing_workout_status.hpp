#pragma once

#include <string_view>

namespace model {

// Where the hand-off of a finished workout to the phone stands.
enum class FinishingWorkoutStatus { notStarted, syncing, failed, success };

constexpr std::string_view toText(FinishingWorkoutStatus status) {
    switch (status) {
    case FinishingWorkoutStatus::notStarted:
        return "notStarted";
    case FinishingWorkoutStatus::syncing:
        return "syncing";
    case FinishingWorkoutStatus::failed:
        return "failed";
    case FinishingWorkoutStatus::success:
        return "success";
    }
    return "notStarted";
}

} // namespace model
