#pragma once

#include <filesystem>
#include <ostream>

namespace app {

// Decodes a workout snapshot (a binary property list as the phone sends it) and prints the
// workout as the watch holds it, or its exercises as JSON. Returns the exit status.
int printSnapshot(const std::filesystem::path& snapshotFile, bool json, std::ostream& out,
                  std::ostream& err);

} // namespace app
