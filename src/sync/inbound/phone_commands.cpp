// Commands from the phone: each id applied at most once and in the phone's command order, the
// timer-correction gate, the save-to-health preference and the health session commands.
#include "model/conversions.hpp"
#include "model/status.hpp"
#include "sync/inbound/watch_data_source.hpp"

#include "session/workout_manager.hpp"
#include "timer/rest_timer_manager.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace watchsync {

using platform::Dictionary;

namespace {

// The rest timer's start times travel as milliseconds; the phone's copy may be off by rounding.
constexpr double timerMatchToleranceMillis = 10;

constexpr std::array<std::string_view, 2> timerCorrectionKeys = {"timerCorrectionForId",
                                                                 "timerCorrectionForStartTime"};
// Commands that must never be lost to the sequence rule, because refusing them would leave a
// health session or a timer run the phone has already ended.
constexpr std::array<std::string_view, 4> sessionCommandKeys = {
    "start_workout_session", "finish_workout_session", "stop_workout_session",
    "cancel_workout_session"};

template <std::size_t N>
bool holdsAnyKey(const Dictionary& message, const std::array<std::string_view, N>& keys) {
    return std::any_of(keys.begin(), keys.end(), [&](std::string_view key) {
        return model::lookup(message, key) != nullptr;
    });
}

// The section's dictionary and its workout id, when both are usable.
struct SessionSection {
    const Dictionary* fields = nullptr;
    const std::string* workoutId = nullptr;
};

std::optional<SessionSection> sessionSection(const platform::Value* value) {
    const auto* fields = value != nullptr ? value->dictionary() : nullptr;
    if (fields == nullptr) {
        return std::nullopt;
    }
    const auto* workoutId = model::asString(model::lookup(*fields, "workoutId"));
    if (workoutId == nullptr) {
        return std::nullopt;
    }
    return SessionSection{fields, workoutId};
}

// The first key present wins even when its value is unusable: the newer key replaces the older.
const platform::Value* preferredValue(const Dictionary& message, std::string_view newer,
                                      std::string_view older) {
    const auto* value = model::lookup(message, newer);
    return value != nullptr ? value : model::lookup(message, older);
}

} // namespace

bool WatchDataSource::isProcessedCommand(const std::string& commandId) const {
    auto processed = defaults_.stringListForKey(processedPhoneCommandsKey);
    return processed &&
           std::find(processed->begin(), processed->end(), commandId) != processed->end();
}

void WatchDataSource::markCommandProcessed(const std::string& commandId) {
    // The list is stored whole after each command: an id of any length would let a peer make
    // every later write as large as it likes. Such a command is not protected from a repeat.
    if (commandId.size() > maxStoredCommandIdBytes) {
        log_.line("Phone command id too long to remember (" + std::to_string(commandId.size()) +
                  " bytes)");
        return;
    }
    auto processed =
        defaults_.stringListForKey(processedPhoneCommandsKey).value_or(std::vector<std::string>{});
    if (std::find(processed.begin(), processed.end(), commandId) != processed.end()) {
        return;
    }
    processed.push_back(commandId);
    if (processed.size() > maxProcessedPhoneCommands) {
        processed.erase(processed.begin(),
                        processed.end() - static_cast<std::ptrdiff_t>(maxProcessedPhoneCommands));
    }
    defaults_.setStringList(processedPhoneCommandsKey, processed);
}

// The caller replies; every command is acknowledged whether or not it is applied, so that the
// phone stops resending it.
void WatchDataSource::handlePhoneCommand(const Dictionary& message, const std::string& commandId) {
    const auto sequence = model::asRevision(model::lookup(message, "commandSequence"));
    const auto revision = model::asRevision(model::lookup(message, "syncRevision"));
    const bool correctsTimer = holdsAnyKey(message, timerCorrectionKeys);
    const bool exempt = correctsTimer || holdsAnyKey(message, sessionCommandKeys);

    if (isProcessedCommand(commandId)) {
        return;
    }
    if (sequence && !exempt && lastPhoneCommandSequence >= *sequence) {
        markCommandProcessed(commandId);
        return;
    }
    const double newest = std::max(lastSnapshotRevision.value_or(0), lastDeltaRevision.value_or(0));
    if ((revision && *revision < newest) || (correctsTimer && !timerCorrectionApplies(message))) {
        markCommandProcessed(commandId);
        return;
    }

    applyPhoneState(message);
    markCommandProcessed(commandId);
    // Which of the phone's commands took effect, and in what order, is otherwise invisible.
    log_.line("Applied phone command " + commandId);

    if (sequence && !exempt) {
        lastPhoneCommandSequence = std::max(lastPhoneCommandSequence, *sequence);
        defaults_.setDouble(lastPhoneCommandSequenceKey, lastPhoneCommandSequence);
    }
    if (revision) {
        lastSnapshotRevision = std::max(lastSnapshotRevision.value_or(0), *revision);
        lastDeltaRevision = std::max(lastDeltaRevision.value_or(0), *revision);
    }
}

