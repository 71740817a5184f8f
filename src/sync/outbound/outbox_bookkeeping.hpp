#pragma once

#include "platform/exec/clock.hpp"
#include "platform/exec/queue.hpp"
#include "platform/store/key_value_store.hpp"
#include "sync/outbound/pending_watch_sync_message.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace watchsync {

// What happened so far to one pending message on its way to the phone.
struct MessageBookkeeping {
    // Unknown for a message queued just before a kill (see OutboxBookkeeping::saveDelay).
    std::optional<platform::TimePoint> queuedAt;
    std::int64_t liveSends = 0;
    std::int64_t transfers = 0;
    // The phone's last answer other than a confirmation ("Retry"), or the error a transfer
    // failed with.
    std::optional<std::string> lastAnswer;
    // That answer holds the message back until it goes out again.
    bool heldBack = false;

    bool operator==(const MessageBookkeeping&) const = default;
};

// The link as a whole.
struct LinkBookkeeping {
    std::optional<platform::TimePoint> lastAcknowledgedAt;
    // Nothing while the phone is in reach.
    std::optional<platform::TimePoint> unreachableSince;

    bool operator==(const LinkBookkeeping&) const = default;
};

// One pending message with its bookkeeping, as the outbox holds them at one moment.
struct PendingHealth {
    PendingWatchSyncMessage message;
    MessageBookkeeping bookkeeping;
};

struct OutboxHealth {
    // Oldest first.
    std::vector<PendingHealth> pending;
    LinkBookkeeping link;
    bool reachable = false;
};

// The outbox's delivery history, kept beside it under a key of its own so that the outbox's
// stored queue stays exactly what the phone and older builds expect. Purely a witness: nothing
// here decides what the outbox sends.
//
// Written at most once per saveDelay, not on every event: each write is a commit of its own, and
// doubling the commits of an enqueue would double its cost. A kill loses at most that last
// stretch of history; the queue itself is never at risk. A record that does not read is ignored.
//
// After attach(), everything runs on the outbox's queue.
class OutboxBookkeeping {
public:
    static constexpr std::string_view storageKey = "wristside.watch-sync.outbox-bookkeeping.v1";
    static constexpr std::chrono::milliseconds saveDelay{1000};

    OutboxBookkeeping(platform::KeyValueStore& standardDefaults, const platform::Clock& clock);
    ~OutboxBookkeeping();
    OutboxBookkeeping(const OutboxBookkeeping&) = delete;
    OutboxBookkeeping& operator=(const OutboxBookkeeping&) = delete;

    // Reads the stored record, keeping only the entries of messages still pending; a pending
    // message without one gets an empty entry.
    void attach(platform::Queue& outboxQueue, std::span<const PendingWatchSyncMessage> pending,
                bool reachable);
    // The outbox's queue is gone: writes what is not yet saved.
    void detach();

    // Called on the outbox's queue after every change, e.g. to tell the screens.
    void setListener(std::function<void()> listener);

    void queued(const std::string& id);
    void sentLive(const std::string& id);
    void transferStarted(const std::string& id);
    void answered(const std::string& id, const std::string& answer);
    void transferFailed(const std::string& id, const std::string& error);
    // Confirmed by the phone (any answer but "Retry"), whether or not it was still pending.
    void acknowledged(const std::string& id);
    // Left the outbox without a confirmation (replaced, undeliverable).
    void dropped(const std::string& id);
    void reachabilityChanged(bool reachable);

    MessageBookkeeping entry(const std::string& id) const;
    const LinkBookkeeping& link() const { return link_; }

    // The stored form: JSON, times in milliseconds since 1970.
    static platform::Data encode(const std::unordered_map<std::string, MessageBookkeeping>& entries,
                                 const LinkBookkeeping& link);
    // Nothing when the bytes are not such a record; an entry with a wrong field is left out.
    static std::optional<
        std::pair<std::unordered_map<std::string, MessageBookkeeping>, LinkBookkeeping>>
    decode(std::span<const std::uint8_t> bytes);

private:
    MessageBookkeeping* find(const std::string& id);
    void changed();
    void save();

    platform::KeyValueStore& defaults_;
    const platform::Clock& clock_;
    platform::Queue* queue_ = nullptr;
    std::unordered_map<std::string, MessageBookkeeping> entries_;
    LinkBookkeeping link_;
    std::function<void()> listener_;
    bool dirty_ = false;
    bool saveScheduled_ = false;
};

} // namespace watchsync
