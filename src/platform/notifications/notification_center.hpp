#pragma once

#include "platform/exec/clock.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class NotificationAuthorizationStatus { notDetermined, denied, authorized, provisional };

std::string_view authorizationStatusName(NotificationAuthorizationStatus status);

// What an authorisation request asks for. `provisional` asks for quiet delivery without
// asking the user.
struct NotificationAuthorizationOptions {
    bool alert = false;
    bool sound = false;
    bool badge = false;
    bool provisional = false;
};

struct NotificationSettings {
    NotificationAuthorizationStatus authorizationStatus =
        NotificationAuthorizationStatus::notDetermined;
};

struct NotificationError {
    std::string description;
};

struct NotificationAction {
    std::string identifier;
    std::string title;
    // Opens the application in the foreground when chosen.
    bool foreground = false;
    bool operator==(const NotificationAction&) const = default;
};

struct NotificationCategory {
    std::string identifier;
    std::vector<NotificationAction> actions;
    std::vector<std::string> intentIdentifiers;
    bool operator==(const NotificationCategory&) const = default;
};

struct NotificationContent {
    std::string title;
    std::string body;
    std::string categoryIdentifier;
    // The platform's default sound; false means silent.
    bool defaultSound = false;
    bool operator==(const NotificationContent&) const = default;
};

// A request that fires once, `seconds` after it was added. Repeating triggers are not offered:
// nothing in the program repeats a notification.
struct NotificationRequest {
    std::string identifier;
    NotificationContent content;
    double seconds = 0;
    bool operator==(const NotificationRequest&) const = default;
};

struct PendingNotification {
    NotificationRequest request;
    TimePoint fireDate;
};

struct DeliveredNotification {
    NotificationRequest request;
    TimePoint date;
};

// The local notification service as the program uses it. Every completion runs later on the
// center's own serial queue, never inside the call that asked for it, so callers hop to their
// own queue before touching their state.
class NotificationCenter {
public:
    using AuthorizationCompletion =
        std::function<void(bool granted, std::optional<NotificationError> error)>;
    using SettingsCompletion = std::function<void(NotificationSettings settings)>;
    using AddCompletion = std::function<void(std::optional<NotificationError> error)>;
    using PendingCompletion = std::function<void(std::vector<NotificationRequest> requests)>;
    using DeliveredCompletion =
        std::function<void(std::vector<DeliveredNotification> notifications)>;
    using CategoriesCompletion = std::function<void(std::vector<NotificationCategory> categories)>;

    virtual ~NotificationCenter() = default;

    virtual void requestAuthorization(NotificationAuthorizationOptions options,
                                      AuthorizationCompletion completion) = 0;
    virtual void getNotificationSettings(SettingsCompletion completion) = 0;

    // Replaces the registered categories.
    virtual void setNotificationCategories(std::vector<NotificationCategory> categories) = 0;
    virtual void getNotificationCategories(CategoriesCompletion completion) = 0;

    // A request with the identifier of a pending one replaces it.
    virtual void add(NotificationRequest request, AddCompletion completion) = 0;
    virtual void getPendingNotificationRequests(PendingCompletion completion) = 0;
    virtual void removePendingNotificationRequests(std::vector<std::string> identifiers) = 0;
    virtual void removeAllPendingNotificationRequests() = 0;

    virtual void getDeliveredNotifications(DeliveredCompletion completion) = 0;
    virtual void removeDeliveredNotifications(std::vector<std::string> identifiers) = 0;
    virtual void removeAllDeliveredNotifications() = 0;
};

} // namespace platform
