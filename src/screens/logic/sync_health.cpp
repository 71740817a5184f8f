#include "screens/logic/sync_health.hpp"

#include "model/conversions.hpp"
#include "model/status.hpp"
#include "platform/values/bplist.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

namespace screens {

using platform::Dictionary;
using platform::Duration;
using platform::TimePoint;
using platform::Value;

namespace {

const std::string* text(const Dictionary& dictionary, std::string_view key) {
    return model::asString(model::lookup(dictionary, key));
}

std::string numberText(double number) {
    char out[32];
    std::snprintf(out, sizeof out, "%g", number);
    return out;
}

// A field's value as the lifter typed it; the watch sends most as text already.
std::string valueText(std::string_view field, const Value& value) {
    if (const auto* string = value.string()) {
        return *string;
    }
    const auto number = model::asNumber(&value);
    if (!number) {
        return {};
    }
    if (field == "duration") {
        const auto seconds = static_cast<std::int64_t>(*number);
        char out[32];
        std::snprintf(out, sizeof out, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
        return out;
    }
    return numberText(*number);
}

struct FoundSet {
    std::string exerciseName;
    std::size_t number = 0; // 1-based; 0 when the set is not found
};

FoundSet findSet(const WorkoutNames& names, const std::string* setId,
                 const std::string* exerciseId = nullptr) {
    FoundSet found;
    for (const auto& exercise : names.exercises) {
        const auto& sets = exercise->exerciseSets.get();
        for (std::size_t i = 0; setId != nullptr && i < sets.size(); ++i) {
            if (sets[i]->id.get() == *setId) {
                return {exercise->name, i + 1};
            }
        }
        if (exerciseId != nullptr && exercise->id == *exerciseId) {
            found.exerciseName = exercise->name;
        }
    }
    return found;
}

// "set 2 of Back Squat", "a set of Back Squat" or "a set".
std::string setPhrase(const FoundSet& set) {
    if (set.exerciseName.empty()) {
        return "a set";
    }
    if (set.number == 0) {
        return "a set of " + set.exerciseName;
    }
    return "set " + std::to_string(set.number) + " of " + set.exerciseName;
}

std::string capitalized(std::string phrase) {
    if (!phrase.empty() && phrase[0] >= 'a' && phrase[0] <= 'z') {
        phrase[0] = static_cast<char>(phrase[0] - 'a' + 'A');
    }
    return phrase;
}

std::string workoutName(const WorkoutNames& names, const Dictionary& payload) {
    const std::string* id = text(payload, "workoutId");
    if (id == nullptr) {
        id = text(payload, "id");
    }
    if (id == nullptr) {
        return {};
    }
    if (*id == names.workoutId && !names.workoutName.empty()) {
        return names.workoutName;
    }
    for (const auto& workout : names.availableWorkouts) {
        if (workout.id == *id) {
            return workout.name;
        }
    }
    return {};
}

std::string workoutEvent(const WorkoutNames& names, const Dictionary& payload,
                         std::string_view what) {
    const auto name = workoutName(names, payload);
    return (name.empty() ? std::string("Workout") : "Workout " + name) + " " + std::string(what);
}

// The fields of a set edit, in the order a lifter thinks of them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> setFields{{
    {"weight", "Weight"},
    {"reps", "Reps"},
    {"duration", "Duration"},
    {"distance", "Distance"},
    {"repsInReserve", "Reps in reserve"},
    {"ratePerceivedExertion", "Exertion"},
    {"bandColor", "Band"},
    {"type", "Type"},
}};

std::string setEdit(const WorkoutNames& names, const Dictionary& payload) {
    const auto set = findSet(names, text(payload, "id"));
    const auto* status = text(payload, "status");
    if (status != nullptr && *status == model::status::inProgress) {
        return capitalized(setPhrase(set)) + " started";
    }
    for (const auto& [field, label] : setFields) {
        if (const auto* value = model::lookup(payload, field)) {
            return std::string(label) + " of " + setPhrase(set) + ": " + valueText(field, *value);
        }
    }
    return capitalized(setPhrase(set)) + " changed";
}

std::string exerciseName(const WorkoutNames& names, const std::string* id) {
    for (const auto& exercise : names.exercises) {
        if (id != nullptr && exercise->id == *id && !exercise->name.empty()) {
            return exercise->name;
        }
    }
    return {};
}

std::string sinceText(std::string_view prefix, TimePoint when, TimePoint now) {
    const auto waited = now - when;
    if (waited < std::chrono::minutes(1)) {
        return std::string(prefix) + " under a minute";
    }
    return std::string(prefix) + " " + waitText(waited);
}

} // namespace

WorkoutNames WorkoutNames::of(const watchsync::WatchDataSource& data) {
    return {data.workoutId.get(), data.name.get(), data.exercises.get(),
            data.availableWorkouts.get()};
}

