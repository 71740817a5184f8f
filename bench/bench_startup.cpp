// Start-up of `wristside --headless` over a filled data directory (a 500-entry exercise
// catalogue, 200 pending outbox messages, a stored rest timer session), from spawning the
// binary to its first state answer; also the process's peak resident memory. Goal: under
// 150 ms and under 30 MB.
#include "platform/exec/system_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "platform/values/json.hpp"
#include "platform/values/value.hpp"
#include "support/fake_session.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using platform::Array;
using platform::Dictionary;
using platform::Value;
using Clock = std::chrono::steady_clock;

constexpr std::size_t catalogueSize = 500;
constexpr std::size_t outboxSize = 200;
constexpr std::string_view catalogueFileName = "watch-reference-exercises-v2.json";
// A hung child must fail the run, not stall it.
constexpr int answerTimeoutMs = 10000;

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

struct Template {
    std::unique_ptr<platform::testing::TempDirectory> dir;
    std::set<std::string> syncIds;
    std::string error;
};

// The data directory as the program lays it out, written through the program's own classes
// (outbox, rest timer, stores, files) so that every format is the one it reads back.
Template prepareTemplate() {
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
        // Not activated: the messages stay queued, none is handed to a transfer.
        testsupport::FakeSession session(executor.main());
        session.state = platform::ActivationState::notActivated;
        watchsync::WatchSyncOutbox outbox(executor, session, defaults.standard(), log);
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

// Closes on scope exit so that no early return leaks a descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

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

struct Child {
    pid_t pid = -1;
    Fd input;
    Fd output;
};

std::optional<Child> spawnWatch(const fs::path& dataDir, const fs::path& socket) {
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
    const std::string binary = WRISTSIDE_BINARY;
    const std::string dir = dataDir.string();
    const std::string link = "unix:" + socket.string();
    std::vector<std::string> args{binary, "--headless", "--data-dir", dir, "--link", link};
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const int rc =
        ::posix_spawn(&child.pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return std::nullopt;
    }
    return child;
}

// Reads until a line starting with the state answer; log lines before it are skipped.
std::optional<std::string> readStateLine(int fd) {
    constexpr std::string_view prefix = "{\"reply\":\"state\"";
    std::string buffer;
    std::size_t lineStart = 0;
    char chunk[65536];
    const auto deadline = Clock::now() + std::chrono::milliseconds(answerTimeoutMs);
    for (;;) {
        for (auto newline = buffer.find('\n', lineStart); newline != std::string::npos;
             newline = buffer.find('\n', lineStart)) {
            std::string_view line(buffer.data() + lineStart, newline - lineStart);
            if (line.starts_with(prefix)) {
                return std::string(line);
            }
            lineStart = newline + 1;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&pfd, 1, static_cast<int>(left)) <= 0) {
            return std::nullopt;
        }
        const auto got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

// Empty when the answer holds the prepared catalogue and outbox, else what is wrong.
std::string checkState(std::string_view line, const std::set<std::string>& syncIds) {
    auto parsed = platform::parseJson(line);
    const auto* root = parsed ? parsed->dictionary() : nullptr;
    if (root == nullptr) {
        return "the state answer is not a JSON object";
    }
    const auto reference = root->find("referenceExercises");
    const auto* ids = reference != root->end() ? reference->second.array() : nullptr;
    if (ids == nullptr || ids->size() != catalogueSize) {
        return "the state answer does not list the 500 catalogue entries";
    }
    const auto outbox = root->find("outbox");
    const auto* pending = outbox != root->end() ? outbox->second.array() : nullptr;
    std::size_t found = 0;
    if (pending != nullptr) {
        for (const auto& entry : *pending) {
            const auto* dictionary = entry.dictionary();
            if (dictionary == nullptr) {
                continue;
            }
            const auto id = dictionary->find("syncId");
            if (id != dictionary->end() && id->second.string() != nullptr &&
                syncIds.contains(*id->second.string())) {
                ++found;
            }
        }
    }
    if (found != syncIds.size()) {
        return "the state answer does not hold the 200 outbox messages";
    }
    return {};
}

struct Reaped {
    int status = 0;
    long maxRssKb = 0;
    double cpuSeconds = 0;
};

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

void BM_HeadlessStartupToState(benchmark::State& state) {
    // A child that dies early must fail the run through an error, not kill it through SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    const Template prepared = prepareTemplate();
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    platform::testing::TempDirectory scratch;
    // Nothing listens here: the watch starts without a phone.
    const fs::path socket = scratch.path() / "no-phone.sock";
    double rssSumMb = 0;
    double rssMaxMb = 0;
    double cpuSumMs = 0;
    std::size_t run = 0;
    std::size_t stateBytes = 0;
    for (auto _ : state) {
        const fs::path dataDir = scratch.path() / ("data-" + std::to_string(run++));
        fs::copy(prepared.dir->path(), dataDir, fs::copy_options::recursive);

        const auto start = Clock::now();
        auto child = spawnWatch(dataDir, socket);
        if (!child) {
            state.SkipWithError("could not start " WRISTSIDE_BINARY);
            break;
        }
        const bool sent = writeAll(child->input.get(), "{\"action\":\"state\"}\n");
        auto line = sent ? readStateLine(child->output.get()) : std::nullopt;
        const auto end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());

        if (!line) {
            ::kill(child->pid, SIGKILL);
        } else {
            writeAll(child->input.get(), "{\"action\":\"quit\"}\n");
        }
        child->input.reset();
        // Drained so that a chatty exit cannot block on a full pipe.
        char sink[4096];
        while (::read(child->output.get(), sink, sizeof sink) > 0) {
        }
        const auto reaped = reap(child->pid);
        std::error_code ignored;
        fs::remove_all(dataDir, ignored);
        if (!line) {
            state.SkipWithError("no state answer from the watch");
            break;
        }
        if (!reaped || !WIFEXITED(reaped->status) || WEXITSTATUS(reaped->status) != 0) {
            state.SkipWithError("the watch did not exit cleanly");
            break;
        }
        if (auto problem = checkState(*line, prepared.syncIds); !problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
        const double rssMb = static_cast<double>(reaped->maxRssKb) / 1024.0;
        rssSumMb += rssMb;
        rssMaxMb = std::max(rssMaxMb, rssMb);
        cpuSumMs += reaped->cpuSeconds * 1000.0;
        stateBytes = line->size();
    }
    if (run > 0) {
        state.counters["peak_rss_MB"] = rssSumMb / static_cast<double>(run);
        state.counters["peak_rss_MB_max"] = rssMaxMb;
        // The child's own CPU time over its whole life (start-up to exit): against the wall
        // time it tells computing from waiting.
        state.counters["child_cpu_ms"] = cpuSumMs / static_cast<double>(run);
        state.counters["state_bytes"] = static_cast<double>(stateBytes);
    }
}
BENCHMARK(BM_HeadlessStartupToState)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
