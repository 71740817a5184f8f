#include "timer/rest_timer_screen.hpp"

#include "timer/rest_timer_manager.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace timer {

namespace {

constexpr auto tickInterval = std::chrono::seconds(1);
// Dates are doubles of seconds since 2001: differences carry noise well below a millisecond,
// which must not round a whole second up to the next.
constexpr double roundingSlack = 1e-3;
// Keeps the conversion to an integer in range (about 31,000 years).
constexpr double longestShown = 1e12;

} // namespace

RestTimer::RestTimer(Services services, DurationSetCompleted onDurationSetCompleted)
    : executor_(services.executor), manager_(services.restTimerManager),
      workoutManager_(services.workoutManager), haptics_(services.haptics),
      finishTimer_(std::move(services.finishTimer)),
      onDurationSetCompleted_(std::move(onDurationSetCompleted)), seenTimerId_(manager_.timerId),
      seenTimerRevision_(manager_.timerRevision) {
    // Every change of run ends with a write of timerIsRunning; the other two catch corrections
    // of a running run.
    auto check = [this](const auto&) { forgetMessageIfRunChanged(); };
    subscriptions_.push_back(manager_.timerIsRunning.observe(check));
    subscriptions_.push_back(manager_.startTime.observe(check));
    subscriptions_.push_back(manager_.timerSeconds.observe(check));
}

RestTimer::~RestTimer() {
    disappear();
}

void RestTimer::appear() {
    if (tick_) {
        return;
    }
    forgetMessageIfRunChanged();
    scheduleTick();
}

void RestTimer::disappear() {
    if (tick_) {
        tick_->cancel();
        tick_.reset();
    }
}

const std::string& RestTimer::title() const {
    return manager_.titleMessage.get();
}

std::string RestTimer::timeLeftText() const {
    if (message.get()) {
        return *message.get();
    }
    return formatTimeLeft(manager_.timerSeconds.get());
}

std::string RestTimer::formatTimeLeft(double seconds) {
    double whole = seconds > 0 ? std::ceil(std::min(seconds, longestShown) - roundingSlack) : 0;
    auto total = static_cast<long long>(std::max(whole, 0.0));
    auto hours = total / 3600;
    auto minutes = total % 3600 / 60;
    auto secs = total % 60;
    char text[48];
    if (hours > 0) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", hours, minutes, secs);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, secs);
    }
    return text;
}

void RestTimer::scheduleTick() {
    tick_ = executor_.main().asyncAfter(tickInterval, [this] { tick(); });
}

void RestTimer::tick() {
    // The next tick is booked first: what follows may close this screen.
    scheduleTick();
    forgetMessageIfRunChanged();
    auto elapsed = manager_.now().sinceReferenceDate - manager_.startTime->sinceReferenceDate;
    auto length = manager_.timerSeconds.get();
    if (length <= elapsed) {
        timeUp();
        return;
    }
    message = formatTimeLeft(length - elapsed);
}

void RestTimer::timeUp() {
    // A finished rest leaves the timer stopped: later ticks end here.
    if (!manager_.timerIsRunning.get()) {
        return;
    }
    haptics_.play(platform::HapticType::success);
    auto completed = finishTimer_ ? finishTimer_(manager_.now()) : std::nullopt;
    if (!completed) {
        return;
    }
    message = std::nullopt;
    // Last, and from a copy: the callback may close this screen.
    if (auto callback = onDurationSetCompleted_) {
        callback(completed->first, completed->second);
    }
}

void RestTimer::forgetMessageIfRunChanged() {
    if (manager_.timerId == seenTimerId_ && manager_.timerRevision == seenTimerRevision_) {
        return;
    }
    seenTimerId_ = manager_.timerId;
    seenTimerRevision_ = manager_.timerRevision;
    if (message.get()) {
        message = std::nullopt;
    }
}

} // namespace timer
