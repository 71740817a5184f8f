#include "platform/health/simulated_health_store.hpp"

#include "platform/health/strength_signal.hpp"
#include "platform/health/workout_database.hpp"
#include "platform/values/uuid.hpp"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

namespace platform {

namespace health_detail {

struct Core {
    Core(Executor& executor, SimulatedHealthOptions options)
        : clock(executor.clock()), queue(executor.makeSerialQueue("health")),
          settings(std::move(options)), userAllows(settings.userAllowsAuthorization),
          companion(settings.companion) {
        if (!settings.dataDirectory.empty()) {
            database.emplace(settings.dataDirectory / SimulatedHealthStore::databaseFileName);
        }
    }

    SimulatedHealthFailures currentFailures() const {
        std::lock_guard lock(mutex);
        return failures;
    }

    bool mayShare(HealthType type) const {
        std::lock_guard lock(mutex);
        auto found = authorization.find(type);
        return found != authorization.end() &&
               found->second == AuthorizationStatus::sharingAuthorized;
    }

    std::optional<std::string> save(const SavedWorkout& workout) {
        if (database) {
            return database->save(workout);
        }
        std::lock_guard lock(mutex);
        memoryWorkouts.push_back(workout);
        return std::nullopt;
    }

    const Clock& clock;
    std::unique_ptr<Queue> queue;
    const SimulatedHealthOptions settings;

    // Guards everything below and the mutable state of every session and builder of this
    // store; never held while a completion or delegate runs.
    mutable std::mutex mutex;
    SimulatedHealthFailures failures;
    bool userAllows;
    std::map<HealthType, AuthorizationStatus> authorization;
    std::optional<WorkoutDatabase> database;
    std::vector<SavedWorkout> memoryWorkouts;
    std::shared_ptr<WorkoutSession> current;
    std::uint64_t sessionsCreated = 0;
    // The phone end of mirroring, under its own lock (held while data is handed to the link,
    // which takes no lock of ours); gone with the store, while sessions may still have work
    // queued.
    mutable std::mutex companionMutex;
    Session* companion;
};

} // namespace health_detail

namespace {

using health_detail::Core;
using State = WorkoutSessionState;

HealthError injected(std::string what) {
    return {HealthError::Code::injected, "Simulated failure: " + std::move(what)};
}

HealthError invalidState(std::string what) {
    return {HealthError::Code::invalidState, std::move(what)};
}

enum class Move { prepare, start, stop, pause, resume, end };

// The platform's session state machine; nothing for a move the state does not allow.
std::optional<State> target(State from, Move move) {
    switch (move) {
    case Move::prepare:
        return from == State::notStarted ? std::optional(State::prepared) : std::nullopt;
    case Move::start:
        return from == State::notStarted || from == State::prepared ? std::optional(State::running)
                                                                    : std::nullopt;
    case Move::stop:
        return from == State::running || from == State::paused ? std::optional(State::stopped)
                                                               : std::nullopt;
    case Move::pause:
        return from == State::running ? std::optional(State::paused) : std::nullopt;
    case Move::resume:
        return from == State::paused ? std::optional(State::running) : std::nullopt;
    case Move::end:
        return from != State::ended ? std::optional(State::ended) : std::nullopt;
    }
    return std::nullopt;
}

// Delegates are called with this held, so that replacing one waits for a callback under way;
// recursive, so that a delegate may replace itself from its own callback.
template <class Delegate> class DelegateSlot {
public:
    void set(Delegate* delegate) {
        std::lock_guard lock(mutex_);
        delegate_ = delegate;
    }
    template <class F> void notify(F&& call) {
        std::lock_guard lock(mutex_);
        if (delegate_ != nullptr) {
            std::forward<F>(call)(*delegate_);
        }
    }

private:
    std::recursive_mutex mutex_;
    Delegate* delegate_ = nullptr;
};

class SimulatedDataSource final : public LiveWorkoutDataSource {
public:
    void enableCollectionForType(HealthType type) override {
        if (isQuantityType(type)) {
            std::lock_guard lock(mutex_);
            types_.insert(type);
        }
    }
    void disableCollectionForType(HealthType type) override {
        std::lock_guard lock(mutex_);
        types_.erase(type);
    }
    std::set<HealthType> typesToCollect() const override {
        std::lock_guard lock(mutex_);
        return types_;
    }

private:
    mutable std::mutex mutex_;
    // What the platform collects for a workout unasked; heart rate must be enabled.
    std::set<HealthType> types_{HealthType::activeEnergyBurned};
};

class SimulatedBuilder final : public LiveWorkoutBuilder {
public:
    SimulatedBuilder(std::shared_ptr<Core> core, std::weak_ptr<WorkoutSession> session,
                     int activityType, std::uint64_t seed)
        : core_(std::move(core)), session_(std::move(session)), activityType_(activityType),
          signal_(seed) {}

