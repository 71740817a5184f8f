#pragma once

#include "platform/notifications/notification_center.hpp"
#include "platform/store/key_value_store.hpp"

#include <string_view>
#include <vector>

namespace platform {

// What the notification center keeps across launches: the requests still to fire, with the
// wall-clock time they fire at, and the notifications already delivered.
struct StoredNotifications {
    std::vector<PendingNotification> pending;
    std::vector<DeliveredNotification> delivered;
};

inline constexpr std::string_view storedNotificationsKey = "notifications.v1";

// An unreadable record reads as empty, and so do entries it cannot make sense of.
StoredNotifications loadStoredNotifications(const KeyValueStore& store);
void saveStoredNotifications(KeyValueStore& store, const StoredNotifications& notifications);

} // namespace platform
