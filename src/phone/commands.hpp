#pragma once

#include "phone/command_sender.hpp"
#include "platform/exec/clock.hpp"
#include "platform/values/value.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// phone-sim's line-based command language (docs/phone-sim.md): one command per line, a word and
// its arguments, JSON where a dictionary is expected.
namespace phone {

namespace command {
struct Send {
    platform::Dictionary message;
    bool operator==(const Send&) const = default;
};
struct Request {
    platform::Dictionary message;
    bool operator==(const Request&) const = default;
};
struct Transfer {
    platform::Dictionary userInfo;
    bool operator==(const Transfer&) const = default;
};
struct Context {
    platform::Dictionary context;
    bool operator==(const Context&) const = default;
};
struct File {
    platform::Dictionary metadata;
    platform::Data contents;
    bool operator==(const File&) const = default;
};
struct StartWorkout {
    platform::Dictionary configuration;
    bool operator==(const StartWorkout&) const = default;
};
// Nothing: leave outbox messages unanswered.
struct Ack {
    std::optional<std::string> status;
    bool operator==(const Ack&) const = default;
};
struct FailTransfers {
    bool on = false;
    bool operator==(const FailTransfers&) const = default;
};
struct Reachable {
    bool on = true;
    bool operator==(const Reachable&) const = default;
};
struct Workout {
    std::size_t index = 0;
    bool operator==(const Workout&) const = default;
};
struct Snapshot {
    bool operator==(const Snapshot&) const = default;
};
struct SnapshotFile {
    bool operator==(const SnapshotFile&) const = default;
};
struct ExerciseChange {
    std::string id;
    platform::Dictionary fields;
    bool operator==(const ExerciseChange&) const = default;
};
struct ExerciseAdd {
    platform::Dictionary exercise;
    bool operator==(const ExerciseAdd&) const = default;
};
struct ExerciseRemove {
    std::string id;
    bool operator==(const ExerciseRemove&) const = default;
};
struct ExerciseOrder {
    std::vector<std::string> ids;
    bool operator==(const ExerciseOrder&) const = default;
};
struct WorkoutStatus {
    std::string status;
    bool operator==(const WorkoutStatus&) const = default;
};
struct TimerCorrect {
    double seconds = 0;
    bool operator==(const TimerCorrect&) const = default;
};
struct TimerStop {
    bool operator==(const TimerStop&) const = default;
};
struct Catalogues {
    bool operator==(const Catalogues&) const = default;
};
struct PlateUpdate {
    platform::Dictionary plate;
    bool operator==(const PlateUpdate&) const = default;
};
struct PlateRemove {
    std::string id;
    bool operator==(const PlateRemove&) const = default;
};
struct WorkoutRetire {
    std::string id;
    bool operator==(const WorkoutRetire&) const = default;
};
// Commands to the watch and the tricks a script plays with them.
struct Session {
    SessionAction action = SessionAction::start;
    // Nothing: the current workout.
    std::optional<std::string> workoutId;
    bool saveToHealth = true;
    bool operator==(const Session&) const = default;
};
struct HealthSync {
    bool on = true;
    bool operator==(const HealthSync&) const = default;
};
struct Hold {
    bool on = true;
    bool operator==(const Hold&) const = default;
};
// Empty: every held command, in the order held.
struct Release {
    std::vector<std::size_t> positions;
    bool operator==(const Release&) const = default;
};
// Nothing: the last command sent.
struct Resend {
    std::optional<std::string> commandId;
    bool operator==(const Resend&) const = default;
};
struct Age {
    enum class What { sequence, revision };
    What what = What::sequence;
    double value = 0;
    bool operator==(const Age&) const = default;
};
// The exercise catalogue.
struct ReferenceExercises {
    bool inContext = false;
    bool operator==(const ReferenceExercises&) const = default;
};
struct ReferenceFile {
    bool operator==(const ReferenceFile&) const = default;
};
struct ReferenceUpdate {
    platform::Dictionary entry;
    bool operator==(const ReferenceUpdate&) const = default;
};
struct ReferenceRemove {
    std::string id;
    bool operator==(const ReferenceRemove&) const = default;
};
struct ReferenceOrder {
    std::vector<std::string> ids;
    bool operator==(const ReferenceOrder&) const = default;
};
struct Wait {
    platform::Duration duration{};
    bool operator==(const Wait&) const = default;
};
struct WaitFor {
    std::string type;
    platform::Duration timeout{};
    bool operator==(const WaitFor&) const = default;
};
struct Logbook {
    bool operator==(const Logbook&) const = default;
};
struct Status {
    bool operator==(const Status&) const = default;
};
struct Help {
    bool operator==(const Help&) const = default;
};
struct Quit {
    bool operator==(const Quit&) const = default;
};
} // namespace command

using Command = std::variant<
    command::Send, command::Request, command::Transfer, command::Context, command::File,
    command::StartWorkout, command::Ack, command::FailTransfers, command::Reachable,
    command::Workout, command::Snapshot, command::SnapshotFile, command::ExerciseChange,
    command::ExerciseAdd, command::ExerciseRemove, command::ExerciseOrder, command::WorkoutStatus,
    command::TimerCorrect, command::TimerStop, command::Catalogues, command::PlateUpdate,
    command::PlateRemove, command::WorkoutRetire, command::Session, command::HealthSync,
    command::Hold, command::Release, command::Resend, command::Age, command::ReferenceExercises,
    command::ReferenceFile, command::ReferenceUpdate, command::ReferenceRemove,
    command::ReferenceOrder, command::Wait, command::WaitFor, command::Logbook, command::Status,
    command::Help, command::Quit>;

// How long `wait-for TYPE` waits when the line gives no timeout.
inline constexpr platform::Duration defaultWaitForTimeout = std::chrono::seconds(30);
// Longer waits are refused as typing mistakes.
inline constexpr platform::Duration longestWait = std::chrono::hours(24);

// The start-workout configuration when the line gives none: traditional strength training,
// indoors.
platform::Dictionary defaultWorkoutConfiguration();

struct ParsedLine {
    // Empty for blank lines and comments, and when the line is wrong.
    std::optional<Command> command;
    // Why the line is wrong; empty when it is not.
    std::string error;
};

ParsedLine parseCommand(std::string_view line);

// One line per command, for `help` and --help.
std::string_view commandHelp();

} // namespace phone
