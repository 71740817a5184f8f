#pragma once

#include "platform/exec/clock.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phone {

// One message from the watch's outbox, as the phone first received it.
struct LogbookEntry {
    // 1, 2, 3... in arrival order (entries are never removed, so never reused).
    std::int64_t number = 0;
    std::string syncId;
    std::string type;
    // The whole message as compact JSON.
    std::string messageJson;
    // Kept to the millisecond.
    platform::TimePoint arrivedAt;

    bool operator==(const LogbookEntry&) const = default;
};

// A workout the watch completed, as the phone keeps it: the workout dictionary with its sets as
// the watch reported them.
struct FinishedWorkout {
    // The sync id of the watch's completion event.
    std::string syncId;
    std::string workoutId;
    // Milliseconds since 1970, when the watch's user completed it.
    double completedAtMs = 0;
    // The workout as compact JSON.
    std::string workoutJson;

    bool operator==(const FinishedWorkout&) const = default;
};

// What record() did with a message.
struct Recorded {
    std::int64_t number = 0; // the entry that holds the sync id
    bool repeat = false;     // the sync id was recorded before; nothing was written
};

// The phone's own records in one SQLite file: every sync id the watch sent, once, in arrival
// order, and the revision counter of the states sent back. Each write is durable when the call
// returns, so a restart loses nothing. Not thread-safe: its owner's queue uses it.
class Logbook {
public:
    // Creates the file when missing; nothing (with the reason in *error) when it cannot be
    // opened or is not a logbook.
    static std::unique_ptr<Logbook> open(const std::filesystem::path& file,
                                         std::string* error = nullptr);
    ~Logbook();
    Logbook(const Logbook&) = delete;
    Logbook& operator=(const Logbook&) = delete;

    const std::filesystem::path& file() const { return file_; }

    // Nothing (with the reason in *error) when the write failed.
    std::optional<Recorded> record(std::string_view syncId, std::string_view type,
                                   std::string_view messageJson, platform::TimePoint arrivedAt,
                                   std::string* error = nullptr);

    // Oldest first.
    std::vector<LogbookEntry> entries() const;
    std::optional<LogbookEntry> find(std::string_view syncId) const;

    // The newest revision handed out, 0 before the first.
    std::int64_t revision() const;
    // Hands out the next revision, stored before it returns; nothing when it cannot be stored,
    // because a revision that might be handed out again is worse than none.
    std::optional<std::int64_t> takeNextRevision(std::string* error = nullptr);
    // The same for any named counter (revision() is the counter "syncRevision").
    std::int64_t counter(std::string_view name) const;
    std::optional<std::int64_t> takeNext(std::string_view name, std::string* error = nullptr);

    // Recorded events whose effect the phone has taken on, so that each takes effect once even
    // when its first arrivals were turned away.
    bool markApplied(std::string_view syncId, std::string* error = nullptr);
    bool wasApplied(std::string_view syncId) const;

    // False when the write failed; a second completion with the same sync id is not kept.
    bool recordFinishedWorkout(const FinishedWorkout& workout, std::string* error = nullptr);
    // Oldest first.
    std::vector<FinishedWorkout> finishedWorkouts() const;

    struct Database;
    // Only open() can make the key, so a Logbook always has a working database.
    class Key {
        friend class Logbook;
        Key() = default;
    };
    Logbook(Key, std::filesystem::path file, std::unique_ptr<Database> database);

private:
    std::filesystem::path file_;
    std::unique_ptr<Database> database_;
};

} // namespace phone
