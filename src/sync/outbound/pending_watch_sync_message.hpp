#pragma once

#include "platform/values/value.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace watchsync {

// One message waiting for the phone's acknowledgement.
struct PendingWatchSyncMessage {
    std::string id;
    // The whole outbound dictionary, "syncId" included, as a binary property list.
    platform::Data payload;
    // True while a background user-info transfer of it is believed outstanding.
    bool queuedForTransfer = false;

    bool operator==(const PendingWatchSyncMessage&) const = default;
};

// The stored form: a JSON array of {"id", "payload" (Base64), "queuedForTransfer"}. Nothing when
// an id is not valid UTF-8.
std::optional<platform::Data> encodePendingList(const std::vector<PendingWatchSyncMessage>& list);

// Nothing unless the bytes are such an array whose every element has all three keys with the
// right types; one bad element spoils the whole list.
std::optional<std::vector<PendingWatchSyncMessage>>
decodePendingList(std::span<const std::uint8_t> bytes);

} // namespace watchsync
