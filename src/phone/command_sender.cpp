#include "phone/command_sender.hpp"

#include <algorithm>
#include <array>
#include <set>
#include <utility>

namespace phone {

using platform::Dictionary;

namespace {

constexpr std::array<std::string_view, 6> exemptKeys = {
    "start_workout_session",  "finish_workout_session", "stop_workout_session",
    "cancel_workout_session", "timerCorrectionForId",   "timerCorrectionForStartTime"};

} // namespace

bool isOrderedCommand(const Dictionary& body) {
    return std::none_of(exemptKeys.begin(), exemptKeys.end(),
                        [&](std::string_view key) { return body.contains(key); });
}

Dictionary sessionCommand(SessionAction action, const std::string& workoutId, double atMs,
                          bool saveToHealth) {
    switch (action) {
    case SessionAction::start:
        return {
            {"start_workout_session", Dictionary{{"workoutId", workoutId}, {"occurredAt", atMs}}}};
    case SessionAction::finish:
        return {{"finish_workout_session", Dictionary{{"workoutId", workoutId},
                                                      {"endedAt", atMs},
                                                      {"saveToHealth", saveToHealth}}}};
    case SessionAction::stop:
        return {
            {"stop_workout_session", Dictionary{{"workoutId", workoutId}, {"occurredAt", atMs}}}};
    case SessionAction::cancel:
        return {
            {"cancel_workout_session", Dictionary{{"workoutId", workoutId}, {"occurredAt", atMs}}}};
    case SessionAction::pause:
        return {{"pause_workout_session_v2",
                 Dictionary{{"workoutId", workoutId}, {"occurredAt", atMs}}}};
    case SessionAction::resume:
        return {{"resume_workout_session_v2",
                 Dictionary{{"workoutId", workoutId}, {"occurredAt", atMs}}}};
    }
    return {};
}

std::string_view describe(SessionAction action) {
    switch (action) {
    case SessionAction::start:
        return "start";
    case SessionAction::finish:
        return "finish";
    case SessionAction::stop:
        return "stop";
    case SessionAction::cancel:
        return "cancel";
    case SessionAction::pause:
        return "pause";
    case SessionAction::resume:
        return "resume";
    }
    return "";
}

CommandSender::CommandSender(std::function<std::optional<std::int64_t>()> nextNumber,
                             std::function<void(const PhoneCommand&)> deliver)
    : nextNumber_(std::move(nextNumber)), deliver_(std::move(deliver)) {}

std::optional<PhoneCommand> CommandSender::issue(Dictionary body, std::string what) {
    auto number = nextNumber_();
    if (!number) {
        return std::nullopt;
    }
    PhoneCommand command;
    // The number is stored before it is used, so ids stay unique across restarts.
    command.id = "phone-cmd-" + std::to_string(*number);
    if (isOrderedCommand(body)) {
        command.sequence = agedSequence_.value_or(static_cast<double>(*number));
        agedSequence_.reset();
        body.insert_or_assign("commandSequence", *command.sequence);
    }
    if (agedRevision_) {
        body.insert_or_assign("syncRevision", *agedRevision_);
        agedRevision_.reset();
    }
    body.insert_or_assign("commandId", command.id);
    command.message = std::move(body);
    command.what = std::move(what);
    if (holding_) {
        held_.push_back(command);
    } else {
        send(command);
    }
    return command;
}

bool CommandSender::release(const std::vector<std::size_t>& positions) {
    std::vector<std::size_t> order = positions;
    if (order.empty()) {
        for (std::size_t i = 1; i <= held_.size(); ++i) {
            order.push_back(i);
        }
    }
    std::set<std::size_t> seen;
    for (auto position : order) {
        if (position == 0 || position > held_.size() || !seen.insert(position).second) {
            return false;
        }
    }
    for (auto position : order) {
        send(held_[position - 1]);
    }
    std::vector<PhoneCommand> remaining;
    for (std::size_t i = 0; i < held_.size(); ++i) {
        if (!seen.contains(i + 1)) {
            remaining.push_back(std::move(held_[i]));
        }
    }
    held_ = std::move(remaining);
    return true;
}

std::optional<PhoneCommand> CommandSender::resend(const std::optional<std::string>& id) {
    if (sent_.empty()) {
        return std::nullopt;
    }
    auto found = id ? std::find_if(sent_.rbegin(), sent_.rend(),
                                   [&](const PhoneCommand& c) { return c.id == *id; })
                    : sent_.rbegin();
    if (found == sent_.rend()) {
        return std::nullopt;
    }
    auto command = *found;
    send(command);
    return command;
}

std::optional<double> CommandSender::takeAgedRevision() {
    return std::exchange(agedRevision_, std::nullopt);
}

void CommandSender::acknowledged(const std::string& id) {
    if (!isAcknowledged(id)) {
        acknowledged_.push_back(id);
    }
}

bool CommandSender::isAcknowledged(std::string_view id) const {
    return std::find(acknowledged_.begin(), acknowledged_.end(), id) != acknowledged_.end();
}

void CommandSender::send(const PhoneCommand& command) {
    sent_.push_back(command);
    deliver_(command);
}

} // namespace phone
