#include "timer/rest_timer_notifications.hpp"

#include "timer/rest_timer_manager.hpp"

#include <cmath>
#include <utility>
#include <vector>

namespace timer {

namespace {

bool allowsDelivery(platform::NotificationAuthorizationStatus status) {
    return status == platform::NotificationAuthorizationStatus::authorized ||
           status == platform::NotificationAuthorizationStatus::provisional;
}

bool isRestTimerIdentifier(const std::string& identifier) {
    return identifier.starts_with(RestTimerNotifications::identifierPrefix);
}

} // namespace

// The bookkeeping proper. Callbacks from the center hold it weakly, so that they do nothing once
// its owner is gone; tasks on its queue hold it weakly too, so the queue never keeps itself
// alive.
struct RestTimerNotifications::Core : std::enable_shared_from_this<Core> {
    Core(platform::Executor& executor, platform::NotificationCenter& notificationCenter,
         platform::Log& programLog)
        : center(notificationCenter), log(programLog),
          queue(executor.makeSerialQueue(std::string(queueLabel))) {}

    platform::NotificationCenter& center;
    platform::Log& log;
    // Read and changed only on `queue`.
    std::uint64_t generation = 0;
    // Last, so that it goes first: dropped tasks must not outlive the fields above.
    std::unique_ptr<platform::Queue> queue;

    static void post(const std::weak_ptr<Core>& weak, std::function<void(Core&)> work) {
        if (auto core = weak.lock()) {
            core->queue->async([weak, work = std::move(work)] {
                if (auto alive = weak.lock()) {
                    work(*alive);
                }
            });
        }
    }

    // On the queue.
    void schedule(double seconds, bool isExerciseCountdown) {
        auto g = ++generation;
        // Also catches NaN: such a run has nothing left to announce.
        if (!(seconds >= 1)) {
            cancel(g);
            return;
        }
        std::weak_ptr<Core> weak = weak_from_this();
        center.getPendingNotificationRequests(
            [weak](std::vector<platform::NotificationRequest> requests) {
                post(weak, [requests = std::move(requests)](Core& core) {
                    // The newest request (whichever call made it) survives; all older ones go.
                    core.removeRestTimerRequests(requests, requestIdentifier(core.generation));
                });
            });
        center.getNotificationSettings(
            [weak, g, seconds, isExerciseCountdown](platform::NotificationSettings settings) {
                post(weak, [weak, g, seconds, isExerciseCountdown, settings](Core& core) {
                    if (core.generation != g || !allowsDelivery(settings.authorizationStatus)) {
                        return;
                    }
                    auto identifier = requestIdentifier(g);
                    core.center.add(
                        platform::NotificationRequest{identifier, content(isExerciseCountdown),
                                                      seconds},
                        [weak, g, identifier](std::optional<platform::NotificationError>) {
                            post(weak, [g, identifier](Core& later) {
                                // A newer call started while the add was on its way.
                                if (later.generation != g) {
                                    later.center.removePendingNotificationRequests({identifier});
                                }
                            });
                        });
                });
            });
    }

    // On the queue, with the generation this cancel took.
    void cancel(std::uint64_t g) {
        std::weak_ptr<Core> weak = weak_from_this();
        center.getPendingNotificationRequests(
            [weak, g](std::vector<platform::NotificationRequest> requests) {
                post(weak, [g, requests = std::move(requests)](Core& core) {
                    if (core.generation == g) {
                        core.removeRestTimerRequests(requests, std::nullopt);
                    }
                });
            });
    }

    void removeRestTimerRequests(const std::vector<platform::NotificationRequest>& requests,
                                 const std::optional<std::string>& keep) {
        std::vector<std::string> identifiers;
        for (const auto& request : requests) {
            if (isRestTimerIdentifier(request.identifier) && request.identifier != keep) {
                identifiers.push_back(request.identifier);
            }
        }
        if (!identifiers.empty()) {
            center.removePendingNotificationRequests(std::move(identifiers));
        }
    }

