#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace app {

// Reads standard input line by line on its own thread and hands each line over; at the end of
// input it calls onEnd once. Stops when destroyed, even while no input arrives.
class StdinLines {
public:
    StdinLines(std::function<void(std::string)> onLine, std::function<void()> onEnd);
    ~StdinLines();
    StdinLines(const StdinLines&) = delete;
    StdinLines& operator=(const StdinLines&) = delete;

private:
    void run();

    std::function<void(std::string)> onLine_;
    std::function<void()> onEnd_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace app
