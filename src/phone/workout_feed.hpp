#pragma once

#include "platform/values/value.hpp"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phone {

// The phone's current workout as it changes, and what to send the watch so that its copy
// follows. Live messages may be lost, repeated or overtaken, and the watch refuses anything
// older than what it has, so a delta is always cumulative from the newest state the watch
// confirmed: applied on top of any state the watch may hold since then, it gives the current
// one. With no confirmed state there is no delta, only a full snapshot.
class WorkoutFeed {
public:
    // How many sent states are kept for building deltas and for tests to look back at.
    static constexpr std::size_t historyLimit = 256;

    // A workout dictionary of the plan: "id", "name", "status" and "exercises".
    explicit WorkoutFeed(platform::Dictionary workout);

    const platform::Dictionary& workout() const { return workout_; }
    const platform::Array& exercises() const;

    // Edits; each is false, changing nothing, when it does not fit the workout.
    // Merges `fields` into the exercise with that id ("id" itself cannot change).
    bool updateExercise(std::string_view id, const platform::Dictionary& fields);
    // Needs a new, non-empty string "id".
    bool addExercise(platform::Dictionary exercise);
    bool removeExercise(std::string_view id);
    // `order` must name every exercise exactly once.
    bool reorder(const std::vector<std::string>& order);
    bool setStatus(std::string status);
    // Sets, found by id in any exercise. Merging leaves "id" alone.
    bool updateSet(std::string_view setId, const platform::Dictionary& fields);
    // Appends to the exercise's sets; needs a new string "id".
    bool addSet(std::string_view exerciseId, platform::Dictionary set);
    bool removeSet(std::string_view setId);
    // The set's dictionary, while the workout has it.
    const platform::Dictionary* findSet(std::string_view setId) const;
    const platform::Dictionary* findExercise(std::string_view exerciseId) const;
    // Milliseconds since 1970, as the phone reports when a workout began.
    void setDateStarted(double millis);
    void clearDateStarted();

    // The messages, each remembered as sent at its revision.
    platform::Dictionary snapshot(double revision);
    // Nothing when the watch has confirmed no state since the last reset.
    std::optional<platform::Dictionary> delta(double revision);
    // The full snapshot as a file: JSON contents and the transfer's metadata.
    struct File {
        platform::Data contents;
        platform::Dictionary metadata;
    };
    File snapshotFile(double revision);

    // The watch answered the message of that revision: it holds that state or a newer one.
    void confirm(double revision);
    // The watch lost its state (it restarted or refused ours): deltas wait for a new snapshot.
    void forgetConfirmation();
    std::optional<double> confirmedRevision() const { return confirmed_; }

    // The exercises as sent at that revision, while it is kept.
    std::optional<platform::Array> sentAt(double revision) const;

private:
    platform::Dictionary header() const;
    void remember(double revision);
    platform::Array* mutableExercises();

    platform::Dictionary workout_;
    std::map<double, platform::Array> sent_;
    std::optional<double> confirmed_;
};

} // namespace phone