    // On the center's queue. The timer's state belongs to the main queue, so it is read there.
    void registerAndReschedule(platform::Queue& main, RunningTimerSource runningTimer) {
        center.setNotificationCategories({restTimerCategory()});
        std::weak_ptr<Core> weak = weak_from_this();
        main.async([weak, runningTimer = std::move(runningTimer)] {
            // The timer the source reads goes with the program: once the bookkeeping is gone,
            // so may be the timer.
            if (weak.expired()) {
                return;
            }
            auto run = runningTimer ? runningTimer() : std::nullopt;
            if (!run || !(run->secondsRemaining > 0)) {
                return;
            }
            auto seconds = std::ceil(run->secondsRemaining);
            auto countdown = run->isExerciseCountdown;
            post(weak, [seconds, countdown](Core& core) { core.schedule(seconds, countdown); });
        });
    }
};

RestTimerNotifications::RestTimerNotifications(platform::Executor& executor,
                                               platform::NotificationCenter& center,
                                               platform::Log& log)
    : executor_(executor), core_(std::make_shared<Core>(executor, center, log)) {}

RestTimerNotifications::~RestTimerNotifications() = default;

void RestTimerNotifications::scheduleRestTimerNotification(double seconds,
                                                           bool isExerciseCountdown) {
    Core::post(core_, [seconds, isExerciseCountdown](Core& core) {
        core.schedule(seconds, isExerciseCountdown);
    });
}

void RestTimerNotifications::cancelRestTimerNotifications() {
    Core::post(core_, [](Core& core) { core.cancel(++core.generation); });
}

void RestTimerNotifications::setUpNotifications(RunningTimerSource runningTimer) {
    std::weak_ptr<Core> weak = core_;
    platform::Queue& main = executor_.main();
    core_->center.getNotificationSettings([weak, &main, runningTimer = std::move(runningTimer)](
                                              platform::NotificationSettings settings) {
        auto core = weak.lock();
        if (!core) {
            return;
        }
        if (allowsDelivery(settings.authorizationStatus)) {
            core->registerAndReschedule(main, runningTimer);
        } else if (settings.authorizationStatus ==
                   platform::NotificationAuthorizationStatus::notDetermined) {
            core->center.requestAuthorization(
                platform::NotificationAuthorizationOptions{.alert = true, .sound = true},
                [weak, &main, runningTimer](bool granted,
                                            std::optional<platform::NotificationError> error) {
                    auto answered = weak.lock();
                    if (!answered) {
                        return;
                    }
                    if (error) {
                        answered->log.line(std::string(authorizationFailedPrefix) +
                                           error->description);
                    } else if (granted) {
                        answered->registerAndReschedule(main, runningTimer);
                    }
                });
        }
        // Denied: the timer works without its notification.
    });
}

RestTimerNotifications::RunningTimerSource
RestTimerNotifications::runningTimerOf(const RestTimerManager& manager) {
    return [&manager]() -> std::optional<RunningTimer> {
        if (!manager.timerIsRunning.get()) {
            return std::nullopt;
        }
        auto remaining =
            manager.timerEndTime().sinceReferenceDate - manager.now().sinceReferenceDate;
        if (!(remaining > 0)) {
            return std::nullopt;
        }
        return RunningTimer{remaining, manager.isExerciseCountdown.get()};
    };
}

std::string RestTimerNotifications::requestIdentifier(std::uint64_t generation) {
    return std::string(identifierPrefix) + "." + std::to_string(generation);
}

platform::NotificationContent RestTimerNotifications::content(bool isExerciseCountdown) {
    platform::NotificationContent content;
    if (isExerciseCountdown) {
        content.title = "Times up";
        content.body = "Set countdown finished";
    } else {
        content.title = "Rest Time Over";
        content.body = "Get Back to Work!";
    }
    content.categoryIdentifier = std::string(categoryIdentifier);
    content.defaultSound = true;
    return content;
}

platform::NotificationCategory RestTimerNotifications::restTimerCategory() {
    return platform::NotificationCategory{
        std::string(categoryIdentifier),
        {platform::NotificationAction{std::string(actionIdentifier), std::string(actionTitle),
                                      true}},
        {}};
}

} // namespace timer
