#pragma once

#include "platform/exec/clock.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace timer {

// A timer event for the phone that the outbox has not accepted yet. The sync id is chosen
// before the event is stored, so that an event queued just before the app died is queued again
// under the same id after the next launch and the phone can drop the repeat.
struct PersistedWatchTimerEvent {
    std::string syncId;
    // The whole outbound message dictionary ("type" and "payload") as a binary property list.
    platform::Data data;

    bool operator==(const PersistedWatchTimerEvent&) const = default;
};

// The rest timer's state as it is kept across launches.
struct PersistedRestTimerSession {
    std::optional<std::string> workoutId;
    platform::Date startTime;
    double timerSeconds = 0;
    bool timerIsRunning = false;
    std::optional<std::string> timerId;
    std::int64_t timerRevision = 0;
    std::optional<platform::Date> latestTimerStartTime;
    bool isExerciseCountdown = false;
    std::optional<std::string> durationSetId;
    double postCountdownRestSeconds = 0;
    std::string titleMessage;
    std::optional<PersistedWatchTimerEvent> pendingEvent;

    bool operator==(const PersistedRestTimerSession&) const = default;
};

// One JSON object with the field names as keys in declaration order; absent optionals are left
// out, dates are seconds since 2001-01-01 UTC, the event's data is Base64 text. Nothing when a
// number is not finite (JSON has no spelling for it). Invalid UTF-8 in text is written as
// U+FFFD rather than losing the whole record.
std::optional<platform::Data> encodeTimerSession(const PersistedRestTimerSession& session);

// Every non-optional key must be there with the right type; a missing or mistyped key, or bytes
// that are not a JSON object, give nothing. An optional key holding null counts as absent;
// unknown keys are ignored. Whole numbers are accepted where a double is stored, and a double
// with a whole value where an integer is.
std::optional<PersistedRestTimerSession> decodeTimerSession(std::span<const std::uint8_t> bytes);

// The clock's time point as a stored date.
platform::Date dateFromTimePoint(platform::TimePoint time);

} // namespace timer
