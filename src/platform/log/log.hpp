#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Where the program's one-line log entries go. Lines come from any thread.
class Log {
public:
    virtual ~Log() = default;
    virtual void line(std::string_view text) = 0;
};

// Writes each entry as one line and flushes it, so that log lines and the control channel's
// answers on the same stream never interleave within a line.
class StreamLog final : public Log {
public:
    explicit StreamLog(std::ostream& out) : out_(out) {}
    void line(std::string_view text) override;

private:
    std::mutex mutex_;
    std::ostream& out_;
};

// Keeps the lines for tests to read.
class MemoryLog final : public Log {
public:
    void line(std::string_view text) override;
    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace platform
