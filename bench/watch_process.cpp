#include "watch_process.hpp"

#include "platform/exec/system_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/session_engine.hpp"
#include "platform/link/stored_plist.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "platform/values/json.hpp"
#include "platform/values/value.hpp"
#include "support/fake_session.hpp"
#include "support/workout_builders.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <span>
#include <utility>

extern char** environ;

namespace benchwatch {

namespace {

namespace fs = std::filesystem;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using Clock = std::chrono::steady_clock;

constexpr std::string_view catalogueFileName = "watch-reference-exercises-v2.json";

Dictionary catalogueEntry(std::size_t i) {
    const bool kg = i % 3 == 0;
    const std::string units = kg ? "kg" : "lb";
    return Dictionary{
        {"id", Value("ref-" + std::to_string(i))},
        {"name", Value("Exercise number " + std::to_string(i))},
        {"isReps", Value(true)},
        {"isWeight", Value(i % 7 != 0)},
        {"isDuration", Value(i % 11 == 0)},
        {"isDistance", Value(false)},
        {"isRepsInReserve", Value(i % 5 == 0)},
        {"isRatePerceivedExertion", Value(i % 4 == 0)},
        {"isBand", Value(false)},
        {"weightUnits", Value(units)},
        {"isRecent", Value(i < 20)},
        {"equipment", Value(i % 2 == 0 ? "Barbell" : "Dumbbell")},
        {"restTimer", Value(Dictionary{{"warmup", Value(60)},
                                       {"T1", Value(180)},
                                       {"supplemental", Value(120)},
                                       {"assistance", Value(90)}})},
        {"barbell", Value(Dictionary{{"name", Value("Standard")},
                                     {"weight", Value(kg ? 20.0 : 45.0)},
                                     {"units", Value(units)}})},
    };
}

// The document the program writes after a whole catalogue arrives, and reads at start.
std::string catalogueDocument() {
    Array items;
    items.reserve(catalogueSize);
    for (std::size_t i = 0; i < catalogueSize; ++i) {
        items.emplace_back(catalogueEntry(i));
    }
    return platform::toJsonText(Value(Dictionary{{"kind", Value("reference_exercises")},
                                                 {"protocolVersion", Value(2)},
                                                 {"revision", Value(42.0)},
                                                 {"items", Value(std::move(items))}}));
}

// What the watch sends when a set is logged.
Dictionary updateSetMessage(std::size_t i) {
    Dictionary payload{
        {"workoutId", Value("workout-1")},
        {"exerciseId", Value("exercise-" + std::to_string(i % 8))},
        {"setId", Value("set-" + std::to_string(i))},
        {"reps", Value(8)},
        {"weight", Value(82.5)},
        {"status", Value("COMPLETE")},
        {"dateCompleted", Value(platform::Date{7.6e8 + static_cast<double>(i)})},
    };
    return {{"type", Value("update_set")}, {"payload", Value(std::move(payload))}};
}

// The phone's snapshot of workout-1 under way: the first set of the first exercise done.
Dictionary workoutInProgressSnapshot() {
    Array exercises;
    for (std::size_t e = 0; e < workoutExercises; ++e) {
        Array sets;
        for (std::size_t s = 0; s < 4; ++s) {
            const auto id = "set-" + std::to_string(e) + "-" + std::to_string(s);
            sets.emplace_back(
                testsupport::phoneSet(id, e == 0 && s == 0 ? "COMPLETE" : "NOT_STARTED"));
        }
        auto exercise = testsupport::phoneExercise("exercise-" + std::to_string(e),
                                                   static_cast<std::int64_t>(e), std::move(sets));
        // Sets added on the watch rest as long as the exercise says.
        exercise.insert_or_assign("timerSeconds", Value(90));
        if (e + 1 == workoutExercises) {
            exercise.insert_or_assign("name", Value(""));
        }
        exercises.emplace_back(std::move(exercise));
    }
    return {{"syncRevision", Value(1)},
            {"workout", Value(testsupport::phoneHeader("workout-1", "IN_PROGRESS"))},
            {"exercises", Value(std::move(exercises))}};
}

} // namespace

Template prepareTemplate(bool workoutInProgress) {
    Template result;
    result.dir = std::make_unique<platform::testing::TempDirectory>();
    const fs::path& data = result.dir->path();

    platform::LocalFileSystem files(data);
    const std::string document = catalogueDocument();
    std::string error;
    if (!files.createDirectories(files.applicationSupportDirectory(), &error) ||
        !files.writeAtomically(
            files.applicationSupportDirectory() / catalogueFileName,
            std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size()),
            &error)) {
        result.error = "catalogue: " + error;
        return result;
    }

