#pragma once

#include "glanceside/plugin.hpp"

#include <filesystem>
#include <string>

namespace glanceside {

// The shared suite's name in the app-group directory, and the key the phone writes there.
inline constexpr const char* sharedSuiteName = "group.tessaron.glanceside";
inline constexpr const char* nextWorkoutKey = "nextWorkout";

// WorkoutWidget's timelines: every request reads the shared suite afresh.
class WorkoutProvider final : public TimelineProvider {
public:
    WorkoutProvider(std::filesystem::path appGroupDirectory, Clock& clock);

    SimpleEntry placeholder() override;
    SimpleEntry snapshot(const ConfigurationIntent& configuration) override;
    // One entry two hours ahead, reloaded at its end; nothing when the suite cannot be opened or
    // the stored workout does not decode.
    std::optional<Timeline> timeline(const ConfigurationIntent& configuration) override;

private:
    std::filesystem::path appGroupDirectory_;
    Clock& clock_;
};

} // namespace glanceside
