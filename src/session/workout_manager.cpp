#include "session/workout_manager.hpp"

#include "platform/health/statistics_archive.hpp"

#include <algorithm>
#include <cmath>
#include <variant>

namespace session {

namespace {

using platform::HealthError;
using platform::HealthType;
using State = platform::WorkoutSessionState;

std::string describe(const std::optional<HealthError>& error) {
    return error ? error->description : std::string("Unknown error");
}

platform::Dictionary syncMetadata(const std::string& identifier) {
    return {{std::string(platform::metadataKeySyncIdentifier), identifier},
            {std::string(platform::metadataKeySyncVersion), 1}};
}

bool carriesSyncIdentifier(const platform::LiveWorkoutBuilder& builder) {
    return builder.metadata().count(platform::metadataKeySyncIdentifier) != 0;
}

std::string describe(const std::vector<platform::Data>& buffers) {
    std::string text = "[";
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        text += (i == 0 ? "" : ", ") + std::to_string(buffers[i].size()) + " bytes";
    }
    return text + "]";
}

template <class T> void prune(std::vector<std::weak_ptr<T>>& references) {
    std::erase_if(references, [](const auto& reference) { return reference.expired(); });
}

} // namespace

template <class F> auto WorkoutManager::onMain(F function) {
    return platform::deliverOn(executor_.main(),
                               [alive = std::weak_ptr(alive_), function](auto&&... args) {
                                   if (alive.lock()) {
                                       function(args...);
                                   }
                               });
}

WorkoutManager::WorkoutManager(platform::Executor& executor, platform::KeyValueStore& defaults,
                               platform::HealthStore& healthStore, platform::Log& log)
    : executor_(executor), defaults_(defaults), healthStore_(healthStore), log_(log) {
    syncWorkoutsToHealth = defaults_.boolForKey(syncWorkoutsToHealthKey).value_or(true);
}

WorkoutManager::~WorkoutManager() {
    // Clearing a delegate waits for a callback under way, so none can reach a dead manager.
    for (const auto& reference : delegatedSessions_) {
        if (auto session = reference.lock()) {
            session->setDelegate(nullptr);
        }
    }
    for (const auto& reference : delegatedBuilders_) {
        if (auto builder = reference.lock()) {
            builder->setDelegate(nullptr);
        }
    }
}

void WorkoutManager::setSyncWorkoutsToHealth(bool sync) {
    syncWorkoutsToHealth = sync;
    defaults_.setBool(syncWorkoutsToHealthKey, sync);
}

void WorkoutManager::associateWorkoutIdentifier(const std::string& identifier,
                                                std::optional<platform::Date> date) {
    if (workoutIdentifier_ == identifier) {
        if (date) {
            workoutOwnershipStartedAt_ =
                workoutOwnershipStartedAt_ ? std::max(*workoutOwnershipStartedAt_, *date) : *date;
        }
    } else {
        workoutIdentifier_ = identifier;
        workoutOwnershipStartedAt_ = date;
    }
    if (workoutBuilder_) {
        workoutBuilder_->addMetadata(syncMetadata(identifier),
                                     [&log = log_](bool success, std::optional<HealthError> error) {
                                         if (!success) {
                                             log.line("Failed to associate workout identifier: " +
                                                      describe(error));
                                         }
                                     });
    }
}

void WorkoutManager::setWorkoutBuilder(std::shared_ptr<platform::LiveWorkoutBuilder> builder) {
    workoutBuilder_ = std::move(builder);
    if (workoutBuilder_ && workoutIdentifier_) {
        associateWorkoutIdentifier(*workoutIdentifier_, std::nullopt);
    }
}

void WorkoutManager::claimWorkout(const std::string& identifier,
                                  std::optional<platform::Date> date) {
    if (identifier.empty() || identifier == placeholderWorkoutIdentifier) {
        return;
    }
    if (!executor_.main().isCurrent()) {
        executor_.main().async([alive = std::weak_ptr(alive_), this, identifier, date] {
            if (alive.lock()) {
                claimWorkout(identifier, date);
            }
        });
        return;
    }
    if (!syncWorkoutsToHealth.get()) {
        return;
    }
    // A running session is never taken over by another workout.
    if (workoutIdentifier_ && *workoutIdentifier_ != identifier && workoutSession_) {
        return;
    }
    associateWorkoutIdentifier(identifier, date);
}

