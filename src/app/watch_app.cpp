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
    data_ = std::make_unique<watchsync::WatchDataSource>(watchsync::WatchDataSource::Services{
        executor_, defaults_.standard(), files_, session_.get(), *outbox_, log});
}

WatchApp::~WatchApp() {
    // The hub first: it stops being the session's delegate before the session goes.
    data_.reset();
    outbox_.reset();
    session_.reset();
}

} // namespace app
