#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The watch program's command line.
struct Options {
    bool headless = false;
    std::string link;                    // empty: the default address
    std::filesystem::path dataDirectory; // empty: the default under $XDG_DATA_HOME
    std::string notifications = "allow"; // allow | deny | undecided
    std::string health = "allow";        // allow | deny
    // Tool mode: decode a snapshot file and print it, without starting the watch.
    std::optional<std::filesystem::path> snapshotFile;
    bool json = false;
    // With screens: read control lines on standard input (headless always does).
    bool controlStdin = false;
    // The watch screen's size in pixels.
    int screenWidth = 396;
    int screenHeight = 484;
    // Start on a watch face whose complication opens the window.
    bool watchFace = false;
    bool help = false;
    bool version = false;
};

// Nothing for a command line it cannot use; error then says what was wrong.
std::optional<Options> parseOptions(const std::vector<std::string_view>& arguments,
                                    std::string& error);

std::string_view usageText();
std::string_view versionText();

} // namespace app
