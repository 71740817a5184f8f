#pragma once

#include "app/options.hpp"

#include <ostream>

namespace app {

// Runs the watch with its window on Qt's event loop until the window closes, or with
// --control stdin until {"action":"quit"} or the end of input. Returns the exit status.
int runWithScreens(const Options& options, std::ostream& out, int& argc, char** argv);

} // namespace app
