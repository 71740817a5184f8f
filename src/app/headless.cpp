#include "app/headless.hpp"

#include "app/headless_control.hpp"
#include "app/stdin_lines.hpp"
#include "app/watch_app.hpp"
#include "platform/link/socket/link_address.hpp"

#include <cstdlib>
#include <iostream>

namespace app {

int runHeadless(const Options& options, std::ostream& out) {
    platform::StreamLog log(out);
    std::string error;
    auto address = platform::parseLinkAddress(
        options.link.empty() ? platform::defaultLinkAddress() : options.link, &error);
    if (!address) {
        std::cerr << "wristside: --link: " << error << "\n";
        return 2;
    }
    auto dataDirectory = options.dataDirectory.empty() ? platform::defaultDataDirectory("wristside")
                                                       : options.dataDirectory;

    auto notifications = platform::parseSimulatedNotificationAnswer(options.notifications)
                             .value_or(platform::SimulatedNotificationAnswer::allow);
    WatchApp watch(WatchApp::Settings{dataDirectory, *address, options.health == "allow",
                                      notifications,
                                      screens::NumberLocale::fromEnvironment(std::getenv)},
                   log);
    auto& main = watch.executor().mainLoop();
    auto& core = watch.core();
    // Without screens the program counts as active once, at start.
    core.becameActive();
    HeadlessControl control(HeadlessControl::Wiring{
        watch.executor(), core.data(), core.outbox(), core.restTimer(), core.workoutManager(),
        core.mainScreen(), core.notificationCenter(),
        [&log](std::string_view line) { log.line(line); }, [&main] { main.stop(); }});
    {
        StdinLines input(
            [&](std::string line) {
                main.async([&control, line = std::move(line)] {
                    if (!line.empty()) {
                        control.handleLine(line);
                    }
                });
            },
            [&main] { main.async([&main] { main.stop(); }); });
        main.run();
    }
    return 0;
}

} // namespace app
