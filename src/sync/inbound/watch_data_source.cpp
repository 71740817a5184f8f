#include "sync/inbound/watch_data_source.hpp"

#include "model/conversions.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"
#include "timer/rest_timer_manager.hpp"

#include <cmath>

namespace watchsync {

using platform::Dictionary;
using platform::Value;

namespace {

Dictionary successReply() {
    return Dictionary{{"status", Value("Success")}};
}

} // namespace

WatchDataSource::WatchDataSource(Services services) : WatchDataSource(services, Managers{}) {}

WatchDataSource::WatchDataSource(Services services, Managers managers)
    : executor_(services.executor), defaults_(services.defaults), files_(services.files),
      session_(services.session), outbox_(services.outbox), log_(services.log),
      restTimer_(managers.restTimer), workoutManager_(managers.workoutManager),
      remoteWorkoutData_(std::move(managers.remoteWorkoutData)),
      workoutConfiguration_(std::move(managers.workoutConfiguration)),
      removeAllNotifications_(std::move(managers.removeAllNotifications)) {
    // A sequence stored by an older build may be infinite; it would refuse every command for good.
    const auto storedSequence = defaults_.doubleForKey(lastPhoneCommandSequenceKey);
    lastPhoneCommandSequence =
        storedSequence && std::isfinite(*storedSequence) ? *storedSequence : 0;
    loadPersistedReferenceExercises();
    if (session_ != nullptr) {
        session_->setDelegate(this);
        session_->activate();
    }
}

WatchDataSource::~WatchDataSource() {
    if (session_ != nullptr) {
        session_->setDelegate(nullptr);
    }
}

void WatchDataSource::activationDidComplete(platform::ActivationState state,
                                            std::optional<platform::SessionError> error) {
    if (state != platform::ActivationState::activated) {
        if (error) {
            log_.line("Unable to activate WatchConnectivity: " + error->description);
        }
        return;
    }
    outbox_.reconcileOutstandingTransfers();
    auto context = session_->receivedApplicationContext();
    if (!context.empty()) {
        dispatchInbound(std::move(context), std::nullopt);
    }
    requestFreshData();
}

void WatchDataSource::reachabilityDidChange(bool reachable) {
    outbox_.reachabilityChanged(reachable);
}

void WatchDataSource::didReceiveMessage(const Dictionary& message,
                                        std::optional<platform::ReplyHandler> reply) {
    std::optional<ReplyFunction> replyFunction;
    if (reply) {
        replyFunction = [handler = std::move(*reply)](Dictionary answer) {
            handler(std::move(answer));
        };
    }
    dispatchInbound(message, std::move(replyFunction));
}

void WatchDataSource::didReceiveUserInfo(const Dictionary& userInfo) {
    dispatchInbound(userInfo, std::nullopt);
}

void WatchDataSource::didReceiveApplicationContext(const Dictionary& context) {
    dispatchInbound(context, std::nullopt);
    // The catalogue's revision check reads persistedReferenceExercisesRevision, which only the
    // main queue writes; it runs there, after the context itself.
    auto revision = model::asRevision(model::lookup(context, "referenceExercisesRevision"));
    if (revision) {
        onMain([this, revision] {
            if (!persistedReferenceExercisesRevision ||
                *persistedReferenceExercisesRevision < *revision) {
                requestFreshData();
            }
        });
    }
}

void WatchDataSource::didReceiveWorkoutData(const platform::Data& data) {
    if (remoteWorkoutData_) {
        remoteWorkoutData_(data);
    }
}

void WatchDataSource::didReceiveStartWorkout(const Dictionary& configuration) {
    if (workoutConfiguration_) {
        workoutConfiguration_(configuration);
    }
}

void WatchDataSource::didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                                std::optional<platform::SessionError> error) {
    outbox_.handleTransferFinished(transfer.userInfo, error.has_value(),
                                   error ? error->description : std::string());
}

void WatchDataSource::didReceiveFile(const platform::ReceivedFile& file) {
    // The file exists only while this callback runs: both handlers read it before returning.
    const auto* kind = model::asString(model::lookup(file.metadata, "syncPayloadKind"));
    if (kind != nullptr && *kind == "full_snapshot") {
        applyFullSnapshotFile(file);
    } else {
        applyReferenceExercisesFile(file);
    }
}

void WatchDataSource::dispatchInbound(Dictionary message, std::optional<ReplyFunction> reply) {
    if (!executor_.main().isCurrent()) {
        onMain([this, message = std::move(message), reply = std::move(reply)] {
            dispatchOnMain(message, reply);
        });
        return;
    }
    dispatchOnMain(message, reply);
}

void WatchDataSource::dispatchOnMain(const Dictionary& message,
                                     const std::optional<ReplyFunction>& reply) {
    auto answer = [&reply](Dictionary dictionary) {
        if (reply) {
            (*reply)(std::move(dictionary));
        }
    };

    if (const auto* ack = model::asString(model::lookup(message, "syncAck"))) {
        std::optional<std::string> status;
        if (const auto* text = model::asString(model::lookup(message, "status"))) {
            status = *text;
        }
        outbox_.handleAck(*ack, status);
        if (finishingWorkoutSyncId && *finishingWorkoutSyncId == *ack) {
            updateFinishedWorkoutHandOff(status);
        }
        answer(Dictionary{{"status", Value("Success")}, {"syncAck", Value(*ack)}});
        return;
    }

    if (shouldRejectWorkoutPayload(message)) {
        requestFreshData();
        answer(Dictionary{{"status", Value("Retry")}});
        return;
    }

    if (const auto* commandId = model::asString(model::lookup(message, "commandId"))) {
        handlePhoneCommand(message, *commandId);
        answer(Dictionary{{"status", Value("Success")}, {"commandAck", Value(*commandId)}});
        return;
    }

    if (auto revision = model::asRevision(model::lookup(message, "syncRevision"))) {
        if (!acceptRevision(message, *revision)) {
            answer(Dictionary{{"status", Value("Success")}, {"syncRevision", Value(*revision)}});
            return;
        }
    }
    applyPhoneState(message);
    answer(successReply());
}

void WatchDataSource::applyPhoneState(const Dictionary& message) {
    if (!timerCorrectionApplies(message)) {
        return;
    }
    applyHealthPreference(message);
    applyWorkoutSessionCommands(message);
    applyWorkoutHeader(message);
    applyAvailableWorkouts(message);
    applyExercises(message);
    applyReferenceExercises(message);
    applyWeightPlates(message);
    applyRestTimerState(message);
    refreshExerciseCountdown();
    finishExpiredTimer();
}

void WatchDataSource::onMain(std::function<void()> work) {
    executor_.main().async([alive = std::weak_ptr<int>(lifetime_), work = std::move(work)] {
        if (alive.lock()) {
            work();
        }
    });
}

void WatchDataSource::requestFreshData() {
    outbox_.enqueue(Dictionary{{"type", Value("refresh_data")}});
}

} // namespace watchsync
