#pragma once

#include "phone/widget/widget_publisher.hpp"
#include "platform/exec/queue.hpp"
#include "platform/log/log.hpp"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace phone {

class PhoneApp;

struct PhoneWidgetsOptions {
    // Where the shared suite group.tessaron.glanceside is written; nothing: not written.
    std::optional<std::filesystem::path> appGroup;
    // The plug-in's data directory, whose standard.json carries the lock screen's taps; nothing:
    // no taps are taken.
    std::optional<std::filesystem::path> widgetData;
    // The host's phone socket; nothing: only the suite is written.
    std::optional<std::filesystem::path> hostSocket;
};

// The phone's widget and live activity: publishes the next workout and, while the current
// workout runs, its live activity, whenever the app's workout changes; and takes the lock
// screen's "Complete Set" taps. Everything that can block (the suite's file syncs, the host's
// socket) runs on a queue of its own, so main never waits for the host, and a host that is away
// costs nothing but a log line; the state goes again later.
class PhoneWidgets {
public:
    static constexpr auto pollInterval = std::chrono::milliseconds(250);
    // While the host cannot be reached, the last state goes again this often.
    static constexpr auto retryInterval = std::chrono::seconds(5);
    static constexpr const char* tapKey = "exercise_set_completed";

    PhoneWidgets(platform::Executor& executor, platform::Log& log, PhoneApp& app,
                 PhoneWidgetsOptions options);
    ~PhoneWidgets();
    PhoneWidgets(const PhoneWidgets&) = delete;
    PhoneWidgets& operator=(const PhoneWidgets&) = delete;

    // Listens to the app's workout, publishes now and starts watching for taps.
    void start();
    // Reads the tap signal once (the timer does it every pollInterval).
    void checkForTap();
    // What was last handed over for publishing.
    const std::optional<widget::WidgetState>& published() const { return published_; }
    std::string statusLine() const;

private:
    void publish();
    void send(widget::WidgetState state);
    void tick();
    void say(std::string_view text);

    platform::Executor& executor_;
    platform::Log& log_;
    PhoneApp& app_;
    PhoneWidgetsOptions options_;
    std::unique_ptr<platform::Queue> worker_;
    // Used on the worker only; shared so that a task outliving this object still has it.
    std::shared_ptr<widget::WidgetPublisher> publisher_;
    std::optional<widget::WidgetState> published_;
    // Start times for in-progress workouts that have none, by workout id.
    std::map<std::string, double> startSeen_;
    std::optional<std::string> lastTap_;
    std::size_t taps_ = 0;
    bool hostReached_ = true;
    platform::TimePoint lastAttempt_{};
    platform::TaskHandle timer_;
    std::shared_ptr<PhoneWidgets*> self_;
};

} // namespace phone