void WorkoutManager::startWorkout(const platform::WorkoutConfiguration& configuration,
                                  std::optional<std::string> identifier,
                                  StartCompletion completion) {
    if (workoutSession_ || workoutBuilder_) {
        return completion(std::nullopt);
    }
    if (identifier && !identifier->empty() && *identifier != placeholderWorkoutIdentifier) {
        associateWorkoutIdentifier(*identifier, std::nullopt);
    }
    auto made = healthStore_.makeWorkoutSession(configuration);
    if (auto* error = std::get_if<HealthError>(&made)) {
        resetWorkout(true, nullptr);
        return completion(*error);
    }
    auto session = std::get<std::shared_ptr<platform::WorkoutSession>>(std::move(made));
    workoutSession_ = session;
    setWorkoutBuilder(session->associatedWorkoutBuilder());
    auto builder = workoutBuilder_;
    prune(delegatedSessions_);
    prune(delegatedBuilders_);
    delegatedSessions_.push_back(session);
    delegatedBuilders_.push_back(builder);
    session->setDelegate(this);
    builder->setDelegate(this);

    auto dataSource = healthStore_.makeLiveDataSource(configuration);
    dataSource->enableCollectionForType(HealthType::heartRate);
    builder->setDataSource(dataSource);

    // Only logged: the workout goes on unmirrored.
    session->startMirroringToCompanionDevice(
        [&log = log_](bool success, std::optional<HealthError> error) {
            if (!success) {
                log.line("Unable to mirror workout to iPhone: " + describe(error));
            }
        });

    auto start = platform::toDate(executor_.clock().now());
    session->startActivity(start);
    builder->beginCollection(
        start, onMain([this, session, builder,
                       completion](bool success, const std::optional<HealthError>& error) {
            if (success) {
                return completion(std::nullopt);
            }
            builder->discardWorkout();
            session->end();
            resetWorkout(true, session);
            completion(
                error.value_or(HealthError{HealthError::Code::invalidState, "Unknown error"}));
        }));
}

bool WorkoutManager::ownsWorkout(const std::string& identifier, platform::Date date) const {
    if (workoutIdentifier_ != identifier || !workoutOwnershipStartedAt_) {
        return false;
    }
    // Compared to the microsecond, so that dates made from the phone's milliseconds land
    // exactly on the boundary instead of a rounding error either side of it.
    double earlier = date.sinceReferenceDate - workoutOwnershipStartedAt_->sinceReferenceDate;
    return std::llround(earlier * 1e6) >= std::llround(-ownershipAllowanceSeconds * 1e6);
}

bool WorkoutManager::terminateWorkout(const std::string& identifier, platform::Date date,
                                      bool saveToHealth) {
    if (!ownsWorkout(identifier, date)) {
        return false;
    }
    if (!workoutSession_) {
        pendingWorkoutTermination_ = PendingWorkoutTermination{identifier, date, saveToHealth};
        return true;
    }
    switch (workoutSession_->state()) {
    case State::notStarted:
    case State::prepared:
        pendingWorkoutTermination_ = PendingWorkoutTermination{identifier, date, saveToHealth};
        return true;
    case State::running:
    case State::paused:
        // Fixed now, so that a preference change before the stop report cannot overturn it.
        terminalSaveToHealth_ = saveToHealth;
        if (saveToHealth) {
            workoutSession_->stopActivity(date);
        } else {
            if (workoutBuilder_) {
                workoutBuilder_->discardWorkout();
            }
            workoutSession_->end();
        }
        return true;
    case State::ended:
        resetWorkout(true, workoutSession_);
        return true;
    case State::stopped:
        return true;
    }
    return false;
}

void WorkoutManager::pauseSession(const std::string& identifier, platform::Date date) {
    if (ownsWorkout(identifier, date) && workoutSession_ &&
        workoutSession_->state() == State::running) {
        workoutSession_->pause();
    }
}

