#include "phone/workout_feed.hpp"

#include "platform/values/json.hpp"

#include <algorithm>
#include <set>

namespace phone {

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

const std::string* idOf(const Value& exercise) {
    const auto* dictionary = exercise.dictionary();
    if (dictionary == nullptr) {
        return nullptr;
    }
    auto found = dictionary->find("id");
    return found != dictionary->end() ? found->second.string() : nullptr;
}

const Value* findById(const Array& exercises, std::string_view id) {
    for (const auto& exercise : exercises) {
        if (const auto* own = idOf(exercise); own != nullptr && *own == id) {
            return &exercise;
        }
    }
    return nullptr;
}

} // namespace

WorkoutFeed::WorkoutFeed(Dictionary workout) : workout_(std::move(workout)) {
    if (mutableExercises() == nullptr) {
        workout_.insert_or_assign("exercises", Array{});
    }
}

const Array& WorkoutFeed::exercises() const {
    static const Array none;
    auto found = workout_.find("exercises");
    return found != workout_.end() && found->second.array() != nullptr ? *found->second.array()
                                                                       : none;
}

Array* WorkoutFeed::mutableExercises() {
    auto found = workout_.find("exercises");
    return found != workout_.end() ? found->second.get<Array>() : nullptr;
}

bool WorkoutFeed::updateExercise(std::string_view id, const Dictionary& fields) {
    auto* exercises = mutableExercises();
    for (auto& exercise : *exercises) {
        const auto* own = idOf(exercise);
        if (own == nullptr || *own != id) {
            continue;
        }
        auto& dictionary = *exercise.get<Dictionary>();
        for (const auto& [key, value] : fields) {
            if (key != "id") {
                dictionary.insert_or_assign(key, value);
            }
        }
        return true;
    }
    return false;
}

bool WorkoutFeed::addExercise(Dictionary exercise) {
    auto id = exercise.find("id");
    if (id == exercise.end() || id->second.string() == nullptr || id->second.string()->empty() ||
        findById(exercises(), *id->second.string()) != nullptr) {
        return false;
    }
    mutableExercises()->push_back(std::move(exercise));
    return true;
}

bool WorkoutFeed::removeExercise(std::string_view id) {
    auto* exercises = mutableExercises();
    auto found = std::find_if(exercises->begin(), exercises->end(), [id](const Value& exercise) {
        const auto* own = idOf(exercise);
        return own != nullptr && *own == id;
    });
    if (found == exercises->end()) {
        return false;
    }
    exercises->erase(found);
    return true;
}

bool WorkoutFeed::reorder(const std::vector<std::string>& order) {
    auto* exercises = mutableExercises();
    if (order.size() != exercises->size() ||
        std::set<std::string>(order.begin(), order.end()).size() != order.size()) {
        return false;
    }
    Array sorted;
    for (const auto& id : order) {
        const auto* exercise = findById(*exercises, id);
        if (exercise == nullptr) {
            return false;
        }
        sorted.push_back(*exercise);
    }
    *exercises = std::move(sorted);
    return true;
}

bool WorkoutFeed::setStatus(std::string status) {
    if (status.empty()) {
        return false;
    }
    workout_.insert_or_assign("status", std::move(status));
    return true;
}

void WorkoutFeed::setDateStarted(double millis) {
    workout_.insert_or_assign("dateStarted", millis);
}

void WorkoutFeed::clearDateStarted() {
    workout_.erase("dateStarted");
}

namespace {

// The exercise's sets; `create` adds an empty list to an exercise that has none.
Array* setsOf(Value& exercise, bool create = false) {
    auto* dictionary = exercise.get<Dictionary>();
    if (dictionary == nullptr) {
        return nullptr;
    }
    auto sets = dictionary->find("exerciseSets");
    if (sets == dictionary->end() || sets->second.array() == nullptr) {
        if (!create) {
            return nullptr;
        }
        dictionary->insert_or_assign("exerciseSets", Array{});
        sets = dictionary->find("exerciseSets");
    }
    return sets->second.get<Array>();
}

} // namespace

bool WorkoutFeed::updateSet(std::string_view setId, const Dictionary& fields) {
    for (auto& exercise : *mutableExercises()) {
        auto* sets = setsOf(exercise);
        if (sets == nullptr) {
            continue;
        }
        for (auto& set : *sets) {
            const auto* own = idOf(set);
            if (own == nullptr || *own != setId) {
                continue;
            }
            auto& dictionary = *set.get<Dictionary>();
            for (const auto& [key, value] : fields) {
                if (key != "id") {
                    dictionary.insert_or_assign(key, value);
                }
            }
            return true;
        }
    }
    return false;
}

