#pragma once

#include "app/options.hpp"

#include <ostream>

namespace app {

// Runs the watch core without screens, driven by the control channel on standard input, until
// {"action":"quit"} or the end of input. Returns the program's exit status.
int runHeadless(const Options& options, std::ostream& out);

} // namespace app
