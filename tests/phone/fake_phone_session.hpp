#pragma once

#include "phone/phone_app.hpp"
#include "platform/exec/queue.hpp"
#include "platform/link/session.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace phone::fakes {

// The phone end of the link as far as the app can tell: it records what the app sends and calls
// the delegate on a queue of its own, as the platform does. The test sets the state it reports.
class FakePhoneSession final : public platform::Session, public PhoneLinkControls {
public:
    explicit FakePhoneSession(platform::Executor& executor)
        : callbacks_(executor.makeSerialQueue("fake phone session")) {}

    struct LiveMessage {
        platform::Dictionary body;
        std::optional<platform::ReplyHandler> onReply;
        platform::ErrorHandler onError;
    };

    // What the session reports.
    bool reachable = true;
    // Live messages then fail at once although the watch seems reachable (a race with a drop).
    bool failLiveMessages = false;
    bool controlsWork = true;

    // What the app did.
    platform::SessionDelegate* delegate = nullptr;
    int activations = 0;
    std::vector<LiveMessage> liveMessages;
    std::vector<platform::Dictionary> transfers;
    std::vector<platform::Dictionary> contexts;
    std::vector<std::pair<platform::Data, platform::Dictionary>> files;
    std::vector<platform::Dictionary> startedWorkouts;
    std::vector<bool> phoneReachability;
    std::vector<std::optional<std::string>> transferFailures;
    // Replies the app gave to the watch's messages.
    std::vector<platform::Dictionary> replies;

    std::vector<platform::Dictionary> liveBodies() const {
        std::vector<platform::Dictionary> bodies;
        for (const auto& message : liveMessages) {
            bodies.push_back(message.body);
        }
        return bodies;
    }

    // The watch's side, delivered the way the platform does.
    void receiveMessage(platform::Dictionary message, bool replyExpected = false) {
        callbacks_->async([this, message = std::move(message), replyExpected] {
            std::optional<platform::ReplyHandler> reply;
            if (replyExpected) {
                reply = [this](platform::Dictionary body) { replies.push_back(std::move(body)); };
            }
            if (delegate != nullptr) {
                delegate->didReceiveMessage(message, std::move(reply));
            }
        });
    }
    void receiveUserInfo(platform::Dictionary userInfo) {
        callbacks_->async([this, userInfo = std::move(userInfo)] {
            if (delegate != nullptr) {
                delegate->didReceiveUserInfo(userInfo);
            }
        });
    }

    platform::LinkRole role() const override { return platform::LinkRole::phone; }
    void setDelegate(platform::SessionDelegate* d) override { delegate = d; }
    void activate() override { ++activations; }
    platform::ActivationState activationState() const override {
        return platform::ActivationState::activated;
    }
    bool isReachable() const override { return reachable; }
    void sendMessage(const platform::Dictionary& message,
                     std::optional<platform::ReplyHandler> onReply,
                     platform::ErrorHandler onError) override {
        liveMessages.push_back({message, onReply, onError});
        if (!reachable || failLiveMessages) {
            onError({platform::SessionError::Code::notReachable, "not reachable"});
        }
    }
    platform::UserInfoTransfer transferUserInfo(const platform::Dictionary& userInfo) override {
        transfers.push_back(userInfo);
        return {"transfer-" + std::to_string(transfers.size()), userInfo};
    }
    std::vector<platform::UserInfoTransfer> outstandingUserInfoTransfers() const override {
        return {};
    }
    std::optional<platform::SessionError>
    updateApplicationContext(const platform::Dictionary& context) override {
        contexts.push_back(context);
        return std::nullopt;
    }
    platform::Dictionary applicationContext() const override {
        return contexts.empty() ? platform::Dictionary{} : contexts.back();
    }
    platform::Dictionary receivedApplicationContext() const override { return {}; }
    platform::FileTransfer transferFile(const platform::Data& contents,
                                        const platform::Dictionary& metadata) override {
        files.emplace_back(contents, metadata);
        return {"file-" + std::to_string(files.size()), metadata};
    }
    void sendWorkoutData(const platform::Data&) override {}
    void startWorkout(const platform::Dictionary& configuration) override {
        startedWorkouts.push_back(configuration);
    }

    void setReachable(bool on) override { phoneReachability.push_back(on); }
    bool setTransferFailure(std::optional<std::string> error) override {
        if (!controlsWork) {
            return false;
        }
        transferFailures.push_back(std::move(error));
        return true;
    }

private:
    std::unique_ptr<platform::Queue> callbacks_;
};

} // namespace phone::fakes
