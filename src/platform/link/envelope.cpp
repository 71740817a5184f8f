#include "platform/link/envelope.hpp"

#include <type_traits>
#include <utility>

namespace platform::phonelink {

namespace {

Dictionary encodeOne(const Hello& f) {
    Dictionary d{{"kind", "hello"}, {"role", roleName(f.role)}, {"version", f.version}};
    if (f.reachable) {
        d.emplace("reachable", *f.reachable);
    }
    return d;
}
Dictionary encodeOne(const Reachability& f) {
    return {{"kind", "reachability"}, {"reachable", f.reachable}};
}
Dictionary encodeOne(const Message& f) {
    return {
        {"kind", "message"}, {"id", f.id}, {"body", f.body}, {"replyExpected", f.replyExpected}};
}
Dictionary encodeOne(const Reply& f) {
    return {{"kind", "reply"}, {"id", f.id}, {"body", f.body}};
}
Dictionary encodeOne(const UserInfo& f) {
    return {{"kind", "userInfo"}, {"id", f.id}, {"body", f.body}};
}
Dictionary encodeOne(const Context& f) {
    return {{"kind", "context"}, {"body", f.body}};
}
Dictionary encodeOne(const File& f) {
    return {{"kind", "file"}, {"id", f.id}, {"metadata", f.metadata}, {"contents", f.contents}};
}
Dictionary encodeOne(const Received& f) {
    Dictionary d{{"kind", "received"}, {"id", f.id}};
    if (f.error) {
        d.emplace("error", *f.error);
    }
    return d;
}
Dictionary encodeOne(const WorkoutData& f) {
    return {{"kind", "workoutData"}, {"data", f.data}};
}
Dictionary encodeOne(const StartWorkout& f) {
    return {{"kind", "startWorkout"}, {"configuration", f.configuration}};
}

// Reads the keys of one envelope and remembers the first one that is missing or mistyped.
class Reader {
public:
    Reader(const Dictionary& envelope, std::string_view kind) : envelope_(envelope), kind_(kind) {}

    template <class T> T required(std::string_view key) {
        if (auto v = optional<T>(key)) {
            return std::move(*v);
        }
        if (!problem_) {
            problem_ = "missing or mistyped `" + std::string(key) + "`";
        }
        return T{};
    }

    template <class T> std::optional<T> optional(std::string_view key) {
        auto it = envelope_.find(key);
        if (it == envelope_.end()) {
            return std::nullopt;
        }
        if (const T* v = it->second.get<T>()) {
            return *v;
        }
        if (!problem_) {
            problem_ = "mistyped `" + std::string(key) + "`";
        }
        return std::nullopt;
    }

    // The frame, or what was wrong with it.
    template <class F> DecodedFrame finish(F frame) {
        if (!problem_) {
            return frame;
        }
        auto id = envelope_.find("id");
        std::optional<std::string> maybeId;
        if (id != envelope_.end() && id->second.string()) {
            maybeId = *id->second.string();
        }
        return Malformed{std::string(kind_), *problem_, maybeId};
    }

private:
    const Dictionary& envelope_;
    std::string_view kind_;
    std::optional<std::string> problem_;
};

std::optional<LinkRole> parseRole(std::string_view name) {
    if (name == "watch") {
        return LinkRole::watch;
    }
    if (name == "phone") {
        return LinkRole::phone;
    }
    return std::nullopt;
}

} // namespace

std::string_view roleName(LinkRole role) {
    return role == LinkRole::watch ? "watch" : "phone";
}

std::string_view envelopeKind(const Dictionary& envelope) {
    auto it = envelope.find("kind");
    if (it == envelope.end() || it->second.string() == nullptr) {
        return {};
    }
    return *it->second.string();
}

Dictionary encodeFrame(const Frame& frame) {
    return std::visit([](const auto& f) { return encodeOne(f); }, frame);
}

DecodedFrame decodeFrame(const Dictionary& envelope) {
    const std::string_view kind = envelopeKind(envelope);
    Reader r(envelope, kind);
    if (kind == "hello") {
        auto roleText = r.required<std::string>("role");
        Hello f{LinkRole::watch, r.required<std::int64_t>("version"),
                r.optional<bool>("reachable")};
        if (auto role = parseRole(roleText)) {
            f.role = *role;
        } else if (!roleText.empty()) {
            return Malformed{"hello", "unknown role `" + roleText + "`", std::nullopt};
        }
        return r.finish(f);
    }
    if (kind == "reachability") {
        return r.finish(Reachability{r.required<bool>("reachable")});
    }
    if (kind == "message") {
        Message f{r.required<std::string>("id"), r.required<Dictionary>("body"),
                  r.optional<bool>("replyExpected").value_or(false)};
        return r.finish(std::move(f));
    }
    if (kind == "reply") {
        return r.finish(Reply{r.required<std::string>("id"), r.required<Dictionary>("body")});
    }
    if (kind == "userInfo") {
        return r.finish(UserInfo{r.required<std::string>("id"), r.required<Dictionary>("body")});
    }
    if (kind == "context") {
        return r.finish(Context{r.required<Dictionary>("body")});
    }
    if (kind == "file") {
        File f{r.required<std::string>("id"), r.required<Dictionary>("metadata"),
               r.required<Data>("contents")};
        return r.finish(std::move(f));
    }
    if (kind == "received") {
        return r.finish(Received{r.required<std::string>("id"), r.optional<std::string>("error")});
    }
    if (kind == "workoutData") {
        return r.finish(WorkoutData{r.required<Data>("data")});
    }
    if (kind == "startWorkout") {
        return r.finish(StartWorkout{r.required<Dictionary>("configuration")});
    }
    return UnknownKind{std::string(kind)};
}

} // namespace platform::phonelink
