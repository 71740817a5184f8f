#pragma once

// The widget plug-in's own records, shared by the plug-in and its host. Header-only plain values:
// the host includes them without linking the plug-in.

#include <optional>
#include <string>
#include <vector>

namespace glanceside {

// A point in time as seconds since 2001-01-01 00:00:00 UTC, the same number the phone writes into
// the live activity's JSON, so that a decoded date encodes back to the very same number.
struct Date {
    double secondsSinceReferenceDate = 0;

    // Seconds between 1970-01-01 and 2001-01-01.
    static constexpr double unixOffset = 978307200.0;

    static Date fromUnixSeconds(double seconds) { return Date{seconds - unixOffset}; }
    double unixSeconds() const { return secondsSinceReferenceDate + unixOffset; }
    Date adding(double seconds) const { return Date{secondsSinceReferenceDate + seconds}; }

    friend auto operator<=>(const Date&, const Date&) = default;
};

// Both bounds included; lower <= upper always holds for a decoded range.
struct DateRange {
    Date lower;
    Date upper;

    friend bool operator==(const DateRange&, const DateRange&) = default;
};

struct Exercise {
    std::string id;
    std::string name;

    friend bool operator==(const Exercise&, const Exercise&) = default;
};

// What the phone stores under "nextWorkout".
struct WidgetData {
    std::string title;
    std::string status;
    std::vector<Exercise> exercises;

    friend bool operator==(const WidgetData&, const WidgetData&) = default;
};

// The widget's configuration: it has no parameters.
struct ConfigurationIntent {
    friend bool operator==(const ConfigurationIntent&, const ConfigurationIntent&) = default;
};

struct SimpleEntry {
    Date date;
    ConfigurationIntent configuration;
    std::string title;
    std::string status;
    std::vector<Exercise> exercises;

    friend bool operator==(const SimpleEntry&, const SimpleEntry&) = default;
};

enum class TimelineReloadPolicy {
    // The host asks for a new timeline once the last entry's date has passed.
    atEnd,
};

struct Timeline {
    std::vector<SimpleEntry> entries;
    TimelineReloadPolicy policy = TimelineReloadPolicy::atEnd;

    friend bool operator==(const Timeline&, const Timeline&) = default;
};

enum class WidgetFamily { systemSmall, systemMedium };

// One widget the bundle offers.
struct WidgetDescription {
    std::string kind;
    std::string displayName;
    std::string description;
    std::vector<WidgetFamily> supportedFamilies;
    bool contentMarginsDisabled = false;

    friend bool operator==(const WidgetDescription&, const WidgetDescription&) = default;
};

// The live activity's fixed attributes and its state, which the phone replaces with every update.
struct WorkoutActivityAttributes {
    struct ContentState {
        std::string nextSetName;
        std::string nextSetInfo;
        std::vector<double> percentageComplete;
        // Absent: no rest countdown.
        std::optional<DateRange> lastSetCompletedDate;
        std::string setId;
        // Carried for the phone; nothing here reads it.
        std::optional<std::string> timerSeconds;
        DateRange startTime;

        friend bool operator==(const ContentState&, const ContentState&) = default;
    };

    std::string workoutId;
    std::string name;

    friend bool operator==(const WorkoutActivityAttributes&,
                           const WorkoutActivityAttributes&) = default;
};

} // namespace glanceside