    void setDelegate(LiveWorkoutBuilderDelegate* delegate) override { delegate_.set(delegate); }

    void setDataSource(std::shared_ptr<LiveWorkoutDataSource> dataSource) override {
        std::lock_guard lock(core_->mutex);
        dataSource_ = std::move(dataSource);
    }

    void beginCollection(Date start, HealthResultCompletion completion) override {
        later([start, completion = std::move(completion)](SimulatedBuilder& self) {
            if (self.core_->currentFailures().beginCollection) {
                return completion(false, injected("beginning collection"));
            }
            {
                std::lock_guard lock(self.core_->mutex);
                if (self.start_ || self.discarded_) {
                    return completion(false, invalidState("collection has already begun"));
                }
                self.start_ = start;
                self.collecting_ = true;
                self.lastTick_ = self.core_->clock.now();
            }
            self.scheduleTick();
            completion(true, std::nullopt);
        });
    }

    void endCollection(Date end, HealthResultCompletion completion) override {
        later([end, completion = std::move(completion)](SimulatedBuilder& self) {
            if (self.core_->currentFailures().endCollection) {
                return completion(false, injected("ending collection"));
            }
            std::unique_lock lock(self.core_->mutex);
            if (!self.collecting_) {
                lock.unlock();
                return completion(false, invalidState("collection is not under way"));
            }
            self.collecting_ = false;
            self.end_ = std::max(end, *self.start_);
            lock.unlock();
            completion(true, std::nullopt);
        });
    }

    void finishWorkout(FinishWorkoutCompletion completion) override {
        later([completion = std::move(completion)](SimulatedBuilder& self) {
            if (self.core_->currentFailures().finishWorkout) {
                return completion(injected("finishing the workout"));
            }
            if (!self.core_->mayShare(HealthType::workout)) {
                return completion(HealthError{HealthError::Code::notAuthorized,
                                              "Not authorized to save workouts"});
            }
            auto workout = self.makeWorkout();
            if (!workout) {
                return completion(invalidState("collection has not ended"));
            }
            if (auto error = self.core_->save(*workout)) {
                return completion(HealthError{HealthError::Code::storageFailed, *error});
            }
            {
                std::lock_guard lock(self.core_->mutex);
                self.finished_ = true;
            }
            completion(std::move(*workout));
        });
    }

    void discardWorkout() override {
        std::lock_guard lock(core_->mutex);
        discarded_ = true;
        collecting_ = false;
    }

    void addMetadata(Dictionary metadata, HealthResultCompletion completion) override {
        later([metadata = std::move(metadata),
               completion = std::move(completion)](SimulatedBuilder& self) {
            if (self.core_->currentFailures().addMetadata) {
                return completion(false, injected("adding metadata"));
            }
            std::unique_lock lock(self.core_->mutex);
            if (self.finished_ || self.discarded_) {
                lock.unlock();
                return completion(false, invalidState("the workout is already finished"));
            }
            for (const auto& [key, value] : metadata) {
                self.metadata_.insert_or_assign(key, value);
            }
            lock.unlock();
            completion(true, std::nullopt);
        });
    }

    Dictionary metadata() const override {
        std::lock_guard lock(core_->mutex);
        return metadata_;
    }

    std::optional<Statistics> statisticsForType(HealthType type) const override {
        std::lock_guard lock(core_->mutex);
        if (!start_ || !lastSample_) {
            return std::nullopt;
        }
        if (type == HealthType::heartRate && heartRateSamples_ > 0) {
            return Statistics{type, *start_, *lastSample_,
                              Quantity{lastHeartRate_, HealthUnit::countPerMinute}, std::nullopt};
        }
        if (type == HealthType::activeEnergyBurned && energySamples_ > 0) {
            return Statistics{type, *start_, *lastSample_, std::nullopt,
                              Quantity{energy_, HealthUnit::kilocalorie}};
        }
        return std::nullopt;
    }

private:
    // Runs `work` on the store's queue; holds the builder so that every completion comes.
    template <class F> void later(F work) {
        core_->queue->async([self = shared_from_this(), work = std::move(work)]() mutable {
            work(static_cast<SimulatedBuilder&>(*self));
        });
    }

