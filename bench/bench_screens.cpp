// The watch program with its window, offscreen on the software renderer, over the filled data
// directory with a workout in progress:
// - start-up: from spawning `wristside --control stdin` to the answer of a `screen` line
//   written at spawn; the control channel answers only once the window has loaded and laid out,
//   so this stands for the first frame (the program has no signal of its own for it). Goal:
//   under 100 ms, peak RSS under 70 MB. Beside it, an empty Qt Quick window to its first
//   swapped frame, started the same way.
// - a tap on a row: the `openExercise` line to its answer, pipe round trip included. Goal:
//   under 16 ms.
// - the keypad: a `keypad` line with one key (the field tapped, the key, the entered text
//   tapped, the edit sent) to the answer of the `screen` line after it, which reads the settled
//   scene; and "complete set": the action button to the rest sheet's screen. Goals: under 16 ms
//   (the data directory holds more than the 100 pending messages of the goal).
// - the rest sheet ticking for a minute: the program's CPU time over that minute. Goal: under
//   1 % of one core.
#include "platform/values/json.hpp"
#include "watch_process.hpp"

#include <benchmark/benchmark.h>

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <variant>

namespace {

namespace fs = std::filesystem;
using namespace benchwatch;
using Clock = std::chrono::steady_clock;

constexpr std::string_view reply = "{\"reply\":";

// What the UI tests set: no display, and the runtime directory Qt wants private.
void offscreen() {
    static platform::testing::TempDirectory runtime;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    ::unsetenv("QT_QUICK_BACKEND");
    // A child that dies early must fail the run through an error, not kill it through SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
}

// A copy of the template, fresh for each program, since the program changes its data.
class DataCopy {
public:
    DataCopy(const Template& prepared, const fs::path& at) : path_(at) {
        fs::copy(prepared.dir->path(), path_, fs::copy_options::recursive);
    }
    ~DataCopy() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::optional<Child> spawnWatch(const fs::path& data, const fs::path& scratch) {
    // Nothing listens here: the watch starts without a phone.
    const auto link = "unix:" + (scratch / "no-phone.sock").string();
    return spawn(
        {WRISTSIDE_BINARY, "--control", "stdin", "--data-dir", data.string(), "--link", link});
}

std::optional<std::string> ask(Child& child, LineReader& reader, std::string_view line) {
    if (!writeAll(child.input.get(), std::string(line) + "\n")) {
        return std::nullopt;
    }
    return reader.next(reply);
}

std::string field(const std::string& answer, std::string_view key) {
    auto parsed = platform::parseJson(answer);
    const auto* root = parsed ? parsed->dictionary() : nullptr;
    const auto found = root != nullptr ? root->find(std::string(key)) : root->end();
    const auto* text = root != nullptr && found != root->end() ? found->second.string() : nullptr;
    return text != nullptr ? *text : std::string();
}

// The workout from the stored context is up (it arrives on the main queue just after the
// link's session activates).
bool workoutShows(Child& child, LineReader& reader) {
    for (int i = 0; i < 100; ++i) {
        auto state = ask(child, reader, R"({"action":"state"})");
        if (!state) {
            return false;
        }
        if (field(*state, "workoutStatus") == "IN_PROGRESS") {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The children's peak resident memory, and their CPU time over their whole life (start-up to
// exit): against the wall time it tells computing from waiting on a busy machine.
struct Usage {
    double sumMb = 0;
    double maxMb = 0;
    double cpuSumMs = 0;
    std::size_t count = 0;
    void add(const Reaped& reaped) {
        const double mb = static_cast<double>(reaped.maxRssKb) / 1024.0;
        sumMb += mb;
        maxMb = std::max(maxMb, mb);
        cpuSumMs += reaped.cpuSeconds * 1000.0;
        ++count;
    }
    void report(benchmark::State& state) const {
        if (count > 0) {
            state.counters["peak_rss_MB"] = sumMb / static_cast<double>(count);
            state.counters["peak_rss_MB_max"] = maxMb;
            state.counters["child_cpu_ms"] = cpuSumMs / static_cast<double>(count);
        }
    }
};

// Google Benchmark reports the mean of the iterations; the goals are on the median.
class Samples {
public:
    void add(Clock::duration time) {
        ms_.push_back(std::chrono::duration<double, std::milli>(time).count());
    }
    void report(benchmark::State& state, const std::string& name) {
        if (ms_.empty()) {
            return;
        }
        auto middle = ms_.begin() + static_cast<std::ptrdiff_t>(ms_.size() / 2);
        std::nth_element(ms_.begin(), middle, ms_.end());
        state.counters[name] = *middle;
    }

private:
    std::vector<double> ms_;
};

// The iteration's time, kept as a sample too.
void record(benchmark::State& state, Samples& samples, Clock::duration time) {
    state.SetIterationTime(std::chrono::duration<double>(time).count());
    samples.add(time);
}

// A QML warning in the program's log is a broken screen: its timings would mean nothing.
bool warned(const LineReader& reader) {
    const auto& lines = reader.skipped();
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return line.starts_with("QML warning"); });
}

bool exitedCleanly(const std::optional<Reaped>& reaped) {
    return reaped && WIFEXITED(reaped->status) && WEXITSTATUS(reaped->status) == 0;
}

void BM_ScreensStartupToFirstScreen(benchmark::State& state) {
    offscreen();
    const Template prepared = prepareTemplate(true);
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    platform::testing::TempDirectory scratch;
    Usage usage;
    Samples samples;
    std::size_t run = 0;
    for (auto _ : state) {
        DataCopy data(prepared, scratch.path() / ("data-" + std::to_string(run++)));
        const auto start = Clock::now();
        auto child = spawnWatch(data.path(), scratch.path());
        if (!child) {
            state.SkipWithError("could not start " WRISTSIDE_BINARY);
            break;
        }
        LineReader reader(child->output.get());
        auto first = ask(*child, reader, R"({"action":"screen"})");
        record(state, samples, Clock::now() - start);

        // The running rest timer's sheet is up, over the workout's exercise list.
        const bool shown = first && field(*first, "sheet") == "RestTimer" &&
                           workoutShows(*child, reader) &&
                           ask(*child, reader, R"({"action":"quit"})");
        const auto reaped = finish(*child, !shown);
        if (!shown) {
            state.SkipWithError(first ? ("unexpected first screen: " + *first).c_str()
                                      : "no screen answer from the watch");
            break;
        }
        if (!exitedCleanly(reaped) || warned(reader)) {
            state.SkipWithError("the watch warned or did not exit cleanly");
            break;
        }
        usage.add(*reaped);
    }
    usage.report(state);
    samples.report(state, "median_ms");
}
BENCHMARK(BM_ScreensStartupToFirstScreen)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_EmptyWindowStartupToFirstFrame(benchmark::State& state) {
    offscreen();
    Usage usage;
    Samples samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        auto child = spawn({EMPTY_WINDOW_BINARY});
        if (!child) {
            state.SkipWithError("could not start " EMPTY_WINDOW_BINARY);
            break;
        }
        LineReader reader(child->output.get());
        const auto line = reader.next("first frame");
        record(state, samples, Clock::now() - start);
        const auto reaped = finish(*child, !line);
        if (!line || !exitedCleanly(reaped)) {
            state.SkipWithError("the empty window did not report its first frame and exit");
            break;
        }
        usage.add(*reaped);
    }
    usage.report(state);
    samples.report(state, "median_ms");
}
BENCHMARK(BM_EmptyWindowStartupToFirstFrame)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One program on the stored workout with the rest sheet closed and, when `opening` names one, an
// exercise's detail pushed. Each iteration's `sample` (child, reader) does its untimed
// preparation, then returns its timed part, or an error text.
using Sample = std::function<std::variant<Clock::duration, std::string>(Child&, LineReader&)>;

void inOneProgram(benchmark::State& state, const std::string& opening, const Sample& sample) {
    offscreen();
    const Template prepared = prepareTemplate(true);
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    platform::testing::TempDirectory scratch;
    DataCopy data(prepared, scratch.path() / "data");
    auto child = spawnWatch(data.path(), scratch.path());
    if (!child) {
        state.SkipWithError("could not start " WRISTSIDE_BINARY);
        return;
    }
    LineReader reader(child->output.get());
    if (!workoutShows(*child, reader) ||
        ask(*child, reader, R"({"action":"dismissTimer"})") != R"({"reply":"ok"})" ||
        (!opening.empty() && ask(*child, reader, opening) != R"({"reply":"ok"})")) {
        finish(*child, true);
        state.SkipWithError("the screen to measure did not come up");
        return;
    }
    Samples samples;
    for (auto _ : state) {
        auto result = sample(*child, reader);
        if (const auto* error = std::get_if<std::string>(&result)) {
            state.SkipWithError(error->c_str());
            break;
        }
        record(state, samples, std::get<Clock::duration>(result));
    }
    const bool quit = ask(*child, reader, R"({"action":"quit"})").has_value();
    const auto reaped = finish(*child, !quit);
    if (!exitedCleanly(reaped) || warned(reader)) {
        state.SkipWithError("the watch warned or did not exit cleanly");
    } else {
        Usage usage;
        usage.add(*reaped);
        usage.report(state);
    }
    samples.report(state, "median_ms");
}

constexpr std::string_view detailOfExercise1 =
    R"({"action":"openExercise","exerciseId":"exercise-1"})";

// Tapping a row, again and again in one program. A named exercise's row pushes its detail, and
// nothing on the control channel goes back from there; the placeholder's row opens the
// exercise picker (over the 500-entry catalogue), which a swipe down closes again, untimed.
void BM_ScreensTapRowToAnswer(benchmark::State& state) {
    Samples withScreen;
    const std::string tap = std::string(R"({"action":"openExercise","exerciseId":")") +
                            std::string(placeholderExerciseId) + "\"}";
    inOneProgram(
        state, "",
        [&](Child& child, LineReader& reader) -> std::variant<Clock::duration, std::string> {
            const auto start = Clock::now();
            auto answer = ask(child, reader, tap);
            const auto answered = Clock::now();
            const auto shown = ask(child, reader, R"({"action":"screen"})");
            withScreen.add(Clock::now() - start);
            if (answer != R"({"reply":"ok"})" || !shown ||
                field(*shown, "sheet") != "ExercisePicker" ||
                ask(child, reader, R"({"action":"swipe","direction":"down"})") !=
                    R"({"reply":"ok"})") {
                return "the tap did not open the picker: " + answer.value_or("");
            }
            return answered - start;
        });
    withScreen.report(state, "with_screen_median_ms");
}
BENCHMARK(BM_ScreensTapRowToAnswer)
    ->Iterations(200)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The first tap on a named exercise's row in a freshly started program, pushing its detail: a
// new program for each sample, since nothing on the control channel goes back.
void BM_ScreensFirstTapToDetail(benchmark::State& state) {
    offscreen();
    const Template prepared = prepareTemplate(true);
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    platform::testing::TempDirectory scratch;
    Samples samples;
    Samples withScreen;
    std::size_t run = 0;
    for (auto _ : state) {
        DataCopy data(prepared, scratch.path() / ("data-" + std::to_string(run++)));
        auto child = spawnWatch(data.path(), scratch.path());
        if (!child) {
            state.SkipWithError("could not start " WRISTSIDE_BINARY);
            break;
        }
        LineReader reader(child->output.get());
        const bool ready =
            workoutShows(*child, reader) &&
            ask(*child, reader, R"({"action":"dismissTimer"})") == R"({"reply":"ok"})";
        const auto start = Clock::now();
        auto answer =
            ready ? ask(*child, reader, R"({"action":"openExercise","exerciseId":"exercise-2"})")
                  : std::nullopt;
        const auto answered = Clock::now();
        const auto shown = ask(*child, reader, R"({"action":"screen"})");
        record(state, samples, answered - start);
        withScreen.add(Clock::now() - start);
        const bool ok = answer == R"({"reply":"ok"})" && shown &&
                        field(*shown, "screen") == "ExerciseDetail" &&
                        ask(*child, reader, R"({"action":"quit"})");
        const auto reaped = finish(*child, !ok);
        if (!ok || !exitedCleanly(reaped) || warned(reader)) {
            state.SkipWithError(
                ("the tap did not open the detail: " + answer.value_or("")).c_str());
            break;
        }
    }
    samples.report(state, "median_ms");
    withScreen.report(state, "with_screen_median_ms");
}
BENCHMARK(BM_ScreensFirstTapToDetail)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A live process's CPU time so far, from /proc (user and system clock ticks).
std::optional<double> cpuSecondsOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name may hold spaces: the fields start after its closing parenthesis.
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string skipped;
    for (int i = 3; i < 14; ++i) {
        fields >> skipped;
    }
    double user = 0;
    double system = 0;
    if (!(fields >> user >> system)) {
        return std::nullopt;
    }
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void BM_ScreensKeypadEntryToSettledScreen(benchmark::State& state) {
    int digit = 0;
    inOneProgram(
        state, std::string(detailOfExercise1),
        [&](Child& child, LineReader& reader) -> std::variant<Clock::duration, std::string> {
            const std::string key = std::to_string(++digit % 10);
            const auto start = Clock::now();
            auto answer = ask(child, reader,
                              R"({"action":"keypad","exerciseId":"exercise-1","setIndex":1,)"
                              R"("field":"weight","keys":[")" +
                                  key + R"("]})");
            const auto shown = ask(child, reader, R"({"action":"screen"})");
            const auto time = Clock::now() - start;
            if (answer != R"({"reply":"ok"})" || !shown ||
                shown->find("\"" + key + "\"") == std::string::npos) {
                return "the key did not show: " + answer.value_or("");
            }
            return time;
        });
}
BENCHMARK(BM_ScreensKeypadEntryToSettledScreen)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Each sample adds a set (untimed), completes it with the action button and reads the rest
// sheet's screen; closing the sheet again is untimed.
void BM_ScreensCompleteSetToRestSheet(benchmark::State& state) {
    int sets = 4;
    inOneProgram(
        state, std::string(detailOfExercise1),
        [&](Child& child, LineReader& reader) -> std::variant<Clock::duration, std::string> {
            if (ask(child, reader, R"({"action":"addSet","exerciseId":"exercise-1"})") !=
                R"({"reply":"ok"})") {
                return std::string("no set was added");
            }
            const auto start = Clock::now();
            auto answer = ask(child, reader,
                              R"({"action":"actionButton","exerciseId":"exercise-1","setIndex":)" +
                                  std::to_string(sets++) + "}");
            const auto shown = ask(child, reader, R"({"action":"screen"})");
            const auto time = Clock::now() - start;
            if (answer != R"({"reply":"ok"})" || !shown || field(*shown, "sheet") != "RestTimer" ||
                ask(child, reader, R"({"action":"dismissTimer"})") != R"({"reply":"ok"})") {
                return "the set did not open the rest: " + answer.value_or("") + " " +
                       shown.value_or("");
            }
            return time;
        });
}
BENCHMARK(BM_ScreensCompleteSetToRestSheet)
    ->Iterations(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The stored rest (180 s) is up and ticking once a second; nothing else happens for a minute.
void BM_ScreensRestSheetTickingCpu(benchmark::State& state) {
    offscreen();
    const Template prepared = prepareTemplate(true);
    if (!prepared.error.empty()) {
        state.SkipWithError(prepared.error.c_str());
        return;
    }
    platform::testing::TempDirectory scratch;
    for (auto _ : state) {
        DataCopy data(prepared, scratch.path() / "data");
        auto child = spawnWatch(data.path(), scratch.path());
        if (!child) {
            state.SkipWithError("could not start " WRISTSIDE_BINARY);
            break;
        }
        LineReader reader(child->output.get());
        const auto first = ask(*child, reader, R"({"action":"screen"})");
        const bool up =
            first && field(*first, "sheet") == "RestTimer" && workoutShows(*child, reader);
        // Start-up's own work settles first.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const auto before = cpuSecondsOf(child->pid);
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(60));
        const auto after = cpuSecondsOf(child->pid);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const auto ticking = ask(*child, reader, R"({"action":"screen"})");
        const bool quit = ask(*child, reader, R"({"action":"quit"})").has_value();
        const auto reaped = finish(*child, !quit);
        if (!up || !before || !after || !ticking || field(*ticking, "sheet") != "RestTimer" ||
            !exitedCleanly(reaped) || warned(reader)) {
            state.SkipWithError("the rest sheet was not up for the minute, or the watch failed");
            break;
        }
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_core"] = 100.0 * (*after - *before) / wall;
    }
}
BENCHMARK(BM_ScreensRestSheetTickingCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