bool WatchDataSource::timerCorrectionApplies(const Dictionary& message) const {
    std::optional<std::string> timerId;
    if (const auto* text = model::asString(model::lookup(message, "timerCorrectionForId"))) {
        timerId = *text;
    }
    const auto startTime = model::asNumber(model::lookup(message, "timerCorrectionForStartTime"));
    if (!timerId && !startTime) {
        return true;
    }
    // Without a rest timer there is no run for the correction to belong to.
    if (restTimer_ == nullptr) {
        return false;
    }
    std::optional<double> timerRevision;
    if (auto integer = model::asInteger(model::lookup(message, "timerCorrectionForRevision"))) {
        timerRevision = static_cast<double>(*integer);
    }
    return restTimer_->timerMatches(timerId, timerRevision, startTime, timerMatchToleranceMillis);
}

void WatchDataSource::applyHealthPreference(const Dictionary& message) {
    const auto sync = model::asBoolean(model::lookup(message, "syncWorkoutsToHealth"));
    if (!sync) {
        return;
    }
    if (workoutManager_ != nullptr) {
        workoutManager_->setSyncWorkoutsToHealth(*sync);
    } else {
        defaults_.setBool(session::syncWorkoutsToHealthKey, *sync);
    }
}

void WatchDataSource::applyWorkoutSessionCommands(const Dictionary& message) {
    if (auto start = sessionSection(model::lookup(message, "start_workout_session"))) {
        if (auto at = model::asDateMillis(model::lookup(*start->fields, "occurredAt"))) {
            claimWorkout(*start->workoutId, *at);
        }
    }
    if (auto finish = sessionSection(model::lookup(message, "finish_workout_session"))) {
        auto at = model::asDateMillis(model::lookup(*finish->fields, "endedAt"));
        auto save = model::asBoolean(model::lookup(*finish->fields, "saveToHealth"));
        if (at && save) {
            terminateSession(*finish->workoutId, *at, *save);
        }
    }
    if (auto stop = sessionSection(model::lookup(message, "stop_workout_session"))) {
        const auto* occurredAt = model::lookup(*stop->fields, "occurredAt");
        auto at = model::asDateMillis(
            occurredAt != nullptr ? occurredAt : model::lookup(*stop->fields, "endedAt"));
        if (at && workoutManager_ != nullptr) {
            terminateSession(*stop->workoutId, *at, workoutManager_->syncWorkoutsToHealth.get());
        }
    }
    if (auto cancel = sessionSection(model::lookup(message, "cancel_workout_session"))) {
        if (auto at = model::asDateMillis(model::lookup(*cancel->fields, "occurredAt"))) {
            terminateSession(*cancel->workoutId, *at, false);
        }
    }
    if (auto pause = sessionSection(
            preferredValue(message, "pause_workout_session_v2", "pause_workout_session"))) {
        auto at = model::asDateMillis(model::lookup(*pause->fields, "occurredAt"));
        if (at && workoutManager_ != nullptr) {
            workoutManager_->pauseSession(*pause->workoutId, *at);
        }
    }
    if (auto resume = sessionSection(
            preferredValue(message, "resume_workout_session_v2", "resume_workout_session"))) {
        auto at = model::asDateMillis(model::lookup(*resume->fields, "occurredAt"));
        if (at && workoutManager_ != nullptr) {
            workoutManager_->resumeSession(*resume->workoutId, *at);
        }
    }
}

// The session manager refuses a workout this watch does not own, or owns only since after the
// request; only a request it took may clear the local copy of that workout.
void WatchDataSource::terminateSession(const std::string& commandWorkoutId, platform::Date date,
                                       bool saveToHealth) {
    if (workoutManager_ == nullptr) {
        return;
    }
    if (workoutManager_->terminateWorkout(commandWorkoutId, date, saveToHealth) &&
        commandWorkoutId == workoutId.get()) {
        resetLocalWorkout(std::string(model::status::notStarted));
    }
}

} // namespace watchsync
