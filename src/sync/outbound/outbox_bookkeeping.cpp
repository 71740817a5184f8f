#include "sync/outbound/outbox_bookkeeping.hpp"

#include <nlohmann/json.hpp>

#include <utility>

namespace watchsync {

namespace {

using Json = nlohmann::json;

Json millis(const std::optional<platform::TimePoint>& time) {
    if (!time) {
        return nullptr;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(time->time_since_epoch()).count();
}

// A missing field reads as null.
const Json& field(const Json& object, const char* key) {
    static const Json null;
    const auto found = object.find(key);
    return found != object.end() ? *found : null;
}

// False when the value is neither null nor a time.
bool readMillis(const Json& value, std::optional<platform::TimePoint>& out) {
    if (value.is_null()) {
        out.reset();
        return true;
    }
    if (!value.is_number_integer()) {
        return false;
    }
    out = platform::TimePoint(std::chrono::milliseconds(value.get<std::int64_t>()));
    return true;
}

bool readCount(const Json& value, std::int64_t& out) {
    if (!value.is_number_integer() || value.get<std::int64_t>() < 0) {
        return false;
    }
    out = value.get<std::int64_t>();
    return true;
}

} // namespace

OutboxBookkeeping::OutboxBookkeeping(platform::KeyValueStore& standardDefaults,
                                     const platform::Clock& clock)
    : defaults_(standardDefaults), clock_(clock) {}

OutboxBookkeeping::~OutboxBookkeeping() = default;

void OutboxBookkeeping::attach(platform::Queue& outboxQueue,
                               std::span<const PendingWatchSyncMessage> pending, bool reachable) {
    queue_ = &outboxQueue;
    std::unordered_map<std::string, MessageBookkeeping> stored;
    if (auto bytes = defaults_.dataForKey(storageKey)) {
        if (auto decoded = decode(*bytes)) {
            stored = std::move(decoded->first);
            link_ = decoded->second;
        }
    }
    entries_.clear();
    entries_.reserve(pending.size());
    for (const auto& message : pending) {
        auto found = stored.find(message.id);
        entries_.emplace(message.id,
                         found != stored.end() ? std::move(found->second) : MessageBookkeeping{});
    }
    // Away before the restart and still away: since then, not since now.
    if (reachable) {
        link_.unreachableSince.reset();
    } else if (!link_.unreachableSince) {
        link_.unreachableSince = clock_.now();
    }
}

void OutboxBookkeeping::detach() {
    queue_ = nullptr;
    saveScheduled_ = false;
    if (dirty_) {
        save();
    }
}

void OutboxBookkeeping::setListener(std::function<void()> listener) {
    listener_ = std::move(listener);
}

void OutboxBookkeeping::queued(const std::string& id) {
    MessageBookkeeping entry;
    entry.queuedAt = clock_.now();
    entries_.insert_or_assign(id, std::move(entry));
    changed();
}

void OutboxBookkeeping::sentLive(const std::string& id) {
    if (auto* entry = find(id)) {
        ++entry->liveSends;
        entry->heldBack = false;
        changed();
    }
}

void OutboxBookkeeping::transferStarted(const std::string& id) {
    if (auto* entry = find(id)) {
        ++entry->transfers;
        entry->heldBack = false;
        changed();
    }
}

void OutboxBookkeeping::answered(const std::string& id, const std::string& answer) {
    if (auto* entry = find(id)) {
        entry->lastAnswer = answer;
        entry->heldBack = true;
        changed();
    }
}

void OutboxBookkeeping::transferFailed(const std::string& id, const std::string& error) {
    if (auto* entry = find(id)) {
        entry->lastAnswer = error.empty() ? std::string("transfer failed") : error;
        entry->heldBack = true;
        changed();
    }
}

void OutboxBookkeeping::acknowledged(const std::string& id) {
    entries_.erase(id);
    link_.lastAcknowledgedAt = clock_.now();
    changed();
}

void OutboxBookkeeping::dropped(const std::string& id) {
    if (entries_.erase(id) > 0) {
        changed();
    }
}

void OutboxBookkeeping::reachabilityChanged(bool reachable) {
    if (reachable == !link_.unreachableSince) {
        return;
    }
    link_.unreachableSince =
        reachable ? std::nullopt : std::optional<platform::TimePoint>(clock_.now());
    changed();
}

MessageBookkeeping OutboxBookkeeping::entry(const std::string& id) const {
    const auto found = entries_.find(id);
    return found != entries_.end() ? found->second : MessageBookkeeping{};
}

MessageBookkeeping* OutboxBookkeeping::find(const std::string& id) {
    const auto found = entries_.find(id);
    return found != entries_.end() ? &found->second : nullptr;
}

void OutboxBookkeeping::changed() {
    dirty_ = true;
    if (queue_ != nullptr && !saveScheduled_) {
        saveScheduled_ = true;
        queue_->asyncAfter(saveDelay, [this] {
            saveScheduled_ = false;
            save();
        });
    }
    if (listener_) {
        listener_();
    }
}

void OutboxBookkeeping::save() {
    dirty_ = false;
    defaults_.setData(storageKey, encode(entries_, link_));
}

// Each message as a short array, [queuedAt, liveSends, transfers, lastAnswer, heldBack]: read at
// every start for every pending message, where named fields cost twice the time.
platform::Data
OutboxBookkeeping::encode(const std::unordered_map<std::string, MessageBookkeeping>& entries,
                          const LinkBookkeeping& link) {
    Json messages = Json::object();
    for (const auto& [id, entry] : entries) {
        messages[id] =
            Json::array({millis(entry.queuedAt), entry.liveSends, entry.transfers,
                         entry.lastAnswer ? Json(*entry.lastAnswer) : Json(), entry.heldBack});
    }
    const Json record{{"messages", std::move(messages)},
                      {"lastAcknowledgedAt", millis(link.lastAcknowledgedAt)},
                      {"unreachableSince", millis(link.unreachableSince)}};
    // Ids and answers come from the phone too: text that is not UTF-8 is replaced, not thrown on.
    const auto text = record.dump(-1, ' ', false, Json::error_handler_t::replace);
    return platform::Data(text.begin(), text.end());
}

std::optional<std::pair<std::unordered_map<std::string, MessageBookkeeping>, LinkBookkeeping>>
OutboxBookkeeping::decode(std::span<const std::uint8_t> bytes) {
    const auto json = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        return std::nullopt;
    }
    LinkBookkeeping link;
    const auto messages = json.find("messages");
    if (messages == json.end() || !messages->is_object() ||
        !readMillis(field(json, "lastAcknowledgedAt"), link.lastAcknowledgedAt) ||
        !readMillis(field(json, "unreachableSince"), link.unreachableSince)) {
        return std::nullopt;
    }
    std::unordered_map<std::string, MessageBookkeeping> entries;
    entries.reserve(messages->size());
    for (const auto& [id, fields] : messages->items()) {
        MessageBookkeeping entry;
        if (!fields.is_array() || fields.size() != 5 || !readMillis(fields[0], entry.queuedAt) ||
            !readCount(fields[1], entry.liveSends) || !readCount(fields[2], entry.transfers) ||
            !(fields[3].is_null() || fields[3].is_string()) || !fields[4].is_boolean()) {
            continue;
        }
        if (fields[3].is_string()) {
            entry.lastAnswer = fields[3].get<std::string>();
        }
        entry.heldBack = fields[4].get<bool>();
        entries.emplace(id, std::move(entry));
    }
    return std::pair(std::move(entries), link);
}

} // namespace watchsync
