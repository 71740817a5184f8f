#include "platform/log/log.hpp"

namespace platform {

void StreamLog::line(std::string_view text) {
    std::lock_guard lock(mutex_);
    out_ << text << '\n' << std::flush;
}

void MemoryLog::line(std::string_view text) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(text);
}

std::vector<std::string> MemoryLog::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool MemoryLog::contains(std::string_view fragment) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
        if (line.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace platform
