#include "platform/notifications/simulated_notification_center.hpp"

#include "platform/notifications/stored_notifications.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace platform {

namespace {

// Keeps the conversion to nanoseconds in range; nothing waits anywhere near this long.
constexpr double longestInterval = 1e9;

Duration intervalDuration(double seconds) {
    return std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(std::min(seconds, longestInterval)));
}

bool allowsDelivery(NotificationAuthorizationStatus status) {
    return status == NotificationAuthorizationStatus::authorized ||
           status == NotificationAuthorizationStatus::provisional;
}

} // namespace

std::string_view authorizationStatusName(NotificationAuthorizationStatus status) {
    switch (status) {
    case NotificationAuthorizationStatus::notDetermined:
        return "notDetermined";
    case NotificationAuthorizationStatus::denied:
        return "denied";
    case NotificationAuthorizationStatus::authorized:
        return "authorized";
    case NotificationAuthorizationStatus::provisional:
        return "provisional";
    }
    return "notDetermined";
}

std::optional<SimulatedNotificationAnswer> parseSimulatedNotificationAnswer(std::string_view text) {
    if (text == "allow") {
        return SimulatedNotificationAnswer::allow;
    }
    if (text == "deny") {
        return SimulatedNotificationAnswer::deny;
    }
    if (text == "undecided") {
        return SimulatedNotificationAnswer::undecided;
    }
    return std::nullopt;
}

SimulatedNotificationCenter::SimulatedNotificationCenter(
    Executor& executor, SimulatedNotificationAnswer answer,
    NotificationAuthorizationStatus initialStatus, KeyValueStore* store)
    : executor_(executor), store_(store), answer_(answer), status_(initialStatus),
      queue_(executor.makeSerialQueue("platform.notification-center")) {
    if (store_ != nullptr) {
        queue_->async([this] { restore(); });
    }
}

SimulatedNotificationCenter::~SimulatedNotificationCenter() {
    // The queue's tasks refer to the state: they go (or finish) before it does.
    queue_.reset();
}

void SimulatedNotificationCenter::requestAuthorization(NotificationAuthorizationOptions options,
                                                       AuthorizationCompletion completion) {
    queue_->async([this, options, completion = std::move(completion)] {
        ++authorizationRequests_;
        if (auto error = std::exchange(nextAuthorizationError_, std::nullopt)) {
            completion(false, std::move(error));
            return;
        }
        if (status_ == NotificationAuthorizationStatus::notDetermined) {
            if (options.provisional) {
                // Provisional delivery is granted without asking the user.
                status_ = NotificationAuthorizationStatus::provisional;
            } else if (answer_ == SimulatedNotificationAnswer::allow) {
                status_ = NotificationAuthorizationStatus::authorized;
            } else if (answer_ == SimulatedNotificationAnswer::deny) {
                status_ = NotificationAuthorizationStatus::denied;
            }
        }
        // Once decided, the user is not asked again: the answer is the standing decision.
        completion(allowsDelivery(status_), std::nullopt);
    });
}

void SimulatedNotificationCenter::getNotificationSettings(SettingsCompletion completion) {
    queue_->async(
        [this, completion = std::move(completion)] { completion(NotificationSettings{status_}); });
}

void SimulatedNotificationCenter::setNotificationCategories(
    std::vector<NotificationCategory> categories) {
    queue_->async([this, categories = std::move(categories)]() mutable {
        categories_ = std::move(categories);
    });
}

void SimulatedNotificationCenter::getNotificationCategories(CategoriesCompletion completion) {
    queue_->async([this, completion = std::move(completion)] { completion(categories_); });
}

void SimulatedNotificationCenter::add(NotificationRequest request, AddCompletion completion) {
    queue_->async([this, request = std::move(request), completion = std::move(completion)] {
        if (!allowsDelivery(status_)) {
            if (completion) {
                completion(NotificationError{"Notifications are not allowed for this application"});
            }
            return;
        }
        if (!std::isfinite(request.seconds) || request.seconds <= 0) {
            if (completion) {
                completion(NotificationError{"The time interval must be greater than 0"});
            }
            return;
        }
        removePending({request.identifier});
        const auto fireDate = executor_.clock().now() + intervalDuration(request.seconds);
        schedule(request, fireDate);
        save();
        if (completion) {
            completion(std::nullopt);
        }
    });
}

void SimulatedNotificationCenter::getPendingNotificationRequests(PendingCompletion completion) {
    queue_->async([this, completion = std::move(completion)] {
        std::vector<NotificationRequest> requests;
        requests.reserve(pending_.size());
        for (const auto& entry : pending_) {
            requests.push_back(entry.notification.request);
        }
        completion(std::move(requests));
    });
}

void SimulatedNotificationCenter::removePendingNotificationRequests(
    std::vector<std::string> identifiers) {
    queue_->async([this, identifiers = std::move(identifiers)] {
        removePending(identifiers);
        save();
    });
}

void SimulatedNotificationCenter::removeAllPendingNotificationRequests() {
    queue_->async([this] {
        for (const auto& entry : pending_) {
            entry.fire.cancel();
        }
        pending_.clear();
        save();
    });
}

