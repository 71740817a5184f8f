#pragma once

#include "platform/exec/clock.hpp"
#include "platform/values/value.hpp"

#include <chrono>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Values of the health framework: types, units, quantities, statistics, configurations and
// saved workouts.
namespace platform {

// The health framework speaks in dates; the executors' clocks give time points.
inline Date toDate(TimePoint time) {
    return Date::fromUnixSeconds(std::chrono::duration<double>(time.time_since_epoch()).count());
}

// Object types the app shares or reads. Only heart rate and active energy are quantity types.
enum class HealthType { workout, heartRate, activeEnergyBurned, activitySummary };

bool isQuantityType(HealthType type);
// The framework's identifier, e.g. "HKQuantityTypeIdentifierHeartRate".
std::string_view identifier(HealthType type);
std::optional<HealthType> healthTypeFromIdentifier(std::string_view text);

// Raw values as the framework numbers them.
enum class WorkoutSessionState : int {
    notStarted = 1,
    running = 2,
    ended = 3,
    paused = 4,
    prepared = 5,
    stopped = 6,
};

inline int rawValue(WorkoutSessionState state) {
    return static_cast<int>(state);
}

enum class HealthUnit { countPerMinute, countPerSecond, kilocalorie, kilojoule };

// "count/min", "count/s", "kcal", "kJ".
std::string_view unitString(HealthUnit unit);
std::optional<HealthUnit> unitFromString(std::string_view text);
// Heart rates are counts over time; energies are energies.
bool isCompatible(HealthType type, HealthUnit unit);

struct Quantity {
    double value = 0;
    HealthUnit unit = HealthUnit::countPerMinute;

    // Nothing when the units measure different things.
    std::optional<double> doubleValue(HealthUnit target) const;

    bool operator==(const Quantity&) const = default;
};

// What a builder has gathered for one quantity type: heart rate carries its most recent
// sample, active energy its running sum.
struct Statistics {
    HealthType quantityType = HealthType::heartRate;
    Date startDate;
    Date endDate;
    std::optional<Quantity> mostRecentQuantity;
    std::optional<Quantity> sumQuantity;

    bool operator==(const Statistics&) const = default;
};

// Raw activity and location values as the framework numbers them.
inline constexpr int activityTypeTraditionalStrengthTraining = 50;
inline constexpr int locationTypeUnknown = 1;
inline constexpr int locationTypeIndoor = 2;

// As the framework makes it: a location only when the caller sets one.
struct WorkoutConfiguration {
    int activityType = activityTypeTraditionalStrengthTraining;
    int locationType = locationTypeUnknown;

    bool operator==(const WorkoutConfiguration&) const = default;
};

// Keys under which a workout carries the phone's identifier of it.
inline constexpr std::string_view metadataKeySyncIdentifier = "HKMetadataKeySyncIdentifier";
inline constexpr std::string_view metadataKeySyncVersion = "HKMetadataKeySyncVersion";

// A workout as the health store keeps it once saved.
struct SavedWorkout {
    std::string uuid;
    int activityType = 0;
    Date startDate;
    Date endDate;
    double durationSeconds = 0;
    Dictionary metadata;
    std::optional<double> totalEnergyBurnedKilocalories;
    std::optional<double> averageHeartRate;
    std::optional<double> maxHeartRate;

    bool operator==(const SavedWorkout&) const = default;
};

struct HealthError {
    enum class Code {
        notAuthorized, // sharing the type was denied or never asked for
        invalidState,  // the call does not fit the session's or builder's state
        noCompanion,   // no phone to mirror to
        storageFailed, // the saved-workout database could not be written or read
        injected,      // a failure a test asked for
    };
    Code code = Code::injected;
    std::string description;

    bool operator==(const HealthError&) const = default;
};

} // namespace platform
