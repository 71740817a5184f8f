#pragma once

// The boundary between the widget plug-in and the host that loads it with dlopen. The host
// includes this header only and never links the plug-in: everything it calls is virtual or
// inline, and the plug-in's one exported symbol is the factory below. Both sides must be built by
// the same compiler and standard library, since std::string and std::vector cross the boundary.
// No call across it throws.

#include "glanceside/types.hpp"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glanceside {

// Raised whenever a declaration in this header changes in a way that breaks older builds.
inline constexpr int pluginAbiVersion = 2;

// Wall time and waiting, so that tests run the intent's pause in virtual time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() = 0;
    virtual void sleep(std::chrono::nanoseconds duration) = 0;
};

// The live activities the host keeps running (it starts, updates and ends them as the phone asks).
class LiveActivities {
public:
    virtual ~LiveActivities() = default;
    // The running activities' ids, in the host's order.
    virtual std::vector<std::string> runningActivityIds() = 0;
    // Nothing when the activity is no longer running.
    virtual std::optional<WorkoutActivityAttributes::ContentState>
    contentState(const std::string& activityId) = 0;
    // Returns once the activity shows the new state; an activity that ended meanwhile ignores it.
    virtual void update(const std::string& activityId,
                        const WorkoutActivityAttributes::ContentState& state) = 0;
};

// What the host tells the plug-in when it loads it. The pointed-to services must outlive the
// bundle.
struct HostEnvironment {
    // The phone system's version, such as "16.1" or "17".
    std::string systemVersion;
    // The app-group directory shared with the phone program, holding the shared defaults suite.
    std::filesystem::path appGroupDirectory;
    // The plug-in's own data directory, holding its standard defaults store.
    std::filesystem::path dataDirectory;
    Clock* clock = nullptr;
    // Null: no live activity is ever running.
    LiveActivities* liveActivities = nullptr;
};

// WorkoutWidget's timelines.
class TimelineProvider {
public:
    virtual ~TimelineProvider() = default;
    virtual SimpleEntry placeholder() = 0;
    virtual SimpleEntry snapshot(const ConfigurationIntent& configuration) = 0;
    // Nothing: deliver nothing, and keep showing what was shown.
    virtual std::optional<Timeline> timeline(const ConfigurationIntent& configuration) = 0;
};

// An action the system runs for the user without opening the phone application.
class AppIntent {
public:
    virtual ~AppIntent() = default;
    virtual std::string title() const = 0;
    // Returns when done; never fails.
    virtual void perform() = 0;
};

// How the live activity's state is read and drawn; offered from system version 16.2 on.
class LiveActivityConfiguration {
public:
    virtual ~LiveActivityConfiguration() = default;
    // The phone's JSON texts; nothing when they do not decode.
    virtual std::optional<WorkoutActivityAttributes>
    decodeAttributes(std::string_view json) const = 0;
    virtual std::optional<WorkoutActivityAttributes::ContentState>
    decodeContentState(std::string_view json) const = 0;
    virtual std::string
    encodeContentState(const WorkoutActivityAttributes::ContentState&) const = 0;
    // The text whose width a fixed-width countdown over `range` takes.
    virtual std::string measuringText(const DateRange& range) const = 0;
};

// The plug-in's entry point.
class WidgetBundle {
public:
    virtual ~WidgetBundle() = default;
    // The widgets offered to this host, in order.
    virtual std::vector<WidgetDescription> widgets() const = 0;
    virtual TimelineProvider& workoutProvider() = 0;
    // Null when the host's system is older than 16.2.
    virtual LiveActivityConfiguration* liveActivity() = 0;
    virtual AppIntent& markSetCompleted() = 0;
    // The folder of the plug-in's QML views and their assets, shipped beside the plug-in.
    virtual std::filesystem::path viewsDirectory() const = 0;
};

// The plug-in's one exported symbol, declared with C linkage as
//   glanceside::WidgetBundle* glanceside_create_bundle(int, const glanceside::HostEnvironment*);
// It returns a bundle that the host deletes before unloading the plug-in, or null when the host's
// `abiVersion` is not pluginAbiVersion or the environment lacks its clock.
inline constexpr const char* factorySymbol = "glanceside_create_bundle";
using CreateBundleFunction = WidgetBundle* (*)(int abiVersion, const HostEnvironment* env);

} // namespace glanceside
