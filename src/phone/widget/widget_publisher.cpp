#include "phone/widget/widget_publisher.hpp"
#include "phone/widget/suite_file.hpp"

namespace phone::widget {

namespace {

bool ok(const nlohmann::json& answer) {
    return answer.is_object() && answer.value("reply", "") == "ok";
}

std::string refusal(const nlohmann::json& answer) {
    return answer.is_object() && answer.contains("message") && answer["message"].is_string()
               ? answer["message"].get<std::string>()
               : answer.dump();
}

} // namespace

WidgetPublisher::WidgetPublisher(std::optional<std::filesystem::path> appGroup,
                                 std::optional<std::filesystem::path> host)
    : appGroup_(std::move(appGroup)) {
    if (host) {
        host_ = std::make_unique<HostClient>(*host);
    }
}

WidgetPublisher::Result WidgetPublisher::apply(const WidgetState& state) {
    Result result;
    if (appGroup_ && written_ != state.nextWorkout) {
        std::string error;
        if (writeSuiteKey(*appGroup_, suiteName, "nextWorkout", state.nextWorkout, &error)) {
            written_ = state.nextWorkout;
            reloadPending_ = true;
        } else {
            result.lines.push_back("cannot write the next workout for the widget: " + error);
        }
    }
    if (!host_) {
        return result;
    }
    if (reloadPending_ && !reloadTimelines(result)) {
        return result;
    }
    if (!adopted_ && !adoptRunning(state, result)) {
        return result;
    }
    if (shown_ && (!state.activity || state.activity->id != shown_->id) &&
        !end(shown_->id, result)) {
        return result;
    }
    if (state.activity && shown_ != state.activity) {
        show(*state.activity, result);
    }
    return result;
}

std::optional<nlohmann::json> WidgetPublisher::ask(const nlohmann::json& request, Result& result) {
    std::string error;
    auto answer = host_->request(request, &error);
    if (!answer) {
        result.reachedHost = false;
        result.lines.push_back("widget host not reachable at " + host_->socket().string() + " (" +
                               error + "): will try again");
    }
    return answer;
}

bool WidgetPublisher::reloadTimelines(Result& result) {
    auto answer = ask({{"op", "reloadTimelines"}}, result);
    if (!answer) {
        return false;
    }
    if (!ok(*answer)) {
        result.lines.push_back("the widget host refused reloadTimelines: " + refusal(*answer));
    }
    reloadPending_ = false;
    return true;
}

bool WidgetPublisher::adoptRunning(const WidgetState& state, Result& result) {
    auto answer = ask({{"op", "activities"}}, result);
    if (!answer) {
        return false;
    }
    adopted_ = true;
    if (!answer->is_object() || !answer->contains("activities") ||
        !(*answer)["activities"].is_array()) {
        return true;
    }
    for (const auto& running : (*answer)["activities"]) {
        if (!running.is_object() || !running.contains("activityId") ||
            !running["activityId"].is_string()) {
            continue;
        }
        const auto id = running["activityId"].get<std::string>();
        if (id.rfind("workout-", 0) != 0) {
            continue;
        }
        if (state.activity && state.activity->id == id) {
            shown_ = WidgetState::Activity{id, running.value("attributes", nlohmann::json()),
                                           running.value("contentState", nlohmann::json())};
        } else if (!end(id, result)) {
            return false;
        }
    }
    return true;
}

bool WidgetPublisher::end(const std::string& id, Result& result) {
    auto answer = ask({{"op", "endActivity"}, {"activityId", id}}, result);
    if (!answer) {
        return false;
    }
    // Refused means it is not running any more: either way it is gone.
    if (shown_ && shown_->id == id) {
        shown_.reset();
    }
    return true;
}

bool WidgetPublisher::show(const WidgetState::Activity& activity, Result& result) {
    const nlohmann::json start{{"op", "startActivity"},
                               {"activityId", activity.id},
                               {"attributes", activity.attributes},
                               {"contentState", activity.contentState}};
    const nlohmann::json update{{"op", "updateActivity"},
                                {"activityId", activity.id},
                                {"contentState", activity.contentState}};
    // An update of an activity the host does not run (it restarted) starts it again; a start of
    // one it runs already (we restarted) updates it.
    const bool running = shown_ && shown_->id == activity.id;
    const auto& first = running ? update : start;
    const auto& second = running ? start : update;
    auto answer = ask(first, result);
    if (!answer) {
        return false;
    }
    if (!ok(*answer)) {
        auto refused = refusal(*answer);
        answer = ask(second, result);
        if (!answer) {
            return false;
        }
        if (!ok(*answer)) {
            result.lines.push_back("the widget host refused the live activity " + activity.id +
                                   ": " + refused + "; " + refusal(*answer));
        }
    }
    // Shown, or refused for good: a refusal is not tried again until the state changes.
    shown_ = activity;
    return true;
}

} // namespace phone::widget
