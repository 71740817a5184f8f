#include "phone/commands.hpp"

#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

namespace phone {

namespace {

constexpr std::string_view blanks = " \t\r\n";

std::string_view trim(std::string_view text) {
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// The first word and what follows it, trimmed.
std::pair<std::string_view, std::string_view> splitWord(std::string_view text) {
    auto end = text.find_first_of(blanks);
    if (end == std::string_view::npos) {
        return {text, {}};
    }
    return {text.substr(0, end), trim(text.substr(end))};
}

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// The parser's own words say where the text went wrong; parseJson only says that it did.
std::string jsonProblem(std::string_view text) {
    try {
        [[maybe_unused]] auto document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        std::string_view what = e.what();
        if (auto prefix = what.find("] "); what.starts_with("[json.") && prefix != what.npos) {
            what.remove_prefix(prefix + 2);
        }
        return std::string(what);
    }
    return "too deeply nested or not valid UTF-8";
}

std::string_view kindPhrase(platform::ValueKind kind) {
    switch (kind) {
    case platform::ValueKind::array:
        return "an array";
    case platform::ValueKind::string:
        return "a string";
    case platform::ValueKind::null:
        return "null";
    case platform::ValueKind::boolean:
        return "a Boolean";
    default:
        return "a number";
    }
}

// A dictionary the link can carry, or the reason why the text is not one.
std::optional<platform::Dictionary> dictionaryArgument(std::string_view word, std::string_view text,
                                                       std::string& error) {
    if (text.empty()) {
        error = std::string(word) + " needs a JSON object, e.g. " + std::string(word) +
                R"( {"type": "ping"})";
        return std::nullopt;
    }
    auto value = platform::parseJson(text);
    if (!value) {
        error = std::string(word) + ": the argument is not valid JSON: " + jsonProblem(text);
        return std::nullopt;
    }
    const auto* dictionary = value->dictionary();
    if (dictionary == nullptr) {
        error = std::string(word) + " needs a JSON object, got " +
                std::string(kindPhrase(value->kind()));
        return std::nullopt;
    }
    if (!platform::isPropertyList(*value)) {
        error = std::string(word) + ": the object holds null, which the link cannot carry";
        return std::nullopt;
    }
    return *dictionary;
}

// Where a JSON object that starts the text ends (one past its closing brace).
std::optional<std::size_t> objectEnd(std::string_view text) {
    if (!text.starts_with('{')) {
        return std::nullopt;
    }
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0) {
                return i + 1;
            }
        }
    }
    return std::nullopt;
}

std::optional<bool> onOff(std::string_view text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

std::optional<platform::Duration> seconds(std::string_view text) {
    double value = 0;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0) {
        return std::nullopt;
    }
    auto duration = std::chrono::duration<double>(value);
    if (duration > longestWait) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<platform::Duration>(duration);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

ParsedLine failure(std::string error) {
    return ParsedLine{std::nullopt, std::move(error)};
}
ParsedLine success(Command command) {
    return ParsedLine{std::move(command), {}};
}

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    for (auto remaining = text; !remaining.empty();) {
        auto [word, after] = splitWord(remaining);
        result.emplace_back(word);
        remaining = after;
    }
    return result;
}

std::optional<double> finiteNumber(std::string_view text) {
    double value = 0;
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || problem != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<SessionAction> sessionAction(std::string_view word) {
    for (auto action : {SessionAction::start, SessionAction::finish, SessionAction::stop,
                        SessionAction::cancel, SessionAction::pause, SessionAction::resume}) {
        if (word == "session-" + std::string(describe(action))) {
            return action;
        }
    }
    return std::nullopt;
}

ParsedLine parseSession(SessionAction action, std::string_view word, std::string_view rest) {
    auto arguments = words(rest);
    command::Session session{action, std::nullopt, true};
    if (action == SessionAction::finish && !arguments.empty() &&
        (arguments.front() == "save" || arguments.front() == "discard")) {
        session.saveToHealth = arguments.front() == "save";
        arguments.erase(arguments.begin());
    }
    if (arguments.size() > 1) {
        return failure(std::string(word) +
                       (action == SessionAction::finish ? " takes save or discard and" : " takes") +
                       " at most a workout id, got " + inQuotes(rest));
    }
    if (!arguments.empty()) {
        session.workoutId = arguments.front();
    }
    return success(std::move(session));
}

ParsedLine parseFile(std::string_view rest) {
    auto end = objectEnd(rest);
    if (!end) {
        return failure(
            R"(file needs a JSON object of metadata, then the contents, e.g. file {"name": "a.txt"} hello)");
    }
    std::string error;
    auto metadata = dictionaryArgument("file", rest.substr(0, *end), error);
    if (!metadata) {
        return failure(error);
    }
    auto text = trim(rest.substr(*end));
    std::string contents(text);
    // A JSON string gives the contents escapes, and leading or trailing blanks.
    if (text.starts_with('"')) {
        auto value = platform::parseJson(text);
        if (!value || value->string() == nullptr) {
            return failure("file: the contents start with a quote but are not a JSON string: " +
                           jsonProblem(text));
        }
        contents = *value->string();
    }
    return success(
        command::File{std::move(*metadata), platform::Data(contents.begin(), contents.end())});
}

} // namespace