bool WorkoutFeed::addSet(std::string_view exerciseId, Dictionary set) {
    auto id = set.find("id");
    if (id == set.end() || id->second.string() == nullptr || id->second.string()->empty() ||
        findSet(*id->second.string()) != nullptr) {
        return false;
    }
    for (auto& exercise : *mutableExercises()) {
        const auto* own = idOf(exercise);
        if (own != nullptr && *own == exerciseId) {
            setsOf(exercise, true)->push_back(std::move(set));
            return true;
        }
    }
    return false;
}

bool WorkoutFeed::removeSet(std::string_view setId) {
    for (auto& exercise : *mutableExercises()) {
        auto* sets = setsOf(exercise);
        if (sets == nullptr) {
            continue;
        }
        auto found = std::find_if(sets->begin(), sets->end(), [setId](const Value& set) {
            const auto* own = idOf(set);
            return own != nullptr && *own == setId;
        });
        if (found != sets->end()) {
            sets->erase(found);
            return true;
        }
    }
    return false;
}

const Dictionary* WorkoutFeed::findSet(std::string_view setId) const {
    for (const auto& exercise : exercises()) {
        const auto* sets = exercise.find("exerciseSets");
        if (sets == nullptr || sets->array() == nullptr) {
            continue;
        }
        for (const auto& set : *sets->array()) {
            const auto* own = idOf(set);
            if (own != nullptr && *own == setId) {
                return set.dictionary();
            }
        }
    }
    return nullptr;
}

const Dictionary* WorkoutFeed::findExercise(std::string_view exerciseId) const {
    const auto* exercise = findById(exercises(), exerciseId);
    return exercise != nullptr ? exercise->dictionary() : nullptr;
}

Dictionary WorkoutFeed::header() const {
    Dictionary header;
    for (const char* key : {"id", "name", "status", "dateStarted"}) {
        if (auto field = workout_.find(key); field != workout_.end()) {
            header.emplace(key, field->second);
        }
    }
    return header;
}

void WorkoutFeed::remember(double revision) {
    sent_.insert_or_assign(revision, exercises());
    while (sent_.size() > historyLimit) {
        sent_.erase(sent_.begin());
    }
}

Dictionary WorkoutFeed::snapshot(double revision) {
    remember(revision);
    return Dictionary{
        {"syncRevision", revision}, {"workout", header()}, {"exercises", exercises()}};
}

std::optional<Dictionary> WorkoutFeed::delta(double revision) {
    if (!confirmed_ || !sent_.contains(*confirmed_)) {
        return std::nullopt;
    }
    // Every state sent since the confirmed one may be what the watch holds now.
    auto since = sent_.find(*confirmed_);
    const auto& current = exercises();
    Array updates;
    for (const auto& exercise : current) {
        bool changed = std::any_of(since, sent_.end(), [&](const auto& sent) {
            const auto* before = findById(sent.second, *idOf(exercise));
            return before == nullptr || *before != exercise;
        });
        if (changed) {
            updates.push_back(exercise);
        }
    }
    std::set<std::string> removed;
    for (auto state = since; state != sent_.end(); ++state) {
        for (const auto& exercise : state->second) {
            const auto* id = idOf(exercise);
            if (id != nullptr && findById(current, *id) == nullptr) {
                removed.insert(*id);
            }
        }
    }
    Array order;
    for (const auto& exercise : current) {
        order.push_back(*idOf(exercise));
    }
    remember(revision);
    return Dictionary{{"syncRevision", revision},
                      {"syncSnapshotKind", "delta"},
                      {"exerciseUpdates", std::move(updates)},
                      {"removedExerciseIds", Array(removed.begin(), removed.end())},
                      {"exerciseOrder", std::move(order)}};
}

WorkoutFeed::File WorkoutFeed::snapshotFile(double revision) {
    Dictionary document{{"kind", "full_snapshot"},
                        {"protocolVersion", std::int64_t{2}},
                        {"revision", revision},
                        {"snapshot", snapshot(revision)}};
    auto text = platform::toJsonText(Value(std::move(document)));
    return File{platform::Data(text.begin(), text.end()),
                Dictionary{{"syncPayloadKind", "full_snapshot"},
                           {"syncProtocolVersion", std::int64_t{2}},
                           {"syncRevision", revision}}};
}

void WorkoutFeed::confirm(double revision) {
    if (!confirmed_ || revision > *confirmed_) {
        confirmed_ = revision;
    }
}

void WorkoutFeed::forgetConfirmation() {
    confirmed_.reset();
}

std::optional<Array> WorkoutFeed::sentAt(double revision) const {
    auto found = sent_.find(revision);
    return found != sent_.end() ? std::optional<Array>(found->second) : std::nullopt;
}

} // namespace phone
