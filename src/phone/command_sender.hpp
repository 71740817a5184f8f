#pragma once

#include "platform/values/value.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phone {

// One command to the watch: the message with its "commandId" and, when ordered, its
// "commandSequence".
struct PhoneCommand {
    std::string id;
    std::optional<double> sequence;
    platform::Dictionary message;
    // For the log, e.g. "pause the health session".
    std::string what;

    bool operator==(const PhoneCommand&) const = default;
};

// The watch never refuses a health session command or a timer correction for its place in the
// command order, since refusing one would leave running what the phone has ended; all other
// commands are ordered.
bool isOrderedCommand(const platform::Dictionary& body);

enum class SessionAction { start, finish, stop, cancel, pause, resume };

// The health session command for that workout at `atMs` (milliseconds since 1970). Only a finish
// says whether the workout goes to the health store; a stop leaves that to the watch's
// preference, a cancel never saves.
platform::Dictionary sessionCommand(SessionAction action, const std::string& workoutId, double atMs,
                                    bool saveToHealth = true);
std::string_view describe(SessionAction action);

// Numbers the phone's commands and sends them, and lets a test script play the link's tricks on
// them: a command sent again unchanged, commands held back and released in another order, a
// command sent with an old sequence or a stale revision.
class CommandSender {
public:
    // `nextNumber` hands out 1, 2, 3... across restarts (nothing when it cannot, and then no
    // command is made); `deliver` sends a command on its way.
    CommandSender(std::function<std::optional<std::int64_t>()> nextNumber,
                  std::function<void(const PhoneCommand&)> deliver);

    // Gives the body a new id and, when ordered, the next sequence, then sends it, or keeps it
    // back while holding. Nothing when no number could be had.
    std::optional<PhoneCommand> issue(platform::Dictionary body, std::string what);

    // While holding, issued commands are kept back, already numbered.
    void setHolding(bool on) { holding_ = on; }
    bool holding() const { return holding_; }
    const std::vector<PhoneCommand>& held() const { return held_; }
    // Sends the held commands at these positions (1 = the first held), in this order; every
    // position at most once. With no positions, all of them in the order they were held. False,
    // sending nothing, when a position is wrong.
    bool release(const std::vector<std::size_t>& positions = {});

    // Sends a command already sent again, unchanged: the one with that id, or the last one sent.
    // Nothing when there is no such command.
    std::optional<PhoneCommand> resend(const std::optional<std::string>& id = std::nullopt);

    // The next ordered command goes with this sequence instead of a new one.
    void ageNextSequence(double sequence) { agedSequence_ = sequence; }
    // The next command goes with this "syncRevision"; the next catalogue may take it instead.
    void ageNextRevision(double revision) { agedRevision_ = revision; }
    std::optional<double> takeAgedRevision();

    // Every command sent, repeats included, in sending order.
    const std::vector<PhoneCommand>& sent() const { return sent_; }
    // The watch confirmed it has the command (it answers every command it gets).
    void acknowledged(const std::string& id);
    bool isAcknowledged(std::string_view id) const;

private:
    void send(const PhoneCommand& command);

    std::function<std::optional<std::int64_t>()> nextNumber_;
    std::function<void(const PhoneCommand&)> deliver_;
    bool holding_ = false;
    std::vector<PhoneCommand> held_;
    std::vector<PhoneCommand> sent_;
    std::vector<std::string> acknowledged_;
    std::optional<double> agedSequence_;
    std::optional<double> agedRevision_;
};

} // namespace phone
