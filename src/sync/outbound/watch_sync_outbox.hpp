#pragma once

#include "platform/exec/queue.hpp"
#include "platform/link/session.hpp"
#include "platform/log/log.hpp"
#include "platform/store/key_value_store.hpp"
#include "platform/values/value.hpp"
#include "sync/outbound/outbox_bookkeeping.hpp"
#include "sync/outbound/pending_watch_sync_message.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace watchsync {

// The one way out for every change the watch reports to the phone. Each message gets a sync id,
// is stored before anything is sent and stays until the phone acknowledges that id. Delivery is
// at least once (live message plus background transfer, again after a restart); the phone drops
// repeats by sync id. Only the oldest unacknowledged message is ever on the wire, so the phone
// sees changes in the order they happened.
//
// The queries and enqueue wait for the outbox's own queue and must not be called from it; the
// delivery events only post to it and may come from any thread.
class WatchSyncOutbox {
public:
    static constexpr std::string_view storageKey = "tessaron.watch-sync.outbox.v1";
    static constexpr std::string_view queueLabel = "dev.wristside.watch-sync.outbox";
    static constexpr std::chrono::milliseconds retryDelay{5000};
    static constexpr std::string_view serializeFailureLine =
        "Unable to serialize Watch sync message";

    // Reads the stored queue; missing or undecodable data gives an empty one. Sends nothing:
    // the owner calls reconcileOutstandingTransfers() once the session is activated. The
    // bookkeeping, when given, hears of every delivery event and must outlive the outbox.
    WatchSyncOutbox(platform::Executor& executor, platform::Session& session,
                    platform::KeyValueStore& standardDefaults, platform::Log& log,
                    OutboxBookkeeping* bookkeeping = nullptr);
    ~WatchSyncOutbox();
    WatchSyncOutbox(const WatchSyncOutbox&) = delete;
    WatchSyncOutbox& operator=(const WatchSyncOutbox&) = delete;

    // The sync id the message travels under (syncId when given, else a new UUID), or nothing
    // when the message cannot be carried as a property list. A message whose id is already
    // pending is not queued again. A "refresh_data" request replaces every queued one.
    std::optional<std::string> enqueue(const platform::Dictionary& message,
                                       std::optional<std::string> syncId = {});

    // Whether a "start_workout" for the workout (payload "workoutId" or "id") is unacknowledged.
    bool hasPendingStartWorkout(const std::string& workoutId);
    // The same for "complete_workout" and "cancel_workout".
    bool hasPendingWorkoutEnd(const std::string& workoutId);
    // Whether any message whose payload "timerId" or "sourceTimerId" names the timer is pending.
    bool hasPendingTimerEvent(const std::string& timerId);

    // Oldest first.
    std::vector<PendingWatchSyncMessage> pendingMessages();

    // A status of "Retry" (any case) keeps the message and tries again later; anything else,
    // or none, means the phone has it.
    void handleAck(std::string syncId, std::optional<std::string> status);
    void handleTransferFinished(const platform::Dictionary& transferUserInfo, bool failed,
                                std::string error = {});
    // After activation or a restart: which messages still have a background transfer on its way.
    void reconcileOutstandingTransfers();
    void flush();
    // Flushes when the phone comes into reach.
    void reachabilityChanged(bool reachable);

    // The pending messages with their bookkeeping, read together; changes nothing. Without
    // bookkeeping the entries are empty.
    OutboxHealth health();
    // Called on the outbox's queue after every change of the bookkeeping; null stops it.
    void onHealthChange(std::function<void()> listener);

private:
    // Everything below runs on stateQueue.
    void flushHead();
    void transfer(const std::string& id, const platform::Dictionary& message);
    void scheduleRetry(std::string id);
    void persist();
    PendingWatchSyncMessage* find(const std::string& id);
    bool anyPending(const std::function<bool(const platform::Dictionary&)>& matches);

    platform::Session& session_;
    platform::KeyValueStore& defaults_;
    platform::Log& log_;
    OutboxBookkeeping* bookkeeping_;
    std::vector<PendingWatchSyncMessage> pending;
    // Last, so that it goes first: queued tasks, which use the members above, are dropped.
    std::unique_ptr<platform::Queue> stateQueue;
};

} // namespace watchsync
