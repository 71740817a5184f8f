#pragma once

#include "platform/values/value.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The watch-to-phone session: one end of the link between the watch program and the phone
// program, with the semantics of the platform's own session (activation, reachability, live
// messages, queued user-info transfers, application context, files, mirrored workout data).
namespace platform {

enum class ActivationState { notActivated = 0, inactive = 1, activated = 2 };

enum class LinkRole { watch, phone };

struct SessionError {
    enum class Code {
        notActivated,            // "session not activated"
        notReachable,            // live message while the peer is away
        payloadTooLarge,         // "payload too large"
        payloadUnsupportedTypes, // "payload unsupported types"
        connectionLost,          // a reply that will never come
        transferFailed,          // the receiver answered `received` with an error
    };
    Code code;
    std::string description;

    bool operator==(const SessionError&) const = default;
};

using ReplyHandler = std::function<void(Dictionary reply)>;
using ErrorHandler = std::function<void(SessionError error)>;

// A queued background transfer of a dictionary, identified by its transfer id.
struct UserInfoTransfer {
    std::string transferId;
    Dictionary userInfo;
};

struct FileTransfer {
    std::string transferId;
    Dictionary metadata;
};

// A file handed to the application; the file exists only while the delegate's callback runs.
struct ReceivedFile {
    std::filesystem::path path;
    Dictionary metadata;
};

// What the application implements. Every callback arrives on the session's own callback queue,
// never on the main queue, one at a time and in the order the link delivered them.
class SessionDelegate {
public:
    virtual ~SessionDelegate() = default;

    virtual void activationDidComplete(ActivationState state,
                                       std::optional<SessionError> error) = 0;
    virtual void reachabilityDidChange(bool reachable) = 0;
    // reply is set when the sender expects an answer; it must then be called exactly once.
    virtual void didReceiveMessage(const Dictionary& message,
                                   std::optional<ReplyHandler> reply) = 0;
    virtual void didReceiveUserInfo(const Dictionary& userInfo) = 0;
    virtual void didReceiveApplicationContext(const Dictionary& context) = 0;
    virtual void didFinishUserInfoTransfer(const UserInfoTransfer& transfer,
                                           std::optional<SessionError> error) = 0;
    virtual void didReceiveFile(const ReceivedFile& file) = 0;
    virtual void didFinishFileTransfer(const FileTransfer& /*transfer*/,
                                       std::optional<SessionError> /*error*/) {}
    virtual void didReceiveWorkoutData(const Data& /*data*/) {}
    // Watch end only: the phone asks the watch to start a workout session.
    virtual void didReceiveStartWorkout(const Dictionary& /*configuration*/) {}
};

// One end of the link. Calls may come from any thread.
class Session {
public:
    virtual ~Session() = default;

    virtual LinkRole role() const = 0;

    // Set before activate(); the delegate must outlive the session's callbacks.
    virtual void setDelegate(SessionDelegate* delegate) = 0;
    // Activation completes shortly after, connected or not, and is reported to the delegate.
    virtual void activate() = 0;
    virtual ActivationState activationState() const = 0;
    virtual bool isReachable() const = 0;

    // Fails at once through onError when not activated, not reachable, or the message is not a
    // property list or too large; fails later when the connection drops before the reply.
    virtual void sendMessage(const Dictionary& message, std::optional<ReplyHandler> onReply,
                             ErrorHandler onError) = 0;

    // Queued in the platform's own store: it survives restarts and is sent, in order, until the
    // peer confirms it. A refused body finishes at once with an error.
    virtual UserInfoTransfer transferUserInfo(const Dictionary& userInfo) = 0;
    virtual std::vector<UserInfoTransfer> outstandingUserInfoTransfers() const = 0;

    // Nothing on success, the reason otherwise.
    virtual std::optional<SessionError> updateApplicationContext(const Dictionary& context) = 0;
    virtual Dictionary applicationContext() const = 0;
    // The peer's newest context as last received (kept across restarts).
    virtual Dictionary receivedApplicationContext() const = 0;

    virtual FileTransfer transferFile(const Data& contents, const Dictionary& metadata) = 0;

    // Mirrored health-session data, in both directions.
    virtual void sendWorkoutData(const Data& data) = 0;

    // Phone end only: ask the watch to start a workout session.
    virtual void startWorkout(const Dictionary& configuration) = 0;
};

std::string_view describe(SessionError::Code code);

} // namespace platform
