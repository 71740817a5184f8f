#include "app/options.hpp"

#include <charconv>

namespace app {

namespace {

bool parseScreenSize(std::string_view text, Options& options) {
    int width = 0;
    int height = 0;
    const auto x = text.find('x');
    if (x == std::string_view::npos) {
        return false;
    }
    auto number = [](std::string_view digits, int& out) {
        auto [end, failure] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
        return failure == std::errc() && end == digits.data() + digits.size();
    };
    if (!number(text.substr(0, x), width) || !number(text.substr(x + 1), height) || width < 100 ||
        height < 100 || width > 2000 || height > 2000) {
        return false;
    }
    options.screenWidth = width;
    options.screenHeight = height;
    return true;
}

} // namespace

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
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--watch-face") {
            options.watchFace = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--link" || arg == "--data-dir" || arg == "--notifications" ||
                   arg == "--health" || arg == "--snapshot" || arg == "--control" ||
                   arg == "--screen") {
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
            } else if (arg == "--control") {
                if (*text != "stdin") {
                    error = "--control takes stdin";
                    return std::nullopt;
                }
                options.controlStdin = true;
            } else if (arg == "--screen") {
                if (!parseScreenSize(*text, options)) {
                    error = "--screen takes WIDTHxHEIGHT in pixels, each from 100 to 2000, not " +
                            std::string(*text);
                    return std::nullopt;
                }
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
    return "usage: wristside [--screen WIDTHxHEIGHT] [--control stdin] [--watch-face] [COMMON]\n"
           "       wristside --headless [COMMON]\n"
           "       wristside --snapshot FILE [--json]\n"
           "       wristside --help | --version\n"
           "COMMON: [--link ADDRESS] [--data-dir DIR] [--notifications allow|deny|undecided]\n"
           "        [--health allow|deny]\n"
           "  Without --headless the watch opens its window (396x484 pixels unless --screen\n"
           "  says otherwise; QT_QPA_PLATFORM=offscreen needs no display). --control stdin then\n"
           "  reads JSON control lines on standard input and carries each out by pressing the\n"
           "  controls on screen (see docs/headless-control.md). --watch-face starts on a\n"
           "  watch face whose complication opens the window.\n"
           "  --headless runs the watch core without screens, driven by the same JSON lines.\n"
           "  --link unix:PATH or tcp:127.0.0.1:PORT, where phone-sim listens.\n"
           "  --snapshot decodes a workout snapshot file (a binary property list as the phone\n"
           "  sends it) and prints the workout as the watch holds it (--json: as JSON).\n";
}

std::string_view versionText() {
    return "wristside 0.1\n";
}

} // namespace app
