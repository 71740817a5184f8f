#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// phone-sim's own reader and writer of the defaults suites it shares with the widget plug-in
// (docs/widget-suite.md): one JSON object per file `<directory>/<name>.json`, replaced whole.
namespace phone::widget {

constexpr std::uintmax_t largestSuiteFile = 16u << 20;

// The suite's object: empty when the file is missing; nothing (with why in *error) when the
// suite cannot be opened (bad name, no directory, unreadable, too large, not one JSON object).
std::optional<nlohmann::json> readSuite(const std::filesystem::path& directory,
                                        std::string_view name, std::string* error = nullptr);

// Sets one key: reads the current object (anything but one counts as {}), writes the whole
// object to a temporary file beside it, syncs it, renames it over the suite and syncs the
// directory. False (with why in *error) when any step failed; the suite is then unchanged.
bool writeSuiteKey(const std::filesystem::path& directory, std::string_view name,
                   const std::string& key, const nlohmann::json& value,
                   std::string* error = nullptr);

} // namespace phone::widget
