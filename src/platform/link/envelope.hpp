#pragma once

#include "platform/link/session.hpp"
#include "platform/values/value.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// The envelopes of the link's wire protocol as typed frames, and their conversion to and from
// the dictionaries a FrameTransport carries.
namespace platform::phonelink {

inline constexpr std::int64_t protocolVersion = 1;

struct Hello {
    LinkRole role = LinkRole::watch;
    std::int64_t version = protocolVersion;
    std::optional<bool> reachable; // the phone's hello carries it, the watch's does not
};
struct Reachability {
    bool reachable = false;
};
struct Message {
    std::string id;
    Dictionary body;
    bool replyExpected = false;
};
struct Reply {
    std::string id;
    Dictionary body;
};
struct UserInfo {
    std::string id;
    Dictionary body;
};
struct Context {
    Dictionary body;
};
struct File {
    std::string id;
    Dictionary metadata;
    Data contents;
};
struct Received {
    std::string id;
    std::optional<std::string> error;
};
struct WorkoutData {
    Data data;
};
struct StartWorkout {
    Dictionary configuration;
};

// A kind this version does not know: later versions may add kinds.
struct UnknownKind {
    std::string kind;
};
// A known kind without the keys it needs; `id` is kept when present so that a transfer can
// still be answered.
struct Malformed {
    std::string kind;
    std::string problem;
    std::optional<std::string> id;
};

using Frame = std::variant<Hello, Reachability, Message, Reply, UserInfo, Context, File, Received,
                           WorkoutData, StartWorkout>;
using DecodedFrame = std::variant<Hello, Reachability, Message, Reply, UserInfo, Context, File,
                                  Received, WorkoutData, StartWorkout, UnknownKind, Malformed>;

Dictionary encodeFrame(const Frame& frame);
DecodedFrame decodeFrame(const Dictionary& envelope);

// The envelope's `kind`, empty when it has none.
std::string_view envelopeKind(const Dictionary& envelope);

std::string_view roleName(LinkRole role);

} // namespace platform::phonelink
