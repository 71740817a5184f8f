#pragma once

#include "platform/health/health_types.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The health store's saved workouts in one SQLite file. Each call opens the file, does its work
// in one transaction and closes it again: saves are rare, and nothing stays locked between them.
class WorkoutDatabase {
public:
    explicit WorkoutDatabase(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& file() const { return file_; }

    // Nothing on success, the reason otherwise.
    std::optional<std::string> save(const SavedWorkout& workout) const;
    // Oldest start first; nothing when the file cannot be read. A missing file holds none.
    std::optional<std::vector<SavedWorkout>> load() const;

private:
    std::filesystem::path file_;
};

} // namespace platform
