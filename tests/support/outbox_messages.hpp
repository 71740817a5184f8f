#pragma once

#include "platform/values/bplist.hpp"
#include "sync/outbound/watch_sync_outbox.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A message as the watch hands it to the outbox.
inline platform::Dictionary message(std::string type, platform::Dictionary payload = {}) {
    return {{"type", platform::Value(std::move(type))},
            {"payload", platform::Value(std::move(payload))}};
}

// One pending message of the outbox, decoded; "?" for a type that does not decode.
struct SentMessage {
    std::string syncId;
    std::string type;
    platform::Dictionary payload;
};

// What waits in the outbox for the phone, oldest first.
inline std::vector<SentMessage> sentMessages(watchsync::WatchSyncOutbox& outbox) {
    std::vector<SentMessage> result;
    for (const auto& pending : outbox.pendingMessages()) {
        const auto value = platform::decodeBinaryPlist(pending.payload);
        const auto* type = value ? value->find("type") : nullptr;
        const auto* payload = value ? value->find("payload") : nullptr;
        result.push_back(
            {pending.id, type && type->string() ? *type->string() : "?",
             payload && payload->dictionary() ? *payload->dictionary() : platform::Dictionary{}});
    }
    return result;
}

inline std::vector<std::string> sentTypes(watchsync::WatchSyncOutbox& outbox) {
    std::vector<std::string> types;
    for (auto& sent : sentMessages(outbox)) {
        types.push_back(std::move(sent.type));
    }
    return types;
}

// The payload of the newest pending message of the type; empty when there is none.
inline platform::Dictionary lastPayload(watchsync::WatchSyncOutbox& outbox, std::string_view type) {
    auto sent = sentMessages(outbox);
    auto last = std::find_if(sent.rbegin(), sent.rend(), [&](auto& m) { return m.type == type; });
    return last != sent.rend() ? last->payload : platform::Dictionary{};
}

} // namespace testsupport