std::string describeMessage(const Dictionary& message, const WorkoutNames& names) {
    const std::string* type = text(message, "type");
    const Value* payloadValue = model::lookup(message, "payload");
    const Dictionary payload = payloadValue != nullptr && payloadValue->dictionary() != nullptr
                                   ? *payloadValue->dictionary()
                                   : Dictionary{};
    const std::string kind = type != nullptr ? *type : std::string();
    if (kind == "complete_set") {
        return capitalized(setPhrase(findSet(names, text(payload, "id")))) + " completed";
    }
    if (kind == "add_set") {
        return capitalized(
                   setPhrase(findSet(names, text(payload, "setId"), text(payload, "exerciseId")))) +
               " added";
    }
    if (kind == "update_set") {
        return setEdit(names, payload);
    }
    if (kind == "delete_set") {
        return capitalized(setPhrase(findSet(names, text(payload, "id")))) + " deleted";
    }
    if (kind == "cancel_timer") {
        return "Rest timer stopped";
    }
    if (kind == "create_exercise") {
        const auto* name = text(payload, "name");
        return name != nullptr && !name->empty() ? *name + " added" : "An exercise added";
    }
    if (kind == "delete_exercise") {
        const auto name = exerciseName(names, text(payload, "id"));
        return name.empty() ? "An exercise removed" : name + " removed";
    }
    if (kind == "start_workout") {
        return workoutEvent(names, payload, "started");
    }
    if (kind == "complete_workout") {
        return workoutEvent(names, payload, "finished");
    }
    if (kind == "cancel_workout") {
        return workoutEvent(names, payload, "cancelled");
    }
    if (kind == "refresh_data") {
        return "Request for the iPhone's data";
    }
    return "A change for the iPhone";
}

SyncHealthFacts syncHealthFacts(const watchsync::OutboxHealth& health, const WorkoutNames& names) {
    std::vector<std::optional<Value>> decoded;
    std::vector<const Dictionary*> messages;
    // Reserved: the pointers taken into it must not move.
    decoded.reserve(health.pending.size());
    messages.reserve(health.pending.size());
    for (const auto& pending : health.pending) {
        decoded.push_back(platform::decodeBinaryPlist(pending.message.payload));
        messages.push_back(decoded.back() ? decoded.back()->dictionary() : nullptr);
    }
    return syncHealthFacts(health, names, messages);
}

SyncHealthFacts syncHealthFacts(const watchsync::OutboxHealth& health, const WorkoutNames& names,
                                const std::vector<const Dictionary*>& messages) {
    SyncHealthFacts facts;
    facts.reachable = health.reachable;
    facts.unreachableSince = health.reachable ? std::nullopt : health.link.unreachableSince;
    facts.lastAcknowledgedAt = health.link.lastAcknowledgedAt;
    facts.entries.reserve(health.pending.size());
    for (std::size_t i = 0; i < health.pending.size(); ++i) {
        const auto& [message, book] = health.pending[i];
        const auto* dictionary = i < messages.size() ? messages[i] : nullptr;
        facts.entries.push_back({message.id,
                                 dictionary != nullptr ? describeMessage(*dictionary, names)
                                                       : std::string("A change for the iPhone"),
                                 book.queuedAt, book.liveSends, book.transfers, book.lastAnswer});
    }
    if (!health.pending.empty()) {
        const auto& head = health.pending.front().bookkeeping;
        if (head.heldBack && head.lastAnswer) {
            facts.heldBack = *head.lastAnswer == "Retry" || *head.lastAnswer == "retry"
                                 ? std::string("The iPhone answered \"Retry\"")
                                 : "A transfer failed: " + *head.lastAnswer;
        } else if (!health.reachable) {
            facts.heldBack = "The iPhone is out of reach";
        }
    }
    return facts;
}

namespace {

// Since when the phone has been silent for the rule; nothing when it is in reach with nothing
// waiting (then only an event can wake the indicator).
std::optional<TimePoint> silentSince(const SyncHealthFacts& facts) {
    std::optional<TimePoint> since = facts.lastAcknowledgedAt;
    const auto later = [&](const std::optional<TimePoint>& other) {
        if (other && (!since || *other > *since)) {
            since = other;
        }
    };
    if (facts.waiting() == 0) {
        if (facts.reachable) {
            return std::nullopt;
        }
        later(facts.unreachableSince);
        return since;
    }
    if (!facts.reachable) {
        return TimePoint::min();
    }
    // Unknown after a kill: it has waited at least since the phone last confirmed.
    later(facts.entries.front().queuedAt);
    return since;
}

} // namespace

bool indicatorQuiet(const SyncHealthFacts& facts, TimePoint now) {
    if (facts.waiting() == 0 && facts.reachable) {
        return true;
    }
    const auto since = silentSince(facts);
    return since && *since != TimePoint::min() && now - *since < quietWindow;
}

