#include "app/watch_app.hpp"

#include "platform/link/socket/socket_transport.hpp"

namespace app {

WatchApp::WatchApp(Settings settings, platform::Log& log)
    : log_(log), defaults_(settings.dataDirectory, log),
      platformStores_(settings.dataDirectory / "platform", log), files_(settings.dataDirectory) {
    session_ = std::make_unique<platform::SessionEngine>(
        platform::LinkRole::watch,
        std::make_unique<platform::SocketTransport>(platform::LinkRole::watch, settings.link, log),
        platform::SessionEngineServices{executor_, platformStores_.standard(), files_, log});
    outbox_ = std::make_unique<watchsync::WatchSyncOutbox>(executor_, *session_,
                                                           defaults_.standard(), log);
    platform::SimulatedHealthOptions health;
    health.dataDirectory = settings.dataDirectory;
    health.userAllowsAuthorization = settings.healthAllowed;
    health.companion = session_.get();
    health_ = std::make_unique<platform::SimulatedHealthStore>(executor_, health);
    workoutManager_ =
        std::make_unique<session::WorkoutManager>(executor_, defaults_.standard(), *health_, log);
    restTimer_ =
        std::make_unique<timer::RestTimerManager>(executor_, defaults_.standard(), *outbox_, log);
    appDelegate_ = std::make_unique<AppDelegate>(executor_, *workoutManager_, log);
    data_ = std::make_unique<watchsync::WatchDataSource>(
        watchsync::WatchDataSource::Services{executor_, defaults_.standard(), files_,
                                             session_.get(), *outbox_, log},
        watchsync::WatchDataSource::Managers{
            restTimer_.get(), workoutManager_.get(),
            [health = health_.get()](const platform::Data& data) {
                health->receiveRemoteWorkoutData(data);
            },
            [delegate = appDelegate_.get()](const platform::Dictionary& configuration) {
                delegate->handleWorkoutConfiguration(configuration);
            }});
}

WatchApp::~WatchApp() {
    // The hub first: it stops being the session's delegate before the session goes.
    data_.reset();
    appDelegate_.reset();
    restTimer_.reset();
    workoutManager_.reset();
    health_.reset();
    outbox_.reset();
    session_.reset();
}

} // namespace app
