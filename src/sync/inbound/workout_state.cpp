// The current workout from the phone: revisions, the stale-workout guard, the header, the
// exercise list and the full-snapshot file.
#include "model/conversions.hpp"
#include "model/decoding.hpp"
#include "model/keyed_list_delta.hpp"
#include "platform/values/json.hpp"
#include "sync/inbound/watch_data_source.hpp"

#include "session/workout_manager.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <algorithm>
#include <cmath>

namespace watchsync {

using platform::Dictionary;
using platform::Value;

namespace {

bool isDelta(const Dictionary& message) {
    const auto* kind = model::asString(model::lookup(message, "syncSnapshotKind"));
    return kind != nullptr && *kind == "delta";
}

// A protocol version that reads as a finite number whose integer part is 2.
bool isProtocolVersion2(const Value* value) {
    auto number = model::asNumber(value);
    return number && std::isfinite(*number) && std::trunc(*number) == 2;
}

std::optional<model::ExerciseRef> decodeUpdate(const Dictionary& dictionary, std::int64_t index) {
    auto exercise = model::decodeExercise(dictionary, index);
    return exercise ? std::optional(exercise) : std::nullopt;
}

} // namespace

bool WatchDataSource::acceptRevision(const Dictionary& message, double revision) {
    if (isDelta(message)) {
        if ((lastSnapshotRevision && revision <= *lastSnapshotRevision) ||
            (lastDeltaRevision && revision <= *lastDeltaRevision)) {
            return false;
        }
        lastDeltaRevision = revision;
        return true;
    }
    // A snapshot at the revision of the last delta is the same state, whole.
    if ((lastDeltaRevision && revision < *lastDeltaRevision) ||
        (lastSnapshotRevision && revision <= *lastSnapshotRevision)) {
        return false;
    }
    lastSnapshotRevision = revision;
    lastDeltaRevision = std::max(lastDeltaRevision.value_or(0), revision);
    return true;
}

bool WatchDataSource::shouldRejectWorkoutPayload(const Dictionary& message) const {
    if (message.contains("commandId")) {
        return false;
    }
    const auto* workout = model::lookup(message, "workout");
    const auto* header = workout != nullptr ? workout->dictionary() : nullptr;
    if (header == nullptr) {
        return false;
    }
    const auto* incomingId = model::asString(model::lookup(*header, "id"));
    const auto* incomingStatus = model::asString(model::lookup(*header, "status"));
    if (incomingId == nullptr || incomingStatus == nullptr) {
        return false;
    }
    bool incomingRunning = *incomingStatus == model::status::inProgress;
    // The phone still reports as running a workout the watch has ended but not yet delivered.
    if (incomingRunning && outbox_.hasPendingWorkoutEnd(*incomingId)) {
        return true;
    }
    if (workoutStatus.get() != model::status::inProgress || workoutId->empty() ||
        workoutId.get() == model::status::noWorkoutId) {
        return false;
    }
    auto timerId = currentTimerId();
    bool unacknowledged = outbox_.hasPendingStartWorkout(workoutId.get()) ||
                          (timerId && outbox_.hasPendingTimerEvent(*timerId));
    if (!unacknowledged) {
        return false;
    }
    return !incomingRunning || *incomingId != workoutId.get();
}

void WatchDataSource::applyWorkoutHeader(const Dictionary& message) {
    if (const auto* error = model::lookup(message, "error")) {
        const auto* text = error->string();
        syncWorkoutError = text != nullptr ? *text : std::string();
    }
    const auto* workout = model::lookup(message, "workout");
    const auto* header = workout != nullptr ? workout->dictionary() : nullptr;
    if (header == nullptr) {
        return;
    }
    const auto* headerName = model::asString(model::lookup(*header, "name"));
    const auto* headerStatus = model::asString(model::lookup(*header, "status"));
    const auto* headerId = model::asString(model::lookup(*header, "id"));
    if (headerName == nullptr || headerStatus == nullptr || headerId == nullptr) {
        syncWorkoutError = std::string("Error getting workout info from iPhone");
        return;
    }
    bool running = *headerStatus == model::status::inProgress;
    if (running && *headerId != model::status::noWorkoutId) {
        claimWorkout(*headerId, model::asDateMillis(model::lookup(*header, "dateStarted")));
    }
    name = *headerName;
    workoutStatus = *headerStatus;
    workoutId = *headerId;
    hasAppliedWorkoutSnapshot = true;
    giveRestTimerWorkoutId(running ? std::optional<std::string>(*headerId) : std::nullopt);
}

void WatchDataSource::applyExercises(const Dictionary& message) {
    if (auto whole = model::decodeExerciseList(model::lookup(message, "exercises"))) {
        exercises = std::move(*whole);
        return;
    }
    auto delta = model::readKeyedListDelta<model::ExerciseRef>(
        message, "exerciseUpdates", "removedExerciseIds", "exerciseOrder", decodeUpdate);
    if (!delta.empty()) {
        model::applyKeyedListDelta(exercises, delta);
    }
}

void WatchDataSource::applyFullSnapshotFile(const platform::ReceivedFile& file) {
    if (!isProtocolVersion2(model::lookup(file.metadata, "syncProtocolVersion"))) {
        return;
    }
    auto revision = model::asRevision(model::lookup(file.metadata, "syncRevision"));
    if (!revision) {
        return;
    }
    auto bytes = files_.read(file.path);
    if (!bytes) {
        return;
    }
    auto document = platform::parseJson(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    const auto* root = document ? document->dictionary() : nullptr;
    if (root == nullptr) {
        return;
    }
    const auto* kind = model::asString(model::lookup(*root, "kind"));
    auto documentRevision = model::asRevision(model::lookup(*root, "revision"));
    const auto* snapshotValue = model::lookup(*root, "snapshot");
    const auto* snapshot = snapshotValue != nullptr ? snapshotValue->dictionary() : nullptr;
    if (kind == nullptr || *kind != "full_snapshot" ||
        !isProtocolVersion2(model::lookup(*root, "protocolVersion")) ||
        documentRevision != revision || snapshot == nullptr ||
        model::asRevision(model::lookup(*snapshot, "syncRevision")) != revision) {
        return;
    }
    dispatchInbound(*snapshot, std::nullopt);
}

void WatchDataSource::claimWorkout(const std::string& claimedId,
                                   std::optional<platform::Date> startDate) {
    if (workoutManager_ != nullptr) {
        workoutManager_->claimWorkout(claimedId, startDate);
    }
}

void WatchDataSource::giveRestTimerWorkoutId(std::optional<std::string> runningId) {
    if (restTimer_ != nullptr) {
        restTimer_->workoutId = std::move(runningId);
    }
}

std::optional<std::string> WatchDataSource::currentTimerId() const {
    return restTimer_ != nullptr ? restTimer_->timerId : std::nullopt;
}

} // namespace watchsync