std::optional<TimePoint> indicatorChangesAt(const SyncHealthFacts& facts, TimePoint now) {
    const auto since = silentSince(facts);
    if (!since || *since == TimePoint::min() || now - *since >= quietWindow) {
        return std::nullopt;
    }
    return *since + quietWindow;
}

std::string waitText(Duration waited) {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(waited).count();
    if (minutes < 1) {
        return "under a minute";
    }
    if (minutes < 60) {
        return std::to_string(minutes) + " min";
    }
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

SyncScreenTexts syncScreenTexts(const SyncHealthFacts& facts, TimePoint now) {
    SyncScreenTexts texts;
    const auto waiting = facts.waiting();
    texts.summary = waiting == 0   ? std::string("Everything is on your iPhone")
                    : waiting == 1 ? std::string("1 change waiting")
                                   : std::to_string(waiting) + " changes waiting";
    if (facts.reachable) {
        texts.reachability = "iPhone in reach";
    } else if (facts.unreachableSince) {
        texts.reachability = sinceText("iPhone out of reach for", *facts.unreachableSince, now);
    } else {
        texts.reachability = "iPhone out of reach";
    }
    texts.lastConfirmed =
        facts.lastAcknowledgedAt
            ? sinceText("Last confirmed by iPhone", *facts.lastAcknowledgedAt, now) + " ago"
            : std::string("Not confirmed by iPhone yet");
    // "…under a minute ago" reads badly; the wait texts keep the plain form.
    if (facts.lastAcknowledgedAt && now - *facts.lastAcknowledgedAt < std::chrono::minutes(1)) {
        texts.lastConfirmed = "Last confirmed by iPhone just now";
    }
    texts.heldBack = facts.heldBack.value_or("");
    for (const auto& entry : facts.entries) {
        std::string how;
        if (entry.liveSends > 0 && entry.transfers > 0) {
            how = "sent live and by transfer";
        } else if (entry.transfers > 0) {
            how = "sent by transfer";
        } else if (entry.liveSends > 0) {
            how = "sent live";
        } else {
            how = "not sent yet";
        }
        const auto waited = entry.queuedAt ? "Waiting " + waitText(now - *entry.queuedAt)
                                           : std::string("Waiting since before a restart");
        texts.rows.push_back({entry.description, waited + " · " + how});
    }
    return texts;
}

SyncHealth::SyncHealth(platform::Executor& executor, watchsync::WatchSyncOutbox& outbox,
                       watchsync::WatchDataSource& data)
    : executor_(executor), outbox_(outbox), data_(data), relay_(std::make_shared<Relay>()) {
    relay_->owner = this;
    outbox_.onHealthChange([relay = relay_, &main = executor.main()] {
        if (relay->posted.exchange(true)) {
            return;
        }
        main.async([relay] {
            relay->posted = false;
            if (relay->owner != nullptr) {
                relay->owner->changed();
            }
        });
    });
    const auto follow = [this](auto& observable) {
        subscriptions_.push_back(observable.observe([this](const auto&) { changed(); }));
    };
    follow(data_.exercises);
    follow(data_.name);
    follow(data_.workoutId);
    follow(data_.availableWorkouts);
    follow(showing);
}

SyncHealth::~SyncHealth() {
    tick_.cancel();
    outbox_.onHealthChange(nullptr);
    relay_->owner = nullptr;
}

const SyncHealthFacts& SyncHealth::facts() {
    if (!facts_) {
        facts_ = syncHealthFacts(outbox_.health(), WorkoutNames::of(data_));
        scheduleTick();
    }
    return *facts_;
}

bool SyncHealth::indicatorShown() {
    return !indicatorQuiet(facts(), executor_.clock().now());
}

bool SyncHealth::open() {
    if (!indicatorShown()) {
        return false;
    }
    showing = true;
    return true;
}

void SyncHealth::sendNow() {
    outbox_.flush();
}

void SyncHealth::changed() {
    facts_.reset();
    revision = revision.get() + 1;
}

void SyncHealth::scheduleTick() {
    tick_.cancel();
    const auto now = executor_.clock().now();
    auto at = indicatorChangesAt(*facts_, now);
    // The screen's wait texts move on whole minutes of the oldest change.
    if (showing.get() && !facts_->entries.empty() && facts_->entries.front().queuedAt) {
        const auto waited = now - *facts_->entries.front().queuedAt;
        const auto next = now + (std::chrono::minutes(1) - waited % std::chrono::minutes(1));
        at = at ? std::min(*at, next) : next;
    }
    if (at) {
        tick_ = executor_.main().asyncAfter(*at - now, [this] { changed(); });
    }
}

} // namespace screens
