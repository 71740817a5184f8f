#include "sync/outbound/pending_watch_sync_message.hpp"

#include <nlohmann/json.hpp>

#include <array>

namespace watchsync {

namespace {

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendBase64(platform::Data& out, const platform::Data& bytes) {
    auto put = [&out](std::uint32_t sextet) {
        out.push_back(static_cast<std::uint8_t>(base64Alphabet[sextet & 63]));
    };
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (count > 1) {
            group |= std::uint32_t{bytes[i + 1]} << 8;
        }
        if (count > 2) {
            group |= std::uint32_t{bytes[i + 2]};
        }
        put(group >> 18);
        put(group >> 12);
        if (count > 1) {
            put(group >> 6);
        } else {
            out.push_back('=');
        }
        if (count > 2) {
            put(group);
        } else {
            out.push_back('=');
        }
    }
}

void append(platform::Data& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// Strict, padded Base64 as the stored form is always written: anything else means the stored
// data is not ours (or is damaged), and guessing at it could resend the wrong bytes.
std::optional<platform::Data> decodeBase64(const std::string& text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::array<int, 256> values{};
    values.fill(-1);
    for (int i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(base64Alphabet[i])] = i;
    }
    platform::Data out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::size_t padding = 0;
        if (last && text[i + 3] == '=') {
            padding = text[i + 2] == '=' ? 2 : 1;
        }
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            int value = 0;
            if (j < 4 - padding) {
                value = values[static_cast<unsigned char>(text[i + j])];
                if (value < 0) {
                    return std::nullopt;
                }
            }
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return out;
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
        appendBase64(out, message.payload);
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
        auto data = decodeBase64(payload->get_ref<const std::string&>());
        if (!data) {
            return std::nullopt;
        }
        list.push_back(
            PendingWatchSyncMessage{id->get<std::string>(), std::move(*data), queued->get<bool>()});
    }
    return list;
}

} // namespace watchsync