platform::Dictionary defaultWorkoutConfiguration() {
    return {{"activityType", 50}, {"locationType", 2}};
}

ParsedLine parseCommand(std::string_view line) {
    auto text = trim(line);
    if (text.empty() || text.starts_with('#')) {
        return {};
    }
    // Plain variables, not a structured binding: the lambdas below capture them, which clang 14
    // refuses for bindings.
    const auto split = splitWord(text);
    const std::string_view word = split.first;
    const std::string_view rest = split.second;
    std::string error;

    auto noArguments = [&](Command command) {
        if (!rest.empty()) {
            return failure(std::string(word) + " takes no arguments, got " + inQuotes(rest));
        }
        return success(std::move(command));
    };
    auto dictionaryCommand = [&](auto make) {
        auto dictionary = dictionaryArgument(word, rest, error);
        return dictionary ? success(make(std::move(*dictionary))) : failure(error);
    };
    auto switchCommand = [&](auto make) {
        auto on = onOff(rest);
        return on ? success(make(*on))
                  : failure(std::string(word) + " needs on or off, got " + inQuotes(rest));
    };

    if (word == "send") {
        return dictionaryCommand([](auto d) { return command::Send{std::move(d)}; });
    }
    if (word == "request") {
        return dictionaryCommand([](auto d) { return command::Request{std::move(d)}; });
    }
    if (word == "transfer") {
        return dictionaryCommand([](auto d) { return command::Transfer{std::move(d)}; });
    }
    if (word == "context") {
        return dictionaryCommand([](auto d) { return command::Context{std::move(d)}; });
    }
    if (word == "file") {
        return parseFile(rest);
    }
    if (word == "start-workout") {
        if (rest.empty()) {
            return success(command::StartWorkout{defaultWorkoutConfiguration()});
        }
        return dictionaryCommand([](auto d) { return command::StartWorkout{std::move(d)}; });
    }
    if (word == "ack") {
        if (rest.empty()) {
            return failure("ack needs success, retry, none or the status text to answer with");
        }
        if (equalsIgnoringCase(rest, "success")) {
            return success(command::Ack{"Success"});
        }
        if (equalsIgnoringCase(rest, "retry")) {
            return success(command::Ack{"Retry"});
        }
        if (equalsIgnoringCase(rest, "none")) {
            return success(command::Ack{std::nullopt});
        }
        return success(command::Ack{std::string(rest)});
    }
    if (word == "fail-transfers") {
        return switchCommand([](bool on) { return command::FailTransfers{on}; });
    }
    if (word == "reachable") {
        return switchCommand([](bool on) { return command::Reachable{on}; });
    }
    if (word == "workout") {
        std::size_t index = 0;
        auto [end, problem] = std::from_chars(rest.data(), rest.data() + rest.size(), index);
        if (rest.empty() || problem != std::errc() || end != rest.data() + rest.size()) {
            return failure("workout needs the workout's number in the plan (0 = the first), got " +
                           inQuotes(rest));
        }
        return success(command::Workout{index});
    }
    if (word == "wait") {
        auto duration = seconds(rest);
        if (!duration) {
            return failure("wait needs a number of seconds from 0 to 86400, got " + inQuotes(rest));
        }
        return success(command::Wait{*duration});
    }
    if (word == "wait-for") {
        auto [type, timeoutText] = splitWord(rest);
        if (type.empty()) {
            return failure("wait-for needs the message type to wait for, e.g. wait-for "
                           "complete_set");
        }
        auto timeout =
            timeoutText.empty() ? std::optional(defaultWaitForTimeout) : seconds(timeoutText);
        if (!timeout) {
            return failure("wait-for: the timeout must be a number of seconds from 0 to 86400, "
                           "got " +
                           inQuotes(timeoutText));
        }
        return success(command::WaitFor{std::string(type), *timeout});
    }
    if (word == "snapshot") {
        return noArguments(command::Snapshot{});
    }
    if (word == "snapshot-file") {
        return noArguments(command::SnapshotFile{});
    }
    if (word == "exercise-change") {
        auto [id, fields] = splitWord(rest);
        if (id.empty()) {
            return failure(
                R"(exercise-change needs the exercise's id and a JSON object of fields, e.g. exercise-change e1 {"name": "Squat"})");
        }
        auto dictionary = dictionaryArgument(word, fields, error);
        return dictionary
                   ? success(command::ExerciseChange{std::string(id), std::move(*dictionary)})
                   : failure(error);
    }
    if (word == "exercise-add") {
        return dictionaryCommand([](auto d) { return command::ExerciseAdd{std::move(d)}; });
    }
    if (word == "exercise-remove") {
        auto [id, extra] = splitWord(rest);
        if (id.empty() || !extra.empty()) {
            return failure("exercise-remove needs exactly one exercise id, got " + inQuotes(rest));
        }
        return success(command::ExerciseRemove{std::string(id)});
    }
    if (word == "exercise-order") {
        std::vector<std::string> ids;
        for (auto remaining = rest; !remaining.empty();) {
            auto [id, after] = splitWord(remaining);
            ids.emplace_back(id);
            remaining = after;
        }
        if (ids.empty()) {
            return failure(
                "exercise-order needs every exercise id of the workout, in the new order");
        }
        return success(command::ExerciseOrder{std::move(ids)});
    }
    if (word == "timer-correct") {
        auto duration = seconds(rest);
        if (!duration) {
            return failure(
                "timer-correct needs the timer's new length in seconds (0 to 86400), got " +
                inQuotes(rest));
        }
        return success(command::TimerCorrect{std::chrono::duration<double>(*duration).count()});
    }
    if (word == "timer-stop") {
        return noArguments(command::TimerStop{});
    }
    if (word == "catalogues") {
        return noArguments(command::Catalogues{});
    }
    if (word == "plate-update") {
        return dictionaryCommand([](auto d) { return command::PlateUpdate{std::move(d)}; });
    }
    if (word == "plate-remove") {
        auto [id, extra] = splitWord(rest);
        if (id.empty() || !extra.empty()) {
            return failure("plate-remove needs exactly one plate id, got " + inQuotes(rest));
        }
        return success(command::PlateRemove{std::string(id)});
    }
    if (word == "workout-done") {
        auto [id, extra] = splitWord(rest);
        if (id.empty() || !extra.empty()) {
            return failure("workout-done needs exactly one workout id, got " + inQuotes(rest));
        }
        return success(command::WorkoutRetire{std::string(id)});
    }
    if (word == "workout-status") {
        auto [status, extra] = splitWord(rest);
        if (status.empty() || !extra.empty()) {
            return failure("workout-status needs one status word, e.g. IN_PROGRESS, got " +
                           inQuotes(rest));
        }
        return success(command::WorkoutStatus{std::string(status)});
    }
    if (auto action = sessionAction(word)) {
        return parseSession(*action, word, rest);
    }
    if (word == "health-sync") {
        return switchCommand([](bool on) { return command::HealthSync{on}; });
    }
    if (word == "hold") {
        return switchCommand([](bool on) { return command::Hold{on}; });
    }
    if (word == "release") {
        std::vector<std::size_t> positions;
        for (const auto& position : words(rest)) {
            std::size_t value = 0;
            auto [end, problem] =
                std::from_chars(position.data(), position.data() + position.size(), value);
            if (problem != std::errc() || end != position.data() + position.size() || value == 0) {
                return failure("release takes the held commands' positions (1 = the first held), "
                               "got " +
                               inQuotes(position));
            }
            positions.push_back(value);
        }
        return success(command::Release{std::move(positions)});
    }
    if (word == "resend") {
        auto arguments = words(rest);
        if (arguments.size() > 1) {
            return failure("resend takes at most one command id, got " + inQuotes(rest));
        }
        return success(
            command::Resend{arguments.empty() ? std::nullopt : std::optional(arguments.front())});
    }
    if (word == "age") {
        auto [what, valueText] = splitWord(rest);
        auto value = finiteNumber(valueText);
        if ((what != "sequence" && what != "revision") || !value) {
            return failure(
                "age needs sequence or revision and a number, e.g. age sequence 1, got " +
                inQuotes(rest));
        }
        return success(command::Age{what == "sequence" ? command::Age::What::sequence
                                                       : command::Age::What::revision,
                                    *value});
    }
    if (word == "reference-exercises") {
        if (rest.empty() || rest == "context") {
            return success(command::ReferenceExercises{rest == "context"});
        }
        return failure("reference-exercises takes nothing or context, got " + inQuotes(rest));
    }
    if (word == "reference-file") {
        return noArguments(command::ReferenceFile{});
    }
    if (word == "reference-update") {
        return dictionaryCommand([](auto d) { return command::ReferenceUpdate{std::move(d)}; });
    }
    if (word == "reference-remove") {
        auto [id, extra] = splitWord(rest);
        if (id.empty() || !extra.empty()) {
            return failure("reference-remove needs exactly one catalogue entry id, got " +
                           inQuotes(rest));
        }
        return success(command::ReferenceRemove{std::string(id)});
    }
    if (word == "reference-order") {
        auto ids = words(rest);
        if (ids.empty()) {
            return failure("reference-order needs every catalogue entry id, in the new order");
        }
        return success(command::ReferenceOrder{std::move(ids)});
    }
    if (word == "logbook") {
        return noArguments(command::Logbook{});
    }
    if (word == "status") {
        return noArguments(command::Status{});
    }
    if (word == "help") {
        return noArguments(command::Help{});
    }
    if (word == "quit") {
        return noArguments(command::Quit{});
    }
    return failure("unknown command " + inQuotes(word) + " (help lists the commands)");
}