    void scheduleTick() {
        core_->queue->asyncAfter(core_->settings.sampleInterval, [weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                static_cast<SimulatedBuilder&>(*self).tick();
            }
        });
    }

    // One batch of samples while collecting; none while the session is not running.
    void tick() {
        auto session = session_.lock();
        bool running = session && session->state() == State::running;
        std::set<HealthType> collected;
        {
            std::lock_guard lock(core_->mutex);
            if (!collecting_) {
                return;
            }
            auto now = core_->clock.now();
            auto elapsed = now - lastTick_;
            lastTick_ = now;
            if (running && dataSource_) {
                auto types = dataSource_->typesToCollect();
                auto sample = signal_.next(elapsed);
                if (types.count(HealthType::heartRate) != 0) {
                    lastHeartRate_ = sample.heartRate;
                    heartRateSum_ += sample.heartRate;
                    maxHeartRate_ = std::max(maxHeartRate_, sample.heartRate);
                    ++heartRateSamples_;
                    collected.insert(HealthType::heartRate);
                }
                if (types.count(HealthType::activeEnergyBurned) != 0) {
                    energy_ += sample.energyKilocalories;
                    ++energySamples_;
                    collected.insert(HealthType::activeEnergyBurned);
                }
                if (!collected.empty()) {
                    lastSample_ = toDate(now);
                }
            }
        }
        scheduleTick();
        if (!collected.empty()) {
            delegate_.notify([&](LiveWorkoutBuilderDelegate& delegate) {
                delegate.didCollectDataOfTypes(*this, collected);
            });
        }
    }

    std::optional<SavedWorkout> makeWorkout() const {
        std::lock_guard lock(core_->mutex);
        if (!start_ || !end_ || finished_ || discarded_) {
            return std::nullopt;
        }
        SavedWorkout workout;
        workout.uuid = makeUuid();
        workout.activityType = activityType_;
        workout.startDate = *start_;
        workout.endDate = *end_;
        workout.durationSeconds = end_->sinceReferenceDate - start_->sinceReferenceDate;
        workout.metadata = metadata_;
        if (energySamples_ > 0) {
            workout.totalEnergyBurnedKilocalories = energy_;
        }
        if (heartRateSamples_ > 0) {
            workout.averageHeartRate = heartRateSum_ / static_cast<double>(heartRateSamples_);
            workout.maxHeartRate = maxHeartRate_;
        }
        return workout;
    }

    std::shared_ptr<Core> core_;
    std::weak_ptr<WorkoutSession> session_;
    const int activityType_;
    DelegateSlot<LiveWorkoutBuilderDelegate> delegate_;

    // Guarded by core_->mutex.
    StrengthSignal signal_;
    std::shared_ptr<LiveWorkoutDataSource> dataSource_;
    std::optional<Date> start_;
    std::optional<Date> end_;
    std::optional<Date> lastSample_;
    bool collecting_ = false;
    bool discarded_ = false;
    bool finished_ = false;
    TimePoint lastTick_{};
    Dictionary metadata_;
    double lastHeartRate_ = 0;
    double heartRateSum_ = 0;
    double maxHeartRate_ = 0;
    std::uint64_t heartRateSamples_ = 0;
    double energy_ = 0;
    std::uint64_t energySamples_ = 0;
};

class SimulatedSession final : public WorkoutSession {
public:
    SimulatedSession(std::shared_ptr<Core> core, WorkoutConfiguration configuration)
        : core_(std::move(core)), configuration_(configuration) {}

    static std::shared_ptr<SimulatedSession>
    make(std::shared_ptr<Core> core, WorkoutConfiguration configuration, std::uint64_t seed) {
        auto session = std::make_shared<SimulatedSession>(core, configuration);
        session->builder_ = std::make_shared<SimulatedBuilder>(
            std::move(core), session->weak_from_this(), configuration.activityType, seed);
        return session;
    }

