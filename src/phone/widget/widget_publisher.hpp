#pragma once

#include "phone/widget/host_client.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace phone::widget {

// What the phone wants shown outside the app.
struct WidgetState {
    // The "nextWorkout" value: the widget data as JSON text.
    std::string nextWorkout;
    struct Activity {
        std::string id;
        nlohmann::json attributes;
        nlohmann::json contentState;
        bool operator==(const Activity&) const = default;
    };
    // The running workout's live activity; nothing when no workout runs.
    std::optional<Activity> activity;
    bool operator==(const WidgetState&) const = default;
};

// Brings the shared suite and the widget host to a WidgetState, remembering what they have so
// that only changes go out. Blocking (file syncs, the host's socket): it runs on a queue of its
// own, never on main.
class WidgetPublisher {
public:
    // Without an app group the suite is not written; without a socket nothing goes to a host.
    WidgetPublisher(std::optional<std::filesystem::path> appGroup,
                    std::optional<std::filesystem::path> host);

    struct Result {
        // Log lines: what failed, and what the host refused.
        std::vector<std::string> lines;
        // False when the host could not be reached: apply the same state again later.
        bool reachedHost = true;
    };
    Result apply(const WidgetState& state);

    static constexpr const char* suiteName = "group.tessaron.glanceside";

private:
    // Each is false when the host could not be reached.
    bool reloadTimelines(Result& result);
    bool end(const std::string& id, Result& result);
    // Once per run: the activities the host still runs from an earlier run of ours. The one we
    // want is adopted (updated, not started); the others belong to workouts that ended while we
    // were away and are ended.
    bool adoptRunning(const WidgetState& state, Result& result);
    bool show(const WidgetState::Activity& activity, Result& result);
    // The host's answer, or nothing (with a line) when it could not be reached.
    std::optional<nlohmann::json> ask(const nlohmann::json& request, Result& result);

    std::optional<std::filesystem::path> appGroup_;
    std::unique_ptr<HostClient> host_;
    std::optional<std::string> written_;
    bool reloadPending_ = false;
    bool adopted_ = false;
    // The activity the host runs for us, as we last showed it.
    std::optional<WidgetState::Activity> shown_;
};

} // namespace phone::widget
