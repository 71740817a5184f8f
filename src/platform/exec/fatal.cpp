#include "platform/exec/fatal.hpp"

#include <cstdio>
#include <cstdlib>

namespace platform::detail {

void fatal(std::string_view message) {
    std::fprintf(stderr, "platform exec: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

} // namespace platform::detail
