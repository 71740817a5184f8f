#pragma once

#include "platform/health/health_types.hpp"

#include <optional>
#include <vector>

// The bytes of the mirrored workout session: one keyed archive per message whose root is an
// array of statistics. Layout in docs/health-statistics-archive.md.
namespace platform {

// Nothing when a statistics value cannot be archived: a type that is not a quantity type, a
// unit that does not fit its type, a value or date that is not finite.
std::optional<Data> encodeStatisticsArchive(const std::vector<Statistics>& statistics);

// Nothing for anything but a well-formed archive of that shape; never trusts the bytes.
std::optional<std::vector<Statistics>> decodeStatisticsArchive(const Data& bytes);

} // namespace platform
