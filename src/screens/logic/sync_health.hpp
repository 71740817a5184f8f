#pragma once

#include "model/exercise.hpp"
#include "model/workout.hpp"
#include "platform/exec/queue.hpp"
#include "platform/observe/observable.hpp"
#include "platform/values/value.hpp"
#include "sync/inbound/watch_data_source.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace screens {

// The names the descriptions of outbox messages use, looked up in the workout as the watch holds
// it when the description is read.
struct WorkoutNames {
    std::string workoutId;
    std::string workoutName;
    std::vector<model::ExerciseRef> exercises;
    std::vector<model::Workout> availableWorkouts;

    static WorkoutNames of(const watchsync::WatchDataSource& data);
};

// An outbox message in the lifter's words: "Set 2 of Back Squat completed", "Weight of set 3 of
// Bench Press: 135", "Workout Day A finished". Ids that name nothing give plain words ("A set
// completed").
std::string describeMessage(const platform::Dictionary& message, const WorkoutNames& names);

struct SyncHealthEntry {
    std::string syncId;
    std::string description;
    std::optional<platform::TimePoint> queuedAt;
    std::int64_t liveSends = 0;
    std::int64_t transfers = 0;
    std::optional<std::string> lastAnswer;
};

// What has not reached the phone yet, and why.
struct SyncHealthFacts {
    std::vector<SyncHealthEntry> entries;
    bool reachable = false;
    std::optional<platform::TimePoint> unreachableSince;
    std::optional<platform::TimePoint> lastAcknowledgedAt;
    // Why the oldest change is not through: the phone's "Retry", a failed transfer, or the
    // phone out of reach. Nothing when it is on its way.
    std::optional<std::string> heldBack;

    std::size_t waiting() const { return entries.size(); }
};

// `messages` holds each pending message decoded, in the same order; null for one that does not
// decode. A caller that decodes them anyway (the state answer) saves doing it twice.
SyncHealthFacts syncHealthFacts(const watchsync::OutboxHealth& health, const WorkoutNames& names,
                                const std::vector<const platform::Dictionary*>& messages);
SyncHealthFacts syncHealthFacts(const watchsync::OutboxHealth& health, const WorkoutNames& names);

// How long the phone may stay silent before the indicator speaks up: longer than the link takes
// to confirm a set, shorter than a lifter waits to check.
inline constexpr platform::Duration quietWindow = std::chrono::minutes(1);

// The root screen's indicator says nothing while nothing is amiss:
// - nothing waits, and the phone is in reach or was heard from within the last minute;
// - or the phone is in reach and the oldest waiting change, or the phone's last confirmation,
//   is younger than a minute: it is on its way, as after every set.
// Otherwise it shows the number waiting. So it stays put through a normal rest, and once it shows
// it stays until the cause is gone: it never blinks.
bool indicatorQuiet(const SyncHealthFacts& facts, platform::TimePoint now);
// When the rule's answer changes by time alone; nothing when only an event can change it.
std::optional<platform::TimePoint> indicatorChangesAt(const SyncHealthFacts& facts,
                                                      platform::TimePoint now);

// The sync screen, top to bottom.
struct SyncScreenRow {
    std::string title;
    std::string detail;
};
struct SyncScreenTexts {
    std::string summary;      // "2 changes waiting"
    std::string reachability; // "iPhone in reach" / "iPhone out of reach for 3 min"
    std::string lastConfirmed;
    std::string heldBack; // empty when nothing holds the queue back
    std::vector<SyncScreenRow> rows;
};
SyncScreenTexts syncScreenTexts(const SyncHealthFacts& facts, platform::TimePoint now);
inline constexpr std::string_view sendNowLabel = "Send Now";

// "under a minute", "3 min", "1 h 5 min".
std::string waitText(platform::Duration waited);

// The long-lived reader of the outbox's health for the screens and the control channel. Reading
// never changes the outbox; "Send Now" runs its flush. Main queue only.
class SyncHealth {
public:
    SyncHealth(platform::Executor& executor, watchsync::WatchSyncOutbox& outbox,
               watchsync::WatchDataSource& data);
    ~SyncHealth();
    SyncHealth(const SyncHealth&) = delete;
    SyncHealth& operator=(const SyncHealth&) = delete;

    // Written on every change of the facts, and when time alone changes what the screens show.
    platform::Observable<std::uint64_t> revision{0};
    // The sync screen's sheet.
    platform::Observable<bool> showing{false};

    const SyncHealthFacts& facts();
    bool indicatorShown();
    // The indicator's tap. False when it is not shown.
    bool open();
    void sendNow();

private:
    void changed();
    void scheduleTick();

    platform::Executor& executor_;
    watchsync::WatchSyncOutbox& outbox_;
    watchsync::WatchDataSource& data_;
    std::optional<SyncHealthFacts> facts_;
    platform::TaskHandle tick_;
    // The outbox's news arrives on its queue: at most one hop to main at a time.
    struct Relay {
        std::atomic<bool> posted{false};
        SyncHealth* owner;
    };
    std::shared_ptr<Relay> relay_;
    std::vector<platform::Subscription> subscriptions_;
};

} // namespace screens
