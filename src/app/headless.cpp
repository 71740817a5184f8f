#include "app/headless.hpp"

#include "app/headless_control.hpp"
#include "app/stdin_lines.hpp"
#include "app/watch_app.hpp"
#include "platform/exec/system_executor.hpp"

#include <cstdlib>
#include <iostream>

namespace app {

int runHeadless(const Options& options, std::ostream& out) {
    platform::StreamLog log(out);
    std::string error;
    auto settings = WatchApp::settingsFrom(options, error);
    if (!settings) {
        std::cerr << "wristside: " << error << "\n";
        return 2;
    }
    platform::SystemExecutor executor;
    WatchApp watch(executor, std::move(*settings), log);
    auto& main = executor.mainLoop();
    auto& core = watch.core();
    // Without screens the program counts as active once, at start.
    core.becameActive();
    HeadlessControl control(
        HeadlessControl::Wiring{executor, core.data(), core.outbox(), core.restTimer(),
                                core.workoutManager(), core.mainScreen(), core.notificationCenter(),
                                [&log](std::string_view line) { log.line(line); },
                                [&main] { main.stop(); }, nullptr, &core.syncHealth()});
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
