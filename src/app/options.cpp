#include "app/options.hpp"

namespace app {

std::optional<Options> parseOptions(const std::vector<std::string_view>& arguments,
                                    std::string& error) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        auto arg = arguments[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= arguments.size()) {
                error = std::string(arg) + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--link" || arg == "--data-dir" || arg == "--notifications" ||
                   arg == "--health" || arg == "--snapshot") {
            auto text = value();
            if (!text) {
                return std::nullopt;
            }
            if (arg == "--link") {
                options.link = *text;
            } else if (arg == "--data-dir") {
                options.dataDirectory = std::filesystem::path(*text);
            } else if (arg == "--snapshot") {
                options.snapshotFile = std::filesystem::path(*text);
            } else if (arg == "--notifications") {
                if (*text != "allow" && *text != "deny" && *text != "undecided") {
                    error = "--notifications takes allow, deny or undecided";
                    return std::nullopt;
                }
                options.notifications = *text;
            } else {
                if (*text != "allow" && *text != "deny") {
                    error = "--health takes allow or deny";
                    return std::nullopt;
                }
                options.health = *text;
            }
        } else {
            error = "unknown argument " + std::string(arg);
            return std::nullopt;
        }
    }
    return options;
}

std::string_view usageText() {
    return "usage: wristside --headless [--link ADDRESS] [--data-dir DIR]\n"
           "                 [--notifications allow|deny|undecided] [--health allow|deny]\n"
           "       wristside --snapshot FILE [--json]\n"
           "  --headless runs the watch core without screens, driven by JSON lines on standard\n"
           "  input (see docs/headless-control.md); the screens are not built yet.\n"
           "  --link unix:PATH or tcp:127.0.0.1:PORT, where phone-sim listens.\n"
           "  --snapshot decodes a workout snapshot file (a binary property list as the phone\n"
           "  sends it) and prints the workout as the watch holds it (--json: as JSON).\n";
}

} // namespace app
