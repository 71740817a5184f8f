#pragma once

#include "platform/exec/clock.hpp"
#include "platform/observe/observable.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace platform {

enum class HapticType {
    notification,
    directionUp,
    directionDown,
    success,
    failure,
    retry,
    start,
    stop,
    click
};

std::string_view hapticName(HapticType type);

// The watch's taptic engine.
class Haptics {
public:
    virtual ~Haptics() = default;
    virtual void play(HapticType type) = 0;
};

struct PlayedHaptic {
    HapticType type;
    TimePoint at;
    bool operator==(const PlayedHaptic&) const = default;
};

// Nothing to feel off the watch, so each haptic is recorded with its time for the screens to
// show and tests to check. Main queue only, like the screens that play them.
class HapticRecorder final : public Haptics {
public:
    explicit HapticRecorder(const Clock& clock) : clock_(clock) {}

    void play(HapticType type) override;

    const std::vector<PlayedHaptic>& played() const { return played_; }
    // The newest haptic, observed by the screens.
    Observable<std::optional<PlayedHaptic>> lastPlayed;

private:
    const Clock& clock_;
    std::vector<PlayedHaptic> played_;
};

} // namespace platform
