#pragma once

#include "platform/exec/queue.hpp"
#include "platform/link/session.hpp"

#include <string>
#include <vector>

namespace testsupport {

// A watch-end session that records what the core hands to the link; the test sets the state the
// core reads and calls the delegate itself.
class FakeSession final : public platform::Session {
public:
    // Calls made while `main` is current break the rule that the session is used off the main
    // queue; they are counted so that a test can insist there are none.
    explicit FakeSession(platform::Queue& main) : main_(main) {}

    platform::ActivationState state = platform::ActivationState::activated;
    bool reachable = false;
    std::vector<platform::UserInfoTransfer> outstanding;
    platform::Dictionary receivedContext;

    platform::SessionDelegate* delegate = nullptr;
    int activations = 0;
    std::vector<platform::Dictionary> liveMessages;
    std::vector<platform::Dictionary> transfers;
    std::vector<platform::Data> workoutData; // mirrored to the phone
    int liveMessagesWithReplyHandler = 0;
    mutable int callsFromMain = 0;

    platform::LinkRole role() const override { return platform::LinkRole::watch; }
    void setDelegate(platform::SessionDelegate* newDelegate) override { delegate = newDelegate; }
    void activate() override { ++activations; }
    platform::ActivationState activationState() const override { return noteCaller(state); }
    bool isReachable() const override { return noteCaller(reachable); }
    void sendMessage(const platform::Dictionary& message,
                     std::optional<platform::ReplyHandler> onReply,
                     platform::ErrorHandler onError) override {
        noteCaller();
        liveMessages.push_back(message);
        liveMessagesWithReplyHandler += onReply ? 1 : 0;
        if (!reachable) {
            onError({platform::SessionError::Code::notReachable, "not reachable"});
        }
    }
    platform::UserInfoTransfer transferUserInfo(const platform::Dictionary& userInfo) override {
        noteCaller();
        transfers.push_back(userInfo);
        return {"transfer-" + std::to_string(transfers.size()), userInfo};
    }
    std::vector<platform::UserInfoTransfer> outstandingUserInfoTransfers() const override {
        return noteCaller(outstanding);
    }
    std::optional<platform::SessionError>
    updateApplicationContext(const platform::Dictionary&) override {
        return std::nullopt;
    }
    platform::Dictionary applicationContext() const override { return {}; }
    platform::Dictionary receivedApplicationContext() const override { return receivedContext; }
    platform::FileTransfer transferFile(const platform::Data&,
                                        const platform::Dictionary& metadata) override {
        return {"file", metadata};
    }
    void sendWorkoutData(const platform::Data& data) override { workoutData.push_back(data); }
    void startWorkout(const platform::Dictionary&) override {}

private:
    template <class T = int> const T& noteCaller(const T& result = 0) const {
        callsFromMain += main_.isCurrent() ? 1 : 0;
        return result;
    }

    platform::Queue& main_;
};

} // namespace testsupport
