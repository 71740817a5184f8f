#pragma once

#include "platform/health/health_store.hpp"
#include "platform/link/session.hpp"

#include <optional>
#include <vector>

namespace healthtest {

// Keeps the states a session reaches.
class RecordingSessionDelegate final : public platform::WorkoutSessionDelegate {
public:
    std::vector<platform::WorkoutSessionState> states;

    void didChangeToState(platform::WorkoutSession&, platform::WorkoutSessionState to,
                          platform::WorkoutSessionState, platform::Date) override {
        states.push_back(to);
    }
    void didFail(platform::WorkoutSession&, const platform::HealthError&) override {}
    void didDisconnectFromRemoteDevice(platform::WorkoutSession&,
                                       std::optional<platform::HealthError>) override {}
    void didReceiveDataFromRemoteWorkoutSession(platform::WorkoutSession&,
                                                const std::vector<platform::Data>&) override {}
};

// The phone end of the link as far as mirrored data goes: it keeps what it is sent.
class WorkoutDataLink final : public platform::Session {
public:
    std::vector<platform::Data> sent;

    platform::LinkRole role() const override { return platform::LinkRole::watch; }
    void setDelegate(platform::SessionDelegate*) override {}
    void activate() override {}
    platform::ActivationState activationState() const override {
        return platform::ActivationState::activated;
    }
    bool isReachable() const override { return true; }
    void sendMessage(const platform::Dictionary&, std::optional<platform::ReplyHandler>,
                     platform::ErrorHandler) override {}
    platform::UserInfoTransfer transferUserInfo(const platform::Dictionary& info) override {
        return {"", info};
    }
    std::vector<platform::UserInfoTransfer> outstandingUserInfoTransfers() const override {
        return {};
    }
    std::optional<platform::SessionError>
    updateApplicationContext(const platform::Dictionary&) override {
        return std::nullopt;
    }
    platform::Dictionary applicationContext() const override { return {}; }
    platform::Dictionary receivedApplicationContext() const override { return {}; }
    platform::FileTransfer transferFile(const platform::Data&,
                                        const platform::Dictionary& metadata) override {
        return {"", metadata};
    }
    void sendWorkoutData(const platform::Data& data) override { sent.push_back(data); }
    void startWorkout(const platform::Dictionary&) override {}
};

} // namespace healthtest
