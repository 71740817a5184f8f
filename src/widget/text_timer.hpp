#pragma once

#include "glanceside/types.hpp"

#include <string>

namespace glanceside {

// A fixed-width countdown over `dateRange` measures its width once, on this text: the range's whole
// length as minutes and seconds ("01:30" for 90 s; minutes go past 59, 3,600 s is "60:00"), so that
// the running countdown never changes size as its digits change.
std::string textTimerMeasuringText(const DateRange& dateRange);

} // namespace glanceside