    platform::MemoryLog log;
    {
        platform::SystemExecutor executor;
        platform::SqliteKeyValueStores defaults(data, log);
        // The link's own store exists after any earlier launch; without it every run would
        // also pay for creating a database.
        platform::SqliteKeyValueStores platformStores(data / "platform", log);
        platformStores.standard();
        // Where the link keeps the phone's last application context, handed to the program
        // again when its session activates.
        if (workoutInProgress &&
            !platform::phonelink::saveDictionary(
                platformStores.standard(),
                platform::sessionStorePrefix(platform::LinkRole::watch) + "receivedContext",
                workoutInProgressSnapshot())) {
            result.error = "the workout context was not stored";
        }
        // Not activated: the messages stay queued, none is handed to a transfer.
        testsupport::FakeSession session(executor.main());
        session.state = platform::ActivationState::notActivated;
        // The program keeps the outbox's bookkeeping beside it: start-up reads that record too.
        watchsync::OutboxBookkeeping bookkeeping(defaults.standard(), executor.clock());
        watchsync::WatchSyncOutbox outbox(executor, session, defaults.standard(), log,
                                          &bookkeeping);
        for (std::size_t i = 0; i < outboxSize; ++i) {
            if (auto id = outbox.enqueue(updateSetMessage(i))) {
                result.syncIds.insert(*id);
            }
        }
        // A rest run under way, stored as the manager stores it after every change.
        timer::RestTimerManager restTimer(executor, defaults.standard(), outbox, log);
        restTimer.mutate([&] {
            restTimer.workoutId = "workout-1";
            restTimer.timerId = "timer-1";
            restTimer.timerRevision = 3;
            restTimer.startTime = restTimer.now();
            restTimer.latestTimerStartTime = restTimer.startTime.get();
            restTimer.timerSeconds = 180.0;
            restTimer.titleMessage = std::string("Rest");
            restTimer.timerIsRunning = true;
        });
        const auto stored =
            defaults.standard().dataForKey(timer::RestTimerManager::timerSessionStorageKey);
        const auto record = stored ? timer::decodeTimerSession(*stored) : std::nullopt;
        if (!record || !record->timerIsRunning) {
            result.error = "the rest timer session was not stored";
        }
        if (static_cast<platform::SqliteKeyValueStore&>(defaults.standard()).inMemory()) {
            result.error = "the store could not open its file";
        }
    }
    if (result.syncIds.size() != outboxSize) {
        result.error = "the outbox refused messages";
    }
    if (!log.lines().empty()) {
        result.error = log.lines().front();
    }
    return result;
}

Fd::Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void Fd::reset() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const auto written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::optional<Child> spawn(const std::vector<std::string>& arguments) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    Fd inRead(in[0]);
    Child child;
    child.input = Fd(in[1]);
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    Fd outWrite(out[1]);
    child.output = Fd(out[0]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    auto args = arguments;
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&child.pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return std::nullopt;
    }
    return child;
}

std::optional<std::string> LineReader::next(std::string_view prefix,
                                            std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    char chunk[65536];
    for (;;) {
        for (auto newline = buffer_.find('\n'); newline != std::string::npos;
             newline = buffer_.find('\n')) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            if (line.starts_with(prefix)) {
                return line;
            }
            skipped_.push_back(std::move(line));
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            return std::nullopt;
        }
        const auto got = ::read(fd_, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::optional<Reaped> reap(pid_t pid) {
    Reaped reaped;
    rusage usage{};
    pid_t got;
    do {
        got = ::wait4(pid, &reaped.status, 0, &usage);
    } while (got < 0 && errno == EINTR);
    if (got != pid) {
        return std::nullopt;
    }
    reaped.maxRssKb = usage.ru_maxrss;
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    reaped.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return reaped;
}

std::optional<Reaped> finish(Child& child, bool kill) {
    if (kill) {
        ::kill(child.pid, SIGKILL);
    }
    child.input.reset();
    // Drained so that a chatty exit cannot block on a full pipe.
    char sink[4096];
    while (::read(child.output.get(), sink, sizeof sink) > 0) {
    }
    return reap(child.pid);
}

} // namespace benchwatch
