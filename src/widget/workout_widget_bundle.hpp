#pragma once

#include "glanceside/plugin.hpp"
#include "widget/mark_set_completed.hpp"
#include "widget/workout_provider.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace glanceside {

// The home-screen widget showing the next workout.
struct WorkoutWidget {
    static constexpr const char* kind = "WorkoutWidget";
    static WidgetDescription description();
};

// The lock-screen live activity of a running workout.
class WorkoutWidgetLiveActivity final : public LiveActivityConfiguration {
public:
    static constexpr const char* kind = "WorkoutWidgetLiveActivity";
    static WidgetDescription description();

    std::optional<WorkoutActivityAttributes> decodeAttributes(std::string_view json) const override;
    std::optional<WorkoutActivityAttributes::ContentState>
    decodeContentState(std::string_view json) const override;
    std::string encodeContentState(const WorkoutActivityAttributes::ContentState&) const override;
    std::string measuringText(const DateRange& range) const override;
};

// A system version's numeric components ("16.2" is {16, 2}); nothing for text that is not
// dot-separated decimal numbers, such as "", "16.", "16.x" or "-1".
std::optional<std::vector<unsigned>> parseSystemVersion(std::string_view text);

// True from 16.2 on; a version that does not parse offers nothing beyond the widget.
bool offersLiveActivity(std::string_view systemVersion);

class WorkoutWidgetBundle final : public WidgetBundle {
public:
    // `environment.clock` must not be null.
    explicit WorkoutWidgetBundle(const HostEnvironment& environment);

    std::vector<WidgetDescription> widgets() const override;
    TimelineProvider& workoutProvider() override { return provider_; }
    LiveActivityConfiguration* liveActivity() override;
    AppIntent& markSetCompleted() override { return markSetCompleted_; }
    std::filesystem::path viewsDirectory() const override;

private:
    bool liveActivityOffered_;
    WorkoutProvider provider_;
    WorkoutWidgetLiveActivity liveActivity_;
    MarkSetCompleted markSetCompleted_;
};

} // namespace glanceside
