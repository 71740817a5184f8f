#pragma once

// A filled data directory for the watch program, and the program spawned on pipes: what the
// benchmarks that start a real process share.
#include "platform/files/temp_directory.hpp"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace benchwatch {

constexpr std::size_t catalogueSize = 500;
constexpr std::size_t outboxSize = 200;
// The workout in progress: exercises of four sets each, the last one a placeholder.
constexpr std::size_t workoutExercises = 8;
constexpr std::string_view placeholderExerciseId = "exercise-7";

struct Template {
    std::unique_ptr<platform::testing::TempDirectory> dir;
    std::set<std::string> syncIds;
    std::string error;
};

// The data directory as the program lays it out (a catalogue, pending outbox messages, a
// running rest timer), written through the program's own classes. With `workoutInProgress`,
// the phone's last workout state is also there as the link's received application context, so
// the exercise list shows from start without a phone.
Template prepareTemplate(bool workoutInProgress);

// Closes on scope exit so that no early return leaks a descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept;
    Fd& operator=(Fd&& other) noexcept;
    int get() const { return fd_; }
    void reset();

private:
    int fd_;
};

bool writeAll(int fd, std::string_view text);

struct Child {
    pid_t pid = -1;
    Fd input;
    Fd output;
};

// The child's standard input and output are pipes; it inherits this process's environment.
std::optional<Child> spawn(const std::vector<std::string>& arguments);

// Lines of a child's output, kept across calls so that nothing read ahead is lost.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line starting with `prefix`, skipping others; nothing on end of output or after
    // the timeout (a hung child must fail the run, not stall it).
    std::optional<std::string>
    next(std::string_view prefix,
         std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

    // The lines skipped so far: the program's log.
    const std::vector<std::string>& skipped() const { return skipped_; }

private:
    int fd_;
    std::string buffer_;
    std::vector<std::string> skipped_;
};

struct Reaped {
    int status = 0;
    long maxRssKb = 0;
    double cpuSeconds = 0;
};

// Waits for the child to end and takes its resource usage (peak RSS, CPU time).
std::optional<Reaped> reap(pid_t pid);

// Ends a child: closes its input (the end of control input quits it), drains its output and
// reaps it. Kills it first when `kill` is set.
std::optional<Reaped> finish(Child& child, bool kill);

} // namespace benchwatch
