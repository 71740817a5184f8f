#include "app/watch_app.hpp"

#include "platform/link/socket/socket_transport.hpp"

#include <cstdlib>

namespace app {

WatchApp::WatchApp(platform::Executor& executor, Settings settings, platform::Log& log)
    : defaults_(settings.dataDirectory, log),
      platformStores_(settings.dataDirectory / "platform", log), files_(settings.dataDirectory) {
    session_ = std::make_unique<platform::SessionEngine>(
        platform::LinkRole::watch,
        std::make_unique<platform::SocketTransport>(platform::LinkRole::watch, settings.link, log),
        platform::SessionEngineServices{executor, platformStores_.standard(), files_, log});
    core_ = std::make_unique<WatchCore>(
        WatchEnvironment{executor, defaults_.standard(), files_, *session_, log,
                         settings.dataDirectory, settings.healthAllowed, settings.notifications,
                         &platformStores_.standard(), settings.numberLocale});
}

std::optional<WatchApp::Settings> WatchApp::settingsFrom(const Options& options,
                                                         std::string& error) {
    auto address = platform::parseLinkAddress(
        options.link.empty() ? platform::defaultLinkAddress() : options.link, &error);
    if (!address) {
        error = "--link: " + error;
        return std::nullopt;
    }
    return Settings{options.dataDirectory.empty() ? platform::defaultDataDirectory("wristside")
                                                  : options.dataDirectory,
                    *address, options.health == "allow",
                    platform::parseSimulatedNotificationAnswer(options.notifications)
                        .value_or(platform::SimulatedNotificationAnswer::allow),
                    screens::NumberLocale::fromEnvironment(std::getenv)};
}

WatchApp::~WatchApp() {
    core_.reset();
    session_.reset();
}

} // namespace app
