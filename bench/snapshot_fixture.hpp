#pragma once

#include "platform/values/value.hpp"

namespace bench {

// What the phone sends the watch for a workout in full swing: a dictionary with "syncRevision",
// "workout" and "exercises" (50 exercises of 20 keys, each with 8 sets of 16 keys).
// Deterministic, so every run and every benchmark measures the same document.
platform::Value phoneSnapshot();

// phoneSnapshot() as a bplist00 document, about 86 KB.
platform::Data phoneSnapshotBytes();

} // namespace bench
