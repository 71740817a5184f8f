#include "phone/widget/phone_widgets.hpp"
#include "phone/phone_app.hpp"
#include "phone/widget/suite_file.hpp"
#include "phone/widget/widget_content.hpp"

namespace phone {

namespace {

constexpr std::string_view prefix = "phone-sim: ";

double secondsSinceReferenceDate(platform::TimePoint time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count() -
           widget::unixSecondsAtReferenceDate;
}

std::string textOf(const platform::Dictionary& dictionary, std::string_view key) {
    auto found = dictionary.find(key);
    return found != dictionary.end() && found->second.string() != nullptr ? *found->second.string()
                                                                          : "";
}

} // namespace

PhoneWidgets::PhoneWidgets(platform::Executor& executor, platform::Log& log, PhoneApp& app,
                           PhoneWidgetsOptions options)
    : executor_(executor), log_(log), app_(app), options_(std::move(options)),
      worker_(executor.makeSerialQueue("widget host")),
      publisher_(std::make_shared<widget::WidgetPublisher>(options_.appGroup, options_.hostSocket)),
      self_(std::make_shared<PhoneWidgets*>(this)) {}

PhoneWidgets::~PhoneWidgets() {
    app_.setWorkoutListener(nullptr);
    timer_.cancel();
    // Lets a publish under way finish and drops the rest.
    worker_.reset();
}

void PhoneWidgets::start() {
    app_.setWorkoutListener([this] { publish(); });
    publish();
    tick();
}

void PhoneWidgets::say(std::string_view text) {
    std::string line(prefix);
    line += text;
    log_.line(line);
}

void PhoneWidgets::publish() {
    const auto& workout = app_.feed().workout();
    widget::WidgetState state;
    state.nextWorkout = widget::nextWorkout(app_.plan(), app_.currentWorkout(), app_.feed())
                            .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (textOf(workout, "status") == "IN_PROGRESS") {
        auto seen = startSeen_
                        .try_emplace(textOf(workout, "id"),
                                     secondsSinceReferenceDate(executor_.clock().now()))
                        .first->second;
        std::optional<widget::RunningRest> rest;
        if (const auto& timer = app_.timer(); timer.running && !timer.isExerciseCountdown) {
            rest = widget::RunningRest{timer.startMs / 1000 - widget::unixSecondsAtReferenceDate,
                                       timer.seconds};
        }
        state.activity = widget::WidgetState::Activity{widget::activityId(workout),
                                                       widget::activityAttributes(workout),
                                                       widget::contentState(workout, seen, rest)};
    }
    if (published_ != state) {
        send(std::move(state));
    }
}

void PhoneWidgets::send(widget::WidgetState state) {
    published_ = state;
    lastAttempt_ = executor_.clock().now();
    worker_->async([publisher = publisher_, state = std::move(state), &main = executor_.main(),
                    self = std::weak_ptr(self_)] {
        auto result = publisher->apply(state);
        main.async([self, result = std::move(result)] {
            auto alive = self.lock();
            if (!alive) {
                return;
            }
            auto& widgets = **alive;
            // Once per outage: the retries stay quiet until the host answers again.
            if (widgets.hostReached_ || result.reachedHost) {
                for (const auto& line : result.lines) {
                    widgets.say(line);
                }
            }
            if (!widgets.hostReached_ && result.reachedHost) {
                widgets.say("the widget host answers again");
            }
            widgets.hostReached_ = result.reachedHost;
        });
    });
}

void PhoneWidgets::tick() {
    checkForTap();
    if (!hostReached_ && published_ &&
        executor_.clock().now() - lastAttempt_ >=
            std::chrono::duration_cast<platform::Duration>(retryInterval)) {
        send(*published_);
    }
    timer_ = executor_.main().asyncAfter(pollInterval, [self = std::weak_ptr(self_)] {
        if (auto alive = self.lock()) {
            (*alive)->tick();
        }
    });
}

void PhoneWidgets::checkForTap() {
    // A suite that cannot be opened, or no string under the key, is no tap.
    if (!options_.widgetData) {
        return;
    }
    auto suite = widget::readSuite(*options_.widgetData, "standard");
    if (!suite) {
        return;
    }
    auto found = suite->find(tapKey);
    if (found == suite->end() || !found->is_string()) {
        return;
    }
    auto value = found->get<std::string>();
    if (lastTap_ == value) {
        return;
    }
    lastTap_ = value;
    const auto syncId = "lock-screen-" + value;
    if (app_.recorded(syncId)) {
        return;
    }
    // The set the lock screen showed, while it is still open; else the first open one.
    const auto& workout = app_.feed().workout();
    std::string setId;
    if (textOf(workout, "status") == "IN_PROGRESS") {
        std::string shown;
        if (published_ && published_->activity) {
            shown = published_->activity->contentState.value("setId", "");
        }
        if (!shown.empty() && widget::isOpenSet(workout, shown)) {
            setId = shown;
        } else if (auto open = widget::firstOpenSet(workout)) {
            setId = open->setId;
        }
    }
    using Outcome = PhoneApp::PhoneCompletion::Outcome;
    auto result = app_.completeSetNow(syncId, setId);
    switch (result.outcome) {
    case Outcome::completed:
        ++taps_;
        say("Complete Set from the lock screen: " + result.exerciseName + " set " +
            std::to_string(result.setPosition));
        break;
    case Outcome::nothingToComplete:
        say("Complete Set from the lock screen: no set to complete (no workout in progress, or "
            "every set done)");
        break;
    case Outcome::notRecorded:
        // Looked at again at the next poll.
        lastTap_.reset();
        break;
    case Outcome::alreadyTaken:
        break;
    }
}

std::string PhoneWidgets::statusLine() const {
    std::string line = "status: widgets: app group " +
                       (options_.appGroup ? options_.appGroup->string() : "none") +
                       ", widget data " +
                       (options_.widgetData ? options_.widgetData->string() : "none") + ", host ";
    line += options_.hostSocket ? options_.hostSocket->string() +
                                      (hostReached_ ? " (reachable)" : " (not reachable)")
                                : std::string("none");
    if (published_) {
        auto next = nlohmann::json::parse(published_->nextWorkout, nullptr, false);
        line += ", next workout \"" + (next.is_object() ? next.value("title", "") : "") + "\"";
        line += ", live activity " + (published_->activity ? published_->activity->id : "none");
    }
    line += ", " + std::to_string(taps_) + " sets completed from the lock screen this run";
    return line;
}

} // namespace phone
