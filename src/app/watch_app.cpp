#include "app/watch_app.hpp"

#include "platform/link/socket/socket_transport.hpp"

namespace app {

WatchApp::WatchApp(Settings settings, platform::Log& log)
    : defaults_(settings.dataDirectory, log),
      platformStores_(settings.dataDirectory / "platform", log), files_(settings.dataDirectory) {
    session_ = std::make_unique<platform::SessionEngine>(
        platform::LinkRole::watch,
        std::make_unique<platform::SocketTransport>(platform::LinkRole::watch, settings.link, log),
        platform::SessionEngineServices{executor_, platformStores_.standard(), files_, log});
    core_ = std::make_unique<WatchCore>(
        WatchEnvironment{executor_, defaults_.standard(), files_, *session_, log,
                         settings.dataDirectory, settings.healthAllowed, settings.notifications,
                         &platformStores_.standard(), settings.numberLocale});
}

WatchApp::~WatchApp() {
    core_.reset();
    session_.reset();
}

} // namespace app
