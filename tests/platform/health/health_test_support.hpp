#pragma once

#include "platform/health/health_store.hpp"
#include "platform/link/session.hpp"

#include <optional>
#include <set>
#include <vector>

namespace healthtest {

struct StateReport {
    platform::WorkoutSessionState to;
    platform::WorkoutSessionState from;
    platform::Date date;
    bool operator==(const StateReport&) const = default;
};

class RecordingSessionDelegate final : public platform::WorkoutSessionDelegate {
public:
    std::vector<StateReport> states;
    std::vector<std::vector<platform::Data>> remoteData;
    std::vector<platform::HealthError> failures;

    void didChangeToState(platform::WorkoutSession&, platform::WorkoutSessionState to,
                          platform::WorkoutSessionState from, platform::Date date) override {
        states.push_back({to, from, date});
    }
    void didFail(platform::WorkoutSession&, const platform::HealthError& error) override {
        failures.push_back(error);
    }
    void didDisconnectFromRemoteDevice(platform::WorkoutSession&,
                                       std::optional<platform::HealthError>) override {}
    void didReceiveDataFromRemoteWorkoutSession(platform::WorkoutSession&,
                                                const std::vector<platform::Data>& data) override {
        remoteData.push_back(data);
    }
};

class RecordingBuilderDelegate final : public platform::LiveWorkoutBuilderDelegate {
public:
    std::vector<std::set<platform::HealthType>> batches;
    void didCollectDataOfTypes(platform::LiveWorkoutBuilder&,
                               const std::set<platform::HealthType>& types) override {
        batches.push_back(types);
    }
};

struct Outcome {
    std::optional<bool> success;
    std::optional<platform::HealthError> error;
};

inline platform::HealthResultCompletion into(Outcome& outcome) {
    return [&outcome](bool success, std::optional<platform::HealthError> error) {
        outcome = {success, std::move(error)};
    };
}

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
