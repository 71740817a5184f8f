// wristside: the watch application. The screens are not built yet: it runs headless, or decodes
// a snapshot file as a tool.
#include "app/headless.hpp"
#include "app/options.hpp"
#include "app/snapshot_tool.hpp"

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
    if (options->snapshotFile) {
        return app::printSnapshot(*options->snapshotFile, options->json, std::cout, std::cerr);
    }
    if (!options->headless) {
        std::cerr << "wristside: the screens are not built yet; run with --headless\n"
                  << app::usageText();
        return 2;
    }
    return app::runHeadless(*options, std::cout);
}