void SimulatedNotificationCenter::getDeliveredNotifications(DeliveredCompletion completion) {
    queue_->async([this, completion = std::move(completion)] { completion(delivered_); });
}

void SimulatedNotificationCenter::removeDeliveredNotifications(
    std::vector<std::string> identifiers) {
    queue_->async([this, identifiers = std::move(identifiers)] {
        std::erase_if(delivered_, [&](const DeliveredNotification& notification) {
            return std::find(identifiers.begin(), identifiers.end(),
                             notification.request.identifier) != identifiers.end();
        });
        save();
    });
}

void SimulatedNotificationCenter::removeAllDeliveredNotifications() {
    queue_->async([this] {
        delivered_.clear();
        save();
    });
}

void SimulatedNotificationCenter::setAuthorizationStatus(NotificationAuthorizationStatus status) {
    queue_->async([this, status] { status_ = status; });
}

void SimulatedNotificationCenter::failNextAuthorizationRequest(NotificationError error) {
    queue_->async([this, error = std::move(error)] { nextAuthorizationError_ = error; });
}

void SimulatedNotificationCenter::onDeliver(
    std::function<void(const DeliveredNotification&)> handler) {
    queue_->async([this, handler = std::move(handler)] { deliverHandler_ = handler; });
}

std::vector<PendingNotification> SimulatedNotificationCenter::pendingNow() const {
    return syncResult(*queue_, [this] {
        std::vector<PendingNotification> result;
        for (const auto& entry : pending_) {
            result.push_back(entry.notification);
        }
        return result;
    });
}

std::vector<DeliveredNotification> SimulatedNotificationCenter::deliveredNow() const {
    return syncResult(*queue_, [this] { return delivered_; });
}

std::vector<NotificationCategory> SimulatedNotificationCenter::categoriesNow() const {
    return syncResult(*queue_, [this] { return categories_; });
}

NotificationAuthorizationStatus SimulatedNotificationCenter::authorizationStatusNow() const {
    return syncResult(*queue_, [this] { return status_; });
}

std::size_t SimulatedNotificationCenter::authorizationRequestCount() const {
    return syncResult(*queue_, [this] { return authorizationRequests_; });
}

void SimulatedNotificationCenter::fire(const std::string& identifier, std::uint64_t token) {
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& entry) {
        return entry.token == token && entry.notification.request.identifier == identifier;
    });
    if (it == pending_.end()) {
        return;
    }
    DeliveredNotification delivered{std::move(it->notification.request), executor_.clock().now()};
    pending_.erase(it);
    recordDelivered(delivered);
    save();
    if (deliverHandler_) {
        deliverHandler_(delivered);
    }
}

void SimulatedNotificationCenter::schedule(NotificationRequest request, TimePoint fireDate) {
    auto token = nextToken_++;
    auto delay = std::max(Duration::zero(), fireDate - executor_.clock().now());
    auto identifier = request.identifier;
    Pending entry{PendingNotification{std::move(request), fireDate}, {}, token};
    entry.fire = queue_->asyncAfter(
        delay, [this, identifier = std::move(identifier), token] { fire(identifier, token); });
    pending_.push_back(std::move(entry));
}

void SimulatedNotificationCenter::recordDelivered(DeliveredNotification delivered) {
    // A newer delivery under the same identifier replaces the older one.
    std::erase_if(delivered_, [&](const DeliveredNotification& old) {
        return old.request.identifier == delivered.request.identifier;
    });
    delivered_.push_back(std::move(delivered));
    if (delivered_.size() > maxDelivered) {
        delivered_.erase(delivered_.begin(),
                         delivered_.end() - static_cast<std::ptrdiff_t>(maxDelivered));
    }
}

void SimulatedNotificationCenter::restore() {
    auto stored = loadStoredNotifications(*store_);
    for (auto& delivered : stored.delivered) {
        recordDelivered(std::move(delivered));
    }
    const auto now = executor_.clock().now();
    for (auto& entry : stored.pending) {
        if (entry.fireDate <= now) {
            // Its time came while the program was down: the platform showed it then.
            recordDelivered(DeliveredNotification{std::move(entry.request), entry.fireDate});
        } else {
            schedule(std::move(entry.request), entry.fireDate);
        }
    }
    save();
}

void SimulatedNotificationCenter::save() {
    if (store_ == nullptr) {
        return;
    }
    StoredNotifications stored;
    for (const auto& entry : pending_) {
        stored.pending.push_back(entry.notification);
    }
    stored.delivered = delivered_;
    saveStoredNotifications(*store_, stored);
}

void SimulatedNotificationCenter::removePending(const std::vector<std::string>& identifiers) {
    std::erase_if(pending_, [&](const Pending& entry) {
        bool listed = std::find(identifiers.begin(), identifiers.end(),
                                entry.notification.request.identifier) != identifiers.end();
        if (listed) {
            entry.fire.cancel();
        }
        return listed;
    });
}

} // namespace platform
