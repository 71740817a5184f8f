#pragma once

#include "phone/commands.hpp"
#include "phone/phone_app.hpp"
#include "platform/exec/queue.hpp"
#include "platform/log/log.hpp"

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <string>

namespace phone {

// Runs command lines against the app in the order they come, holding the following lines while
// a `wait` or `wait-for` is under way. Each line answers one log line (a few for `logbook`,
// `status` and `help`); a wrong line says what is wrong with it and does nothing. Lives on the
// main queue, like the app, which must outlive it.
class CommandRunner {
public:
    // `quit` runs once, when the `quit` command is reached; later lines are ignored.
    CommandRunner(PhoneApp& app, platform::Queue& main, platform::Log& log,
                  std::function<void()> quit);
    ~CommandRunner();
    CommandRunner(const CommandRunner&) = delete;
    CommandRunner& operator=(const CommandRunner&) = delete;

    void submit(std::string line);
    // Logs, once the lines before it have run, that no more will come.
    void endOfInput();

    // True while a wait holds the following lines.
    bool waiting() const { return waiting_; }
    std::size_t heldLines() const { return held_.size(); }
    bool quitting() const { return quitting_; }
    // Lines refused and wait-for commands that timed out.
    std::size_t failures() const { return failures_; }

private:
    void runHeld();
    void run(std::size_t number, const std::string& line);
    void execute(std::size_t number, Command command);
    void startWaitFor(std::size_t number, const command::WaitFor& waitFor);
    void arrived();
    void finishWait();
    void say(std::string_view text);

    PhoneApp& app_;
    platform::Queue& main_;
    platform::Log& log_;
    std::function<void()> quit_;
    std::size_t linesSubmitted_ = 0;
    // An empty line number marks the end of the input.
    std::deque<std::pair<std::size_t, std::string>> held_;
    bool waiting_ = false;
    bool quitting_ = false;
    std::size_t failures_ = 0;
    // Arrivals of each type that earlier wait-for commands have used up.
    std::map<std::string, std::size_t, std::less<>> consumed_;
    std::string awaitedType_;
    platform::TaskHandle timer_;
    std::shared_ptr<CommandRunner*> self_;
};

} // namespace phone