    State state() const override {
        std::lock_guard lock(core_->mutex);
        return state_;
    }
    WorkoutConfiguration configuration() const override { return configuration_; }
    std::shared_ptr<LiveWorkoutBuilder> associatedWorkoutBuilder() override { return builder_; }
    void setDelegate(WorkoutSessionDelegate* delegate) override { delegate_.set(delegate); }

    void prepare() override { move(Move::prepare, now()); }
    void startActivity(Date date) override { move(Move::start, date); }
    void stopActivity(Date date) override { move(Move::stop, date); }
    void pause() override { move(Move::pause, now()); }
    void resume() override { move(Move::resume, now()); }
    void end() override { move(Move::end, now()); }

    void startMirroringToCompanionDevice(HealthResultCompletion completion) override {
        later([completion = std::move(completion)](SimulatedSession& self) {
            if (self.core_->currentFailures().mirroring) {
                return completion(false, injected("mirroring to the companion device"));
            }
            bool hasCompanion = false;
            {
                std::lock_guard companionLock(self.core_->companionMutex);
                hasCompanion = self.core_->companion != nullptr;
            }
            if (!hasCompanion) {
                return completion(
                    false, HealthError{HealthError::Code::noCompanion, "No companion device"});
            }
            std::unique_lock lock(self.core_->mutex);
            if (self.state_ == State::ended) {
                lock.unlock();
                return completion(false, invalidState("the session has ended"));
            }
            self.mirroring_ = true;
            lock.unlock();
            completion(true, std::nullopt);
        });
    }

    void sendToRemoteWorkoutSession(Data data, HealthResultCompletion completion) override {
        later([data = std::move(data), completion = std::move(completion)](SimulatedSession& self) {
            if (self.core_->currentFailures().sendRemoteData) {
                return completion(false, injected("sending data to the remote session"));
            }
            bool mirroring = false;
            {
                std::lock_guard lock(self.core_->mutex);
                mirroring = self.mirroring_;
            }
            bool sent = false;
            if (mirroring) {
                std::lock_guard companionLock(self.core_->companionMutex);
                if (self.core_->companion != nullptr) {
                    self.core_->companion->sendWorkoutData(data);
                    sent = true;
                }
            }
            if (!sent) {
                return completion(false, invalidState("the session is not mirrored"));
            }
            completion(true, std::nullopt);
        });
    }

    template <class F> void notify(F&& call) { delegate_.notify(std::forward<F>(call)); }

private:
    Date now() const { return toDate(core_->clock.now()); }

    template <class F> void later(F work) {
        core_->queue->async([self = std::static_pointer_cast<SimulatedSession>(shared_from_this()),
                             work = std::move(work)]() mutable { work(*self); });
    }

    void move(Move request, Date date) {
        later([request, date](SimulatedSession& self) { self.apply(request, date); });
    }

    void apply(Move request, Date date) {
        State from{};
        State to{};
        {
            std::lock_guard lock(core_->mutex);
            from = state_;
            auto next = target(from, request);
            if (!next) {
                return;
            }
            to = *next;
            state_ = to;
            if (to == State::ended) {
                mirroring_ = false;
                if (core_->current.get() == this) {
                    core_->current.reset();
                }
            }
        }
        notify([&](WorkoutSessionDelegate& delegate) {
            delegate.didChangeToState(*this, to, from, date);
        });
    }

    std::shared_ptr<Core> core_;
    const WorkoutConfiguration configuration_;
    std::shared_ptr<SimulatedBuilder> builder_;
    DelegateSlot<WorkoutSessionDelegate> delegate_;
    // Guarded by core_->mutex.
    State state_ = State::notStarted;
    bool mirroring_ = false;
};

} // namespace

SimulatedHealthStore::SimulatedHealthStore(Executor& executor, SimulatedHealthOptions options)
    : core_(std::make_shared<Core>(executor, std::move(options))) {}

SimulatedHealthStore::~SimulatedHealthStore() {
    // The current session refers back to the shared state; letting go of it breaks the cycle.
    std::shared_ptr<WorkoutSession> current;
    {
        std::lock_guard companionLock(core_->companionMutex);
        core_->companion = nullptr;
    }
    std::lock_guard lock(core_->mutex);
    current = std::exchange(core_->current, nullptr);
}

