#pragma once

// A defaults suite as one JSON object in one file, <directory>/<name>.json, shared with the
// phone program (docs/widget-suite.md). Writes replace the file atomically, so a reader sees the
// old object or the new one, never a mix.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace glanceside {

class DefaultsSuite {
public:
    // The suite's content as it is now, or nothing when it cannot be opened: a name outside
    // [A-Za-z0-9._-] or starting with '.', a directory that does not exist, a file that cannot be
    // read, is too large, or holds anything but one JSON object. A missing file is an empty suite.
    static std::optional<DefaultsSuite> open(const std::filesystem::path& directory,
                                             std::string_view name, std::string* error = nullptr);

    // Nothing when the key has no value.
    std::optional<nlohmann::json> value(std::string_view key) const;

    // Stores `value` under `key` on top of the file's current content (a file that has become
    // unreadable as a JSON object is replaced) and keeps it in this copy too. False, with the
    // reason in *error, when the file could not be written.
    bool set(std::string_view key, nlohmann::json value, std::string* error = nullptr);

    // Stores `value` under `key` in the suite even when its file has become unreadable as a JSON
    // object (it is then replaced); false, with the reason, for a name or directory that open
    // refuses or a file that cannot be written.
    static bool write(const std::filesystem::path& directory, std::string_view name,
                      std::string_view key, nlohmann::json value, std::string* error = nullptr);

    const std::filesystem::path& file() const { return file_; }

    // Larger files are not read.
    static constexpr std::uintmax_t maxFileBytes = 16 * 1024 * 1024;

private:
    DefaultsSuite(std::filesystem::path file, nlohmann::json content)
        : file_(std::move(file)), content_(std::move(content)) {}

    std::filesystem::path file_;
    nlohmann::json content_;
};

} // namespace glanceside
