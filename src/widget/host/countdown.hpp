#pragma once

// The live timer texts the views show, as plain text: the views only lay them out. No Qt here,
// so that the rules are tested on their own.

#include "glanceside/types.hpp"

#include <string>

namespace glanceside::host {

// Whole seconds as "%02d:%02d", or "%d:%02d:%02d" from one hour on; negative and NaN show zero.
std::string timerText(double seconds);

// Counting down from the range's upper bound to `now` (a started second still counts), stopping
// at zero.
std::string countdownText(const DateRange& range, Date now);

// Counting up from `start` to `now`; zero before it.
std::string countUpText(Date start, Date now);

// TextTimer's countdown: as countdownText, but minutes go beyond 59 instead of showing hours.
std::string textTimerText(const DateRange& range, Date now);

} // namespace glanceside::host