void SimulatedHealthStore::requestAuthorization(std::set<HealthType> typesToShare,
                                                std::set<HealthType> typesToRead,
                                                HealthResultCompletion completion) {
    core_->queue->async([core = core_, share = std::move(typesToShare),
                         read = std::move(typesToRead), completion = std::move(completion)] {
        if (share.empty() && read.empty()) {
            return completion(false, invalidState("No types to authorize"));
        }
        {
            std::lock_guard lock(core->mutex);
            for (auto type : share) {
                core->authorization[type] = core->userAllows
                                                ? AuthorizationStatus::sharingAuthorized
                                                : AuthorizationStatus::sharingDenied;
            }
        }
        completion(true, std::nullopt);
    });
}

AuthorizationStatus SimulatedHealthStore::authorizationStatus(HealthType type) const {
    std::lock_guard lock(core_->mutex);
    auto found = core_->authorization.find(type);
    return found == core_->authorization.end() ? AuthorizationStatus::notDetermined : found->second;
}

bool SimulatedHealthStore::isHealthDataAvailable() const {
    return core_->settings.healthDataAvailable;
}

std::variant<std::shared_ptr<WorkoutSession>, HealthError>
SimulatedHealthStore::makeWorkoutSession(const WorkoutConfiguration& configuration) {
    if (core_->currentFailures().sessionCreation) {
        return injected("creating the workout session");
    }
    std::uint64_t seed = 0;
    {
        std::lock_guard lock(core_->mutex);
        seed = core_->settings.seed + core_->sessionsCreated++;
    }
    std::shared_ptr<WorkoutSession> session = SimulatedSession::make(core_, configuration, seed);
    std::shared_ptr<WorkoutSession> replaced;
    {
        std::lock_guard lock(core_->mutex);
        replaced = std::exchange(core_->current, session);
    }
    return session;
}

std::shared_ptr<LiveWorkoutDataSource>
SimulatedHealthStore::makeLiveDataSource(const WorkoutConfiguration& /*configuration*/) {
    return std::make_shared<SimulatedDataSource>();
}

std::vector<SavedWorkout> SimulatedHealthStore::savedWorkouts() const {
    if (core_->database) {
        return core_->database->load().value_or(std::vector<SavedWorkout>{});
    }
    std::lock_guard lock(core_->mutex);
    return core_->memoryWorkouts;
}

void SimulatedHealthStore::setFailures(const SimulatedHealthFailures& failures) {
    std::lock_guard lock(core_->mutex);
    core_->failures = failures;
}

void SimulatedHealthStore::setUserAllowsAuthorization(bool allows) {
    std::lock_guard lock(core_->mutex);
    core_->userAllows = allows;
}

std::shared_ptr<WorkoutSession> SimulatedHealthStore::currentSession() const {
    std::lock_guard lock(core_->mutex);
    return core_->current;
}

namespace {

// Runs `call` with the current session's delegate on the store's queue.
template <class F> void notifyCurrent(const std::shared_ptr<Core>& core, F call) {
    core->queue->async([core, call = std::move(call)] {
        std::shared_ptr<WorkoutSession> session;
        {
            std::lock_guard lock(core->mutex);
            session = core->current;
        }
        if (session) {
            auto& simulated = static_cast<SimulatedSession&>(*session);
            simulated.notify([&](WorkoutSessionDelegate& delegate) { call(delegate, *session); });
        }
    });
}

} // namespace

void SimulatedHealthStore::receiveRemoteWorkoutData(const Data& data) {
    notifyCurrent(core_, [data](WorkoutSessionDelegate& delegate, WorkoutSession& session) {
        delegate.didReceiveDataFromRemoteWorkoutSession(session, {data});
    });
}

void SimulatedHealthStore::reportSessionFailure(const HealthError& error) {
    notifyCurrent(core_, [error](WorkoutSessionDelegate& delegate, WorkoutSession& session) {
        delegate.didFail(session, error);
    });
}

void SimulatedHealthStore::reportRemoteDisconnect(std::optional<HealthError> error) {
    notifyCurrent(core_, [error](WorkoutSessionDelegate& delegate, WorkoutSession& session) {
        delegate.didDisconnectFromRemoteDevice(session, error);
    });
}

Queue& SimulatedHealthStore::queue() {
    return *core_->queue;
}

} // namespace platform
