#include "platform/notifications/stored_notifications.hpp"

#include "platform/link/stored_plist.hpp"

#include <chrono>
#include <cmath>
#include <optional>

namespace platform {

namespace {

double unixSeconds(TimePoint time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

std::optional<TimePoint> timeFromUnixSeconds(const Value* value) {
    const auto* seconds = value != nullptr ? value->real() : nullptr;
    // Far enough either way for any clock the program runs on, and within the duration's range.
    if (seconds == nullptr || !std::isfinite(*seconds) || std::fabs(*seconds) > 1e11) {
        return std::nullopt;
    }
    return TimePoint(std::chrono::duration_cast<Duration>(std::chrono::duration<double>(*seconds)));
}

const std::string* text(const Dictionary& d, std::string_view key) {
    auto it = d.find(key);
    return it != d.end() ? it->second.string() : nullptr;
}

Dictionary encodeRequest(const NotificationRequest& request, TimePoint at) {
    return Dictionary{{"identifier", request.identifier},
                      {"title", request.content.title},
                      {"body", request.content.body},
                      {"category", request.content.categoryIdentifier},
                      {"sound", request.content.defaultSound},
                      {"seconds", request.seconds},
                      {"at", unixSeconds(at)}};
}

struct DecodedRequest {
    NotificationRequest request;
    TimePoint at;
};

std::optional<DecodedRequest> decodeRequest(const Value& value) {
    const auto* d = value.dictionary();
    if (d == nullptr) {
        return std::nullopt;
    }
    const auto* identifier = text(*d, "identifier");
    const auto* title = text(*d, "title");
    const auto* body = text(*d, "body");
    const auto* category = text(*d, "category");
    auto sound = d->find("sound");
    auto seconds = d->find("seconds");
    auto at = timeFromUnixSeconds(d->contains("at") ? &d->at("at") : nullptr);
    if (identifier == nullptr || title == nullptr || body == nullptr || category == nullptr ||
        sound == d->end() || sound->second.boolean() == nullptr || seconds == d->end() ||
        seconds->second.real() == nullptr || !at) {
        return std::nullopt;
    }
    return DecodedRequest{
        NotificationRequest{*identifier,
                            NotificationContent{*title, *body, *category, *sound->second.boolean()},
                            *seconds->second.real()},
        *at};
}

template <class Entry, class Decode>
std::vector<Entry> decodeList(const Dictionary& record, std::string_view key, Decode decode) {
    std::vector<Entry> entries;
    auto it = record.find(key);
    const auto* list = it != record.end() ? it->second.array() : nullptr;
    for (const auto& element : list != nullptr ? *list : Array{}) {
        if (auto decoded = decodeRequest(element)) {
            entries.push_back(decode(std::move(*decoded)));
        }
    }
    return entries;
}

} // namespace

StoredNotifications loadStoredNotifications(const KeyValueStore& store) {
    auto record = phonelink::loadDictionary(store, storedNotificationsKey);
    if (!record) {
        return {};
    }
    return StoredNotifications{
        decodeList<PendingNotification>(*record, "pending",
                                        [](DecodedRequest d) {
                                            return PendingNotification{std::move(d.request), d.at};
                                        }),
        decodeList<DeliveredNotification>(*record, "delivered", [](DecodedRequest d) {
            return DeliveredNotification{std::move(d.request), d.at};
        })};
}

void saveStoredNotifications(KeyValueStore& store, const StoredNotifications& notifications) {
    Array pending;
    for (const auto& entry : notifications.pending) {
        pending.emplace_back(encodeRequest(entry.request, entry.fireDate));
    }
    Array delivered;
    for (const auto& entry : notifications.delivered) {
        delivered.emplace_back(encodeRequest(entry.request, entry.date));
    }
    phonelink::saveDictionary(
        store, storedNotificationsKey,
        Dictionary{{"pending", std::move(pending)}, {"delivered", std::move(delivered)}});
}

} // namespace platform