void WorkoutManager::resumeSession(const std::string& identifier, platform::Date date) {
    if (ownsWorkout(identifier, date) && workoutSession_ &&
        workoutSession_->state() == State::paused) {
        workoutSession_->resume();
    }
}

void WorkoutManager::resetWorkout(bool clearIdentity,
                                  const std::shared_ptr<platform::WorkoutSession>& session) {
    if (session && workoutSession_ && session != workoutSession_) {
        return; // the reset belongs to a session that is no longer current
    }
    workoutBuilder_.reset();
    if (clearIdentity) {
        workoutIdentifier_.reset();
        workoutOwnershipStartedAt_.reset();
        pendingWorkoutTermination_.reset();
        terminalSaveToHealth_.reset();
    }
    workout = std::nullopt;
    workoutSession_.reset();
    totalEnergyBurned = 0.0;
    lastHeartRate = 0.0;
    sessionState = State::notStarted;
}

// State changes: the platform's callback logs and hands the change over; one consumer on the
// main queue handles one change at a time, waits included.

void WorkoutManager::didChangeToState(platform::WorkoutSession& session, State to, State from,
                                      platform::Date date) {
    log_.line("Session state changed from " + std::to_string(platform::rawValue(from)) + " to " +
              std::to_string(platform::rawValue(to)));
    if (stateChanges_.put(SessionSateChange{session.weak_from_this(), to, date})) {
        wakeConsumer();
    }
}

void WorkoutManager::wakeConsumer() {
    executor_.main().async([alive = std::weak_ptr(alive_), this] {
        if (alive.lock()) {
            takeNextChange();
        }
    });
}

void WorkoutManager::takeNextChange() {
    if (consumerBusy_) {
        return; // the change under way takes the next one when it is done
    }
    auto change = stateChanges_.take();
    if (!change) {
        return;
    }
    consumerBusy_ = true;
    handleSessionStateChange(*change, [alive = std::weak_ptr(alive_), this] {
        if (alive.lock()) {
            consumerBusy_ = false;
            takeNextChange();
        }
    });
}

void WorkoutManager::handleSessionStateChange(const SessionSateChange& change, Done done) {
    auto session = change.sessionIdentifier.lock();
    if (!workoutSession_ || session != workoutSession_) {
        return done();
    }
    sessionState = change.newState;
    switch (change.newState) {
    case State::running:
        if (pendingWorkoutTermination_ && workoutIdentifier_ &&
            *workoutIdentifier_ == pendingWorkoutTermination_->workoutIdentifier) {
            auto pending = *std::exchange(pendingWorkoutTermination_, std::nullopt);
            terminateWorkout(pending.workoutIdentifier, pending.date, pending.saveToHealth);
        }
        return done();
    case State::ended:
        resetWorkout(true, session);
        return done();
    case State::stopped:
        return saveOrDiscard(session, change.date, std::move(done));
    case State::notStarted:
    case State::paused:
    case State::prepared:
        break;
    }
    done();
}

void WorkoutManager::saveOrDiscard(const std::shared_ptr<platform::WorkoutSession>& session,
                                   platform::Date date, Done done) {
    auto builder = workoutBuilder_;
    if (!builder) {
        session->end();
        return done();
    }
    bool save = terminalSaveToHealth_.value_or(syncWorkoutsToHealth.get());
    terminalSaveToHealth_.reset();
    if (!save) {
        builder->discardWorkout();
        session->end();
        return done();
    }
    log_.line("attempting to end session");
    if (!carriesSyncIdentifier(*builder) && workoutIdentifier_) {
        builder->addMetadata(syncMetadata(*workoutIdentifier_),
                             onMain([this, session, builder, date,
                                     done](bool success, const std::optional<HealthError>& error) {
                                 if (!success) {
                                     return failSaving(session, error, done);
                                 }
                                 finishSaving(session, builder, date, done);
                             }));
        return;
    }
    finishSaving(session, builder, date, std::move(done));
}

