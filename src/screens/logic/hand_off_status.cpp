#include "screens/logic/hand_off_status.hpp"

namespace screens {

std::vector<std::string> handOffStatusLines(model::FinishingWorkoutStatus status,
                                            bool showSyncTip) {
    using model::FinishingWorkoutStatus;
    switch (status) {
    case FinishingWorkoutStatus::syncing:
        if (showSyncTip) {
            return {"Syncing with iPhone", "Open Tessaron app on iPhone to sync faster"};
        }
        return {"Syncing with iPhone"};
    case FinishingWorkoutStatus::failed:
        return {"Error finishing workout.", "Please complete the workout on your iPhone."};
    case FinishingWorkoutStatus::success:
        return {"Workout Completed! View workout stats on your iPhone."};
    case FinishingWorkoutStatus::notStarted:
        break;
    }
    return {};
}

} // namespace screens
