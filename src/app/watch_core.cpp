#include "app/watch_core.hpp"

namespace app {

WatchCore::WatchCore(WatchEnvironment environment) {
    auto& executor = environment.executor;
    auto& defaults = environment.defaults;
    auto& log = environment.log;
    bookkeeping_ = std::make_unique<watchsync::OutboxBookkeeping>(defaults, executor.clock());
    outbox_ = std::make_unique<watchsync::WatchSyncOutbox>(executor, environment.session, defaults,
                                                           log, bookkeeping_.get());
    platform::SimulatedHealthOptions health;
    health.dataDirectory = environment.healthDirectory;
    health.userAllowsAuthorization = environment.healthAllowed;
    health.companion = &environment.session;
    health_ = std::make_unique<platform::SimulatedHealthStore>(executor, health);
    workoutManager_ = std::make_unique<session::WorkoutManager>(executor, defaults, *health_, log);
    restTimer_ = std::make_unique<timer::RestTimerManager>(executor, defaults, *outbox_, log);
    appDelegate_ = std::make_unique<AppDelegate>(executor, *workoutManager_, log);
    notificationCenter_ = std::make_unique<platform::SimulatedNotificationCenter>(
        executor, environment.notifications,
        platform::NotificationAuthorizationStatus::notDetermined, environment.platformStore);
    restTimerNotifications_ =
        std::make_unique<timer::RestTimerNotifications>(executor, *notificationCenter_, log);
    restTimer_->setAlerts(restTimerNotifications_.get());
    haptics_ = std::make_unique<platform::HapticRecorder>(executor.clock());
    data_ = std::make_unique<watchsync::WatchDataSource>(
        watchsync::WatchDataSource::Services{executor, defaults, environment.files,
                                             &environment.session, *outbox_, log},
        watchsync::WatchDataSource::Managers{
            restTimer_.get(), workoutManager_.get(),
            [health = health_.get()](const platform::Data& data) {
                health->receiveRemoteWorkoutData(data);
            },
            [delegate = appDelegate_.get()](const platform::Dictionary& configuration) {
                delegate->handleWorkoutConfiguration(configuration);
            },
            [center = notificationCenter_.get()] {
                center->removeAllPendingNotificationRequests();
                center->removeAllDeliveredNotifications();
            }});
    mainScreen_ = std::make_unique<screens::MainScreen>(
        screens::MainScreen::Services{executor, *data_, *outbox_, *restTimer_, *workoutManager_,
                                      *haptics_, log, environment.numberLocale});
    syncHealth_ = std::make_unique<screens::SyncHealth>(executor, *outbox_, *data_);
}

void WatchCore::becameActive() {
    restTimerNotifications_->setUpNotifications(
        timer::RestTimerNotifications::runningTimerOf(*restTimer_));
}

WatchCore::~WatchCore() {
    syncHealth_.reset();
    mainScreen_.reset();
    // The hub stops being the session's delegate before anything it drives goes.
    data_.reset();
    restTimer_->setAlerts(nullptr);
    restTimerNotifications_.reset();
    appDelegate_.reset();
}

} // namespace app
