#pragma once

#include <string_view>

namespace platform::detail {

// Misuse of an executor that would deadlock or corrupt the schedule: report it and abort, in
// release builds too, because the alternative is a hang nobody can diagnose.
[[noreturn]] void fatal(std::string_view message);

} // namespace platform::detail
