#include "widget/workout_provider.hpp"

#include "widget/defaults_suite.hpp"
#include "widget/model.hpp"

namespace glanceside {
namespace {

std::vector<Exercise> sampleExercises() {
    return {{"1", "Squat"}, {"2", "Bench Press"}};
}

constexpr double refreshAfterSeconds = 2 * 60 * 60;

} // namespace

WorkoutProvider::WorkoutProvider(std::filesystem::path appGroupDirectory, Clock& clock)
    : appGroupDirectory_(std::move(appGroupDirectory)), clock_(clock) {}

SimpleEntry WorkoutProvider::placeholder() {
    return {clock_.now(), ConfigurationIntent{}, "placeholder", "Up Next", sampleExercises()};
}

SimpleEntry WorkoutProvider::snapshot(const ConfigurationIntent& configuration) {
    return {clock_.now(), configuration, "Week 1 - Day 2", "Up Next", sampleExercises()};
}

std::optional<Timeline> WorkoutProvider::timeline(const ConfigurationIntent& configuration) {
    const auto suite = DefaultsSuite::open(appGroupDirectory_, sharedSuiteName);
    if (!suite) {
        return std::nullopt;
    }
    const Date refresh = clock_.now().adding(refreshAfterSeconds);
    SimpleEntry entry{refresh, configuration, "No data set", "Up Next", {}};
    if (const auto stored = suite->value(nextWorkoutKey); stored && stored->is_string()) {
        auto data = decodeWidgetData(stored->get_ref<const std::string&>());
        if (!data) {
            return std::nullopt;
        }
        entry.title = std::move(data->title);
        entry.status = std::move(data->status);
        entry.exercises = std::move(data->exercises);
    }
    return Timeline{{std::move(entry)}, TimelineReloadPolicy::atEnd};
}

} // namespace glanceside