void WorkoutManager::finishSaving(const std::shared_ptr<platform::WorkoutSession>& session,
                                  const std::shared_ptr<platform::LiveWorkoutBuilder>& builder,
                                  platform::Date date, Done done) {
    // Only a workout that carries the phone's identifier is saved.
    if (!carriesSyncIdentifier(*builder)) {
        builder->discardWorkout();
        session->end();
        return done();
    }
    builder->endCollection(
        date, onMain([this, session, builder, done](bool success,
                                                    const std::optional<HealthError>& error) {
            if (!success) {
                return failSaving(session, error, done);
            }
            builder->finishWorkout(
                onMain([this, session,
                        done](const std::variant<platform::SavedWorkout, HealthError>& result) {
                    if (const auto* failure = std::get_if<HealthError>(&result)) {
                        return failSaving(session, *failure, done);
                    }
                    session->end();
                    workout = std::get<platform::SavedWorkout>(result);
                    done();
                }));
        }));
}

void WorkoutManager::failSaving(const std::shared_ptr<platform::WorkoutSession>& session,
                                const std::optional<HealthError>& error, const Done& done) {
    log_.line("Failed to end workout: " + describe(error));
    session->end();
    done();
}

void WorkoutManager::didFail(platform::WorkoutSession& /*session*/, const HealthError& error) {
    log_.line("workoutSession(_:didFailWithError:): " + error.description);
}

void WorkoutManager::didDisconnectFromRemoteDevice(platform::WorkoutSession& /*session*/,
                                                   std::optional<HealthError> error) {
    std::string text = "workoutSession(_:didDisconnectFromRemoteDeviceWithError:)";
    log_.line(error ? text + ": " + error->description : text);
}

// Metrics and mirroring.

void WorkoutManager::updateForStatistics(const platform::Statistics& statistics) {
    switch (statistics.quantityType) {
    case HealthType::heartRate:
        lastHeartRate =
            statistics.mostRecentQuantity
                ? statistics.mostRecentQuantity->doubleValue(platform::HealthUnit::countPerMinute)
                      .value_or(0.0)
                : 0.0;
        break;
    case HealthType::activeEnergyBurned:
        totalEnergyBurned =
            statistics.sumQuantity
                ? statistics.sumQuantity->doubleValue(platform::HealthUnit::kilocalorie)
                      .value_or(0.0)
                : 0.0;
        break;
    case HealthType::workout:
    case HealthType::activitySummary:
        break;
    }
}

void WorkoutManager::didCollectDataOfTypes(platform::LiveWorkoutBuilder& builder,
                                           const std::set<HealthType>& types) {
    auto reporting = builder.weak_from_this();
    executor_.main().async([alive = std::weak_ptr(alive_), this, reporting, types] {
        auto source = reporting.lock();
        if (!alive.lock() || !source) {
            return;
        }
        std::vector<platform::Statistics> collected;
        for (auto type : types) {
            if (!platform::isQuantityType(type)) {
                continue;
            }
            if (auto statistics = source->statisticsForType(type)) {
                updateForStatistics(*statistics);
                collected.push_back(std::move(*statistics));
            }
        }
        auto bytes = platform::encodeStatisticsArchive(collected);
        if (!bytes || bytes->empty()) {
            log_.line("Encoded cycling data is empty");
            return;
        }
        sendDataToRemote(std::move(*bytes));
    });
}

void WorkoutManager::sendDataToRemote(platform::Data bytes) {
    if (!workoutSession_) {
        return;
    }
    workoutSession_->sendToRemoteWorkoutSession(
        std::move(bytes), [&log = log_](bool success, std::optional<HealthError> error) {
            if (!success) {
                log.line("Failed to send data: " + describe(error));
            }
        });
}

void WorkoutManager::didReceiveDataFromRemoteWorkoutSession(
    platform::WorkoutSession& /*session*/, const std::vector<platform::Data>& data) {
    log_.line("workoutSession(_:didReceiveDataFromRemoteWorkoutSession:): " + describe(data));
    executor_.main().async([alive = std::weak_ptr(alive_), this, data] {
        if (!alive.lock()) {
            return;
        }
        for (const auto& buffer : data) {
            auto statistics = platform::decodeStatisticsArchive(buffer);
            if (!statistics) {
                continue;
            }
            for (const auto& one : *statistics) {
                updateForStatistics(one);
            }
        }
    });
}

} // namespace session
