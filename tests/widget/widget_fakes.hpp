#pragma once

#include "glanceside/plugin.hpp"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace widgettest {

// Virtual time: sleeping advances it at once and is recorded.
class ManualClock final : public glanceside::Clock {
public:
    glanceside::Date time{800'000'000.0};
    std::vector<std::chrono::nanoseconds> sleeps;

    glanceside::Date now() override { return time; }
    void sleep(std::chrono::nanoseconds duration) override {
        sleeps.push_back(duration);
        time = time.adding(std::chrono::duration<double>(duration).count());
    }
};

// Running activities in order, with every update recorded.
class FakeActivities final : public glanceside::LiveActivities {
public:
    std::vector<std::string> order;
    std::map<std::string, glanceside::WorkoutActivityAttributes::ContentState> states;
    std::vector<std::string> updated;

    std::vector<std::string> runningActivityIds() override { return order; }
    std::optional<glanceside::WorkoutActivityAttributes::ContentState>
    contentState(const std::string& id) override {
        const auto it = states.find(id);
        return it == states.end() ? std::nullopt : std::optional(it->second);
    }
    void update(const std::string& id,
                const glanceside::WorkoutActivityAttributes::ContentState& state) override {
        states[id] = state;
        updated.push_back(id);
    }
};

inline glanceside::WorkoutActivityAttributes::ContentState sampleState() {
    return {"Squat",
            "5 x 100 kg",
            {0.25, 0.5},
            glanceside::DateRange{{1000}, {1090}},
            "set-7",
            std::nullopt,
            glanceside::DateRange{{400}, {400}}};
}

} // namespace widgettest
