#include "app/app_delegate.hpp"

#include "model/conversions.hpp"

#include <limits>

namespace app {

namespace {

std::optional<int> smallInteger(const platform::Value* value) {
    auto number = model::asInteger(value);
    if (!number || *number < std::numeric_limits<int>::min() ||
        *number > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

} // namespace

AppDelegate::AppDelegate(platform::Executor& executor, session::WorkoutManager& workoutManager,
                         platform::Log& log)
    : executor_(executor), workoutManager_(workoutManager), log_(log) {}

platform::WorkoutConfiguration
AppDelegate::decodeConfiguration(const platform::Dictionary& configuration) {
    platform::WorkoutConfiguration decoded;
    if (auto activity = smallInteger(model::lookup(configuration, "activityType"))) {
        decoded.activityType = *activity;
    }
    if (auto location = smallInteger(model::lookup(configuration, "locationType"))) {
        decoded.locationType = *location;
    }
    return decoded;
}

void AppDelegate::handleWorkoutConfiguration(const platform::Dictionary& configuration) {
    executor_.main().async([this, configuration = decodeConfiguration(configuration)] {
        workoutManager_.startWorkout(
            configuration, std::nullopt, [&log = log_](std::optional<platform::HealthError> error) {
                if (error) {
                    log.line("Failed to request workout start from iPhone: " + error->description);
                } else {
                    log.line("Requested workout start from iPhone");
                }
            });
    });
}

} // namespace app