std::string_view commandHelp() {
    return R"(send JSON                   live message to the watch, no reply expected
request JSON                live message expecting a reply; the reply is logged
transfer JSON               user-info transfer (queued, survives restarts)
context JSON                update the application context
file METADATA_JSON CONTENTS file transfer; CONTENTS is text, or a JSON string
start-workout [JSON]        ask the watch to start a workout session
ack success|retry|none|TEXT how to answer the following outbox messages
fail-transfers on|off       answer the watch's user-info transfers with an error
reachable on|off            the phone application takes live messages, or not
workout N                   make the plan's workout N (0 = the first) the current one
snapshot                    send the current workout's full snapshot now
snapshot-file               send it as a file transfer
exercise-change ID JSON     merge the fields into that exercise; sends a delta
exercise-add JSON           add an exercise (needs a new "id"); sends a delta
exercise-remove ID          remove that exercise; sends a delta
exercise-order ID...        put the exercises in this order; sends a delta
workout-status STATUS       set the workout's status (e.g. IN_PROGRESS); sends a snapshot
timer-correct SECONDS       correct the running rest timer's length (a new timer revision)
timer-stop                  stop the running rest timer from the phone
session-start [WORKOUT]     command: claim the health session (default: the current workout)
session-finish [save|discard] [WORKOUT]  command: end the health session, saving it or not
session-stop [WORKOUT]      command: end it as the watch's health preference says
session-cancel [WORKOUT]    command: end it without saving
session-pause [WORKOUT]     command: pause the health session
session-resume [WORKOUT]    command: resume it
health-sync on|off          command: save the watch's workouts to the health store, or not
hold on|off                 keep the following commands back (numbered and ready), or not
release [N...]              send the held commands N (1 = the first held) in this order; all without N
resend [COMMAND_ID]         send a command again, unchanged (default: the last one sent)
age sequence|revision N     the next command goes with this old sequence or revision
reference-exercises [context] send the exercise catalogue whole (or in the application context)
reference-file              send the exercise catalogue as a file transfer
reference-update JSON       add or replace a catalogue entry; sends a delta
reference-remove ID         remove a catalogue entry; sends a delta
reference-order ID...       put the catalogue in this order; sends a delta
catalogues                  send the plate inventory and the available workouts, whole
plate-update JSON           add or replace a plate ({"id","weight","units","quantity"}); a delta
plate-remove ID             remove a plate; sends a delta
workout-done ID             mark the plan's workout done; sends its removal from the available ones
wait SECONDS                hold the following commands for that long
wait-for TYPE [SECONDS]     hold them until a message of TYPE arrives (default 30 s)
logbook                     print the logbook
status                      print the link, the ack mode, the workout and the revision
help                        this list
quit                        stop phone-sim
# TEXT                      a comment; blank lines are ignored too)";
}

} // namespace phone
