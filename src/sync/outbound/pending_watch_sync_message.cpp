#include "sync/outbound/pending_watch_sync_message.hpp"

#include "platform/values/base64.hpp"

#include <nlohmann/json.hpp>

#include <array>

namespace watchsync {

namespace {

void append(platform::Data& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

} // namespace

// Written straight into one buffer: the whole list is stored after every change, so this runs
// on every enqueue and acknowledgement, and a JSON document tree of it costs several times the
// write itself. The text is what nlohmann would write for the same array (keys in order).
std::optional<platform::Data> encodePendingList(const std::vector<PendingWatchSyncMessage>& list) {
    std::size_t size = 2;
    for (const auto& message : list) {
        size += message.id.size() + (message.payload.size() + 2) / 3 * 4 + 64;
    }
    platform::Data out;
    out.reserve(size);
    out.push_back('[');
    for (const auto& message : list) {
        if (out.size() > 1) {
            out.push_back(',');
        }
        std::string id;
        try {
            id = nlohmann::json(message.id).dump();
        } catch (const nlohmann::json::exception&) {
            // Only an id that is not valid UTF-8 gets here.
            return std::nullopt;
        }
        append(out, R"({"id":)");
        append(out, id);
        append(out, R"(,"payload":")");
        platform::appendBase64(out, message.payload);
        append(out, message.queuedForTransfer ? R"(","queuedForTransfer":true})"
                                              : R"(","queuedForTransfer":false})");
    }
    out.push_back(']');
    return out;
}

std::optional<std::vector<PendingWatchSyncMessage>>
decodePendingList(std::span<const std::uint8_t> bytes) {
    const auto json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (json.is_discarded() || !json.is_array()) {
        return std::nullopt;
    }
    std::vector<PendingWatchSyncMessage> list;
    list.reserve(json.size());
    for (const auto& element : json) {
        if (!element.is_object()) {
            return std::nullopt;
        }
        const auto id = element.find("id");
        const auto payload = element.find("payload");
        const auto queued = element.find("queuedForTransfer");
        if (id == element.end() || !id->is_string() || payload == element.end() ||
            !payload->is_string() || queued == element.end() || !queued->is_boolean()) {
            return std::nullopt;
        }
        auto data = platform::decodeBase64(payload->get_ref<const std::string&>());
        if (!data) {
            return std::nullopt;
        }
        list.push_back(
            PendingWatchSyncMessage{id->get<std::string>(), std::move(*data), queued->get<bool>()});
    }
    return list;
}

} // namespace watchsync
