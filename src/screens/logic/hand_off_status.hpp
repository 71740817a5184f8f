#pragma once

#include "model/finishing_workout_status.hpp"

#include <string>
#include <vector>

namespace screens {

// The lines the finished-workout hand-off sheet shows, top to bottom.
std::vector<std::string> handOffStatusLines(model::FinishingWorkoutStatus status, bool showSyncTip);

} // namespace screens
