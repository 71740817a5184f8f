#include "app/stdin_lines.hpp"

#include <poll.h>
#include <unistd.h>
#include <utility>

namespace app {

StdinLines::StdinLines(std::function<void(std::string)> onLine, std::function<void()> onEnd)
    : onLine_(std::move(onLine)), onEnd_(std::move(onEnd)), thread_([this] { run(); }) {}

StdinLines::~StdinLines() {
    stopping_ = true;
    thread_.join();
}

void StdinLines::run() {
    std::string pending;
    char buffer[4096];
    while (!stopping_) {
        // A short poll, so that the destructor never waits on a read that may never return.
        pollfd input{STDIN_FILENO, POLLIN, 0};
        int ready = ::poll(&input, 1, 100);
        if (ready <= 0) {
            continue;
        }
        auto n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            if (!pending.empty()) {
                onLine_(std::exchange(pending, {}));
            }
            onEnd_();
            return;
        }
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (auto end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n', start)) {
            onLine_(pending.substr(start, end - start));
            start = end + 1;
        }
        pending.erase(0, start);
    }
}

} // namespace app
