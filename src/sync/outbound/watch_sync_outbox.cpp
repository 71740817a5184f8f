#include "sync/outbound/watch_sync_outbox.hpp"

#include "platform/values/bplist.hpp"
#include "platform/values/uuid.hpp"

#include <algorithm>
#include <set>
#include <utility>

namespace watchsync {

using platform::Dictionary;
using platform::Value;

namespace {

std::optional<Dictionary> decodeMessage(const platform::Data& bytes) {
    auto value = platform::decodeBinaryPlist(bytes);
    if (!value || value->dictionary() == nullptr) {
        return std::nullopt;
    }
    return std::move(*value->get<Dictionary>());
}

const std::string* stringEntry(const Dictionary& dictionary, std::string_view key) {
    const auto entry = dictionary.find(key);
    return entry == dictionary.end() ? nullptr : entry->second.string();
}

bool hasType(const Dictionary& message, std::string_view type) {
    const std::string* value = stringEntry(message, "type");
    return value != nullptr && *value == type;
}

bool payloadNames(const Dictionary& message, std::initializer_list<std::string_view> keys,
                  const std::string& expected) {
    const auto payload = message.find("payload");
    if (payload == message.end() || payload->second.dictionary() == nullptr) {
        return false;
    }
    return std::ranges::any_of(keys, [&](std::string_view key) {
        const std::string* value = stringEntry(*payload->second.dictionary(), key);
        return value != nullptr && *value == expected;
    });
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

WatchSyncOutbox::WatchSyncOutbox(platform::Executor& executor, platform::Session& session,
                                 platform::KeyValueStore& standardDefaults, platform::Log& log,
                                 OutboxBookkeeping* bookkeeping)
    : session_(session), defaults_(standardDefaults), log_(log), bookkeeping_(bookkeeping),
      stateQueue(executor.makeSerialQueue(std::string(queueLabel))) {
    stateQueue->sync([this] {
        if (auto stored = defaults_.dataForKey(storageKey)) {
            pending = decodePendingList(*stored).value_or(std::vector<PendingWatchSyncMessage>{});
        }
    });
    if (bookkeeping_ != nullptr) {
        // Off the caller's path: start-up goes on while the outbox's own thread reads the record,
        // and everything that needs it queues behind it.
        stateQueue->async(
            [this] { bookkeeping_->attach(*stateQueue, pending, session_.isReachable()); });
    }
}

WatchSyncOutbox::~WatchSyncOutbox() {
    // The queue first, so that nothing runs on it while the bookkeeping writes what it has.
    stateQueue.reset();
    if (bookkeeping_ != nullptr) {
        bookkeeping_->detach();
    }
}

std::optional<std::string> WatchSyncOutbox::enqueue(const Dictionary& message,
                                                    std::optional<std::string> syncId) {
    if (!platform::isPropertyList(Value(message))) {
        log_.line(serializeFailureLine);
        return std::nullopt;
    }
    std::string id = syncId ? std::move(*syncId) : platform::makeUuid();
    return platform::syncResult(*stateQueue, [&]() -> std::optional<std::string> {
        if (find(id) != nullptr) {
            flushHead();
            return id;
        }
        if (hasType(message, "refresh_data")) {
            // Only the newest refresh request is worth anything to the phone.
            const auto removed =
                std::erase_if(pending, [this](const PendingWatchSyncMessage& queued) {
                    const auto stored = decodeMessage(queued.payload);
                    const bool replaced = stored && hasType(*stored, "refresh_data");
                    if (replaced && bookkeeping_ != nullptr) {
                        bookkeeping_->dropped(queued.id);
                    }
                    return replaced;
                });
            if (removed > 0) {
                persist();
            }
        }
        Dictionary envelope = message;
        envelope.insert_or_assign("syncId", Value(id));
        auto bytes = platform::encodeBinaryPlist(Value(std::move(envelope)));
        if (!bytes) {
            return std::nullopt;
        }
        pending.push_back(PendingWatchSyncMessage{id, std::move(*bytes), false});
        persist();
        if (bookkeeping_ != nullptr) {
            bookkeeping_->queued(id);
        }
        flushHead();
        return id;
    });
}

bool WatchSyncOutbox::hasPendingStartWorkout(const std::string& workoutId) {
    return anyPending([&](const Dictionary& message) {
        return hasType(message, "start_workout") &&
               payloadNames(message, {"workoutId", "id"}, workoutId);
    });
}

bool WatchSyncOutbox::hasPendingWorkoutEnd(const std::string& workoutId) {
    return anyPending([&](const Dictionary& message) {
        return (hasType(message, "complete_workout") || hasType(message, "cancel_workout")) &&
               payloadNames(message, {"workoutId", "id"}, workoutId);
    });
}

bool WatchSyncOutbox::hasPendingTimerEvent(const std::string& timerId) {
    return anyPending([&](const Dictionary& message) {
        return payloadNames(message, {"timerId", "sourceTimerId"}, timerId);
    });
}

std::vector<PendingWatchSyncMessage> WatchSyncOutbox::pendingMessages() {
    return platform::syncResult(*stateQueue, [this] { return pending; });
}

void WatchSyncOutbox::handleAck(std::string syncId, std::optional<std::string> status) {
    stateQueue->async([this, syncId = std::move(syncId), status = std::move(status)] {
        PendingWatchSyncMessage* message = find(syncId);
        const bool retry = status && equalsIgnoringCase(*status, "Retry");
        if (bookkeeping_ != nullptr && !retry) {
            // A confirmation of a repeat is still the phone confirming.
            bookkeeping_->acknowledged(syncId);
        }
        if (message == nullptr) {
            return;
        }
        if (retry) {
            message->queuedForTransfer = false;
            persist();
            if (bookkeeping_ != nullptr) {
                bookkeeping_->answered(syncId, *status);
            }
            scheduleRetry(syncId);
            return;
        }
        std::erase_if(pending, [&](const PendingWatchSyncMessage& m) { return m.id == syncId; });
        persist();
        flushHead();
    });
}

void WatchSyncOutbox::handleTransferFinished(const Dictionary& transferUserInfo, bool failed,
                                             std::string error) {
    const std::string* syncId = stringEntry(transferUserInfo, "syncId");
    if (syncId == nullptr || !failed) {
        return;
    }
    stateQueue->async([this, id = *syncId, error = std::move(error)] {
        PendingWatchSyncMessage* message = find(id);
        if (message == nullptr) {
            return;
        }
        message->queuedForTransfer = false;
        persist();
        if (bookkeeping_ != nullptr) {
            bookkeeping_->transferFailed(id, error);
        }
        scheduleRetry(id);
    });
}

void WatchSyncOutbox::reconcileOutstandingTransfers() {
    stateQueue->async([this] {
        std::set<std::string, std::less<>> outstanding;
        for (const auto& transfer : session_.outstandingUserInfoTransfers()) {
            if (const std::string* id = stringEntry(transfer.userInfo, "syncId")) {
                outstanding.insert(*id);
            }
        }
        for (auto& message : pending) {
            message.queuedForTransfer = outstanding.contains(message.id);
        }
        persist();
        if (bookkeeping_ != nullptr) {
            bookkeeping_->reachabilityChanged(session_.isReachable());
        }
        flushHead();
    });
}

void WatchSyncOutbox::flush() {
    stateQueue->async([this] { flushHead(); });
}

void WatchSyncOutbox::reachabilityChanged(bool reachable) {
    stateQueue->async([this, reachable] {
        if (bookkeeping_ != nullptr) {
            bookkeeping_->reachabilityChanged(reachable);
        }
        if (reachable) {
            flushHead();
        }
    });
}

void WatchSyncOutbox::onHealthChange(std::function<void()> listener) {
    stateQueue->sync([&] {
        if (bookkeeping_ != nullptr) {
            bookkeeping_->setListener(std::move(listener));
        }
    });
}

OutboxHealth WatchSyncOutbox::health() {
    return platform::syncResult(*stateQueue, [this] {
        OutboxHealth health;
        health.reachable = session_.isReachable();
        health.pending.reserve(pending.size());
        for (const auto& message : pending) {
            health.pending.push_back(PendingHealth{message, bookkeeping_ != nullptr
                                                                ? bookkeeping_->entry(message.id)
                                                                : MessageBookkeeping{}});
        }
        if (bookkeeping_ != nullptr) {
            health.link = bookkeeping_->link();
        }
        return health;
    });
}

void WatchSyncOutbox::flushHead() {
    while (!pending.empty() && session_.activationState() == platform::ActivationState::activated) {
        auto message = decodeMessage(pending.front().payload);
        if (!message) {
            // It can never be delivered, and it must not block everything behind it.
            if (bookkeeping_ != nullptr) {
                bookkeeping_->dropped(pending.front().id);
            }
            pending.erase(pending.begin());
            persist();
            continue;
        }
        if (!pending.front().queuedForTransfer) {
            transfer(pending.front().id, *message);
        }
        if (session_.isReachable()) {
            // The background transfer covers a lost live message, so errors need no handling.
            session_.sendMessage(*message, std::nullopt, [](const platform::SessionError&) {});
            if (bookkeeping_ != nullptr) {
                bookkeeping_->sentLive(pending.front().id);
            }
        }
        return;
    }
}

void WatchSyncOutbox::transfer(const std::string& id, const Dictionary& message) {
    PendingWatchSyncMessage* pendingMessage = find(id);
    if (pendingMessage == nullptr) {
        flushHead();
        return;
    }
    if (pendingMessage->queuedForTransfer) {
        return;
    }
    pendingMessage->queuedForTransfer = true;
    persist();
    session_.transferUserInfo(message);
    if (bookkeeping_ != nullptr) {
        bookkeeping_->transferStarted(id);
    }
}

void WatchSyncOutbox::scheduleRetry(std::string id) {
    stateQueue->asyncAfter(retryDelay, [this, id = std::move(id)] {
        // Anything that happened meanwhile (an ack, a flush, a reconcile) has the last word.
        if (!pending.empty() && pending.front().id == id && !pending.front().queuedForTransfer) {
            flushHead();
        }
    });
}

void WatchSyncOutbox::persist() {
    if (auto encoded = encodePendingList(pending)) {
        defaults_.setData(storageKey, *encoded);
    }
}

PendingWatchSyncMessage* WatchSyncOutbox::find(const std::string& id) {
    const auto found = std::ranges::find(pending, id, &PendingWatchSyncMessage::id);
    return found == pending.end() ? nullptr : &*found;
}

bool WatchSyncOutbox::anyPending(const std::function<bool(const Dictionary&)>& matches) {
    return platform::syncResult(*stateQueue, [&] {
        return std::ranges::any_of(pending, [&](const PendingWatchSyncMessage& queued) {
            const auto message = decodeMessage(queued.payload);
            return message && matches(*message);
        });
    });
}

} // namespace watchsync
