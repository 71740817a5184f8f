// Start-up of `wristside --headless` over a filled data directory (a 500-entry exercise
// catalogue, 200 pending outbox messages, a stored rest timer session), from spawning the
// binary to its first state answer; also the process's peak resident memory. Goal: under
// 150 ms and under 30 MB.
#include "platform/files/temp_directory.hpp"
#include "platform/values/json.hpp"
#include "platform/values/value.hpp"
#include "watch_process.hpp"

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

namespace {

namespace fs = std::filesystem;
using benchwatch::catalogueSize;
using Clock = std::chrono::steady_clock;

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

void BM_HeadlessStartupToState(benchmark::State& state) {
    // A child that dies early must fail the run through an error, not kill it through SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    const auto prepared = benchwatch::prepareTemplate(false);
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
        auto child = benchwatch::spawn({WRISTSIDE_BINARY, "--headless", "--data-dir",
                                        dataDir.string(), "--link", "unix:" + socket.string()});
        if (!child) {
            state.SkipWithError("could not start " WRISTSIDE_BINARY);
            break;
        }
        const bool sent = benchwatch::writeAll(child->input.get(), "{\"action\":\"state\"}\n");
        benchwatch::LineReader output(child->output.get());
        auto line = sent ? output.next("{\"reply\":\"state\"") : std::nullopt;
        const auto end = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());

        // The end of control input quits it.
        const auto reaped = benchwatch::finish(*child, !line);
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
