#include "sync/outbound/pending_watch_sync_message.hpp"

#include <nlohmann/json.hpp>

#include <array>

namespace watchsync {

namespace {

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encodeBase64(const platform::Data& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (count > 1) {
            group |= std::uint32_t{bytes[i + 1]} << 8;
        }
        if (count > 2) {
            group |= std::uint32_t{bytes[i + 2]};
        }
        out += base64Alphabet[(group >> 18) & 63];
        out += base64Alphabet[(group >> 12) & 63];
        out += count > 1 ? base64Alphabet[(group >> 6) & 63] : '=';
        out += count > 2 ? base64Alphabet[group & 63] : '=';
    }
    return out;
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

std::optional<platform::Data> encodePendingList(const std::vector<PendingWatchSyncMessage>& list) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& message : list) {
        nlohmann::json element = nlohmann::json::object();
        element["id"] = message.id;
        element["payload"] = encodeBase64(message.payload);
        element["queuedForTransfer"] = message.queuedForTransfer;
        array.push_back(std::move(element));
    }
    std::string text;
    try {
        text = array.dump();
    } catch (const nlohmann::json::exception&) {
        // Only an id that is not valid UTF-8 gets here.
        return std::nullopt;
    }
    return platform::Data(text.begin(), text.end());
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
