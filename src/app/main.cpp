// wristside: the watch application, with its window or headless; or a tool that decodes a
// snapshot file.
#include "app/headless.hpp"
#include "app/options.hpp"
#include "app/snapshot_tool.hpp"
#include "app/with_screens.hpp"

#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    std::string error;
    auto options = app::parseOptions(arguments, error);
    if (!options) {
        std::cerr << "wristside: " << error << "\n" << app::usageText();
        return 2;
    }
    if (options->help) {
        std::cout << app::usageText();
        return 0;
    }
    if (options->version) {
        std::cout << app::versionText();
        return 0;
    }
    if (options->snapshotFile) {
        return app::printSnapshot(*options->snapshotFile, options->json, std::cout, std::cerr);
    }
    if (options->headless) {
        return app::runHeadless(*options, std::cout);
    }
    return app::runWithScreens(*options, std::cout, argc, argv);
}
