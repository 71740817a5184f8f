#pragma once

#include "glanceside/plugin.hpp"

#include <filesystem>

namespace glanceside {

// The plug-in's standard store in its data directory, and the key the phone watches there.
inline constexpr const char* standardSuiteName = "standard";
inline constexpr const char* setCompletedKey = "exercise_set_completed";

// "Complete Set" from the lock screen: shows "Next set..." on the first running activity at once,
// then leaves a fresh UUID under "exercise_set_completed" for the phone, which decides which set
// that completes.
class MarkSetCompleted final : public AppIntent {
public:
    // `activities` may be null: then none is ever running.
    MarkSetCompleted(std::filesystem::path dataDirectory, Clock& clock, LiveActivities* activities);

    std::string title() const override { return "Complete Set"; }
    // A store that cannot be written is reported on standard output; the intent still returns.
    void perform() override;

private:
    std::filesystem::path dataDirectory_;
    Clock& clock_;
    LiveActivities* activities_;
};

} // namespace glanceside
