#pragma once

#include "platform/exec/queue.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/delivered_ids.hpp"
#include "platform/link/envelope.hpp"
#include "platform/link/frame_transport.hpp"
#include "platform/link/outbox.hpp"
#include "platform/link/session.hpp"
#include "platform/log/log.hpp"
#include "platform/store/key_value_store.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {

// What the engine uses of the platform around it; all of it must outlive the engine.
struct SessionEngineServices {
    Executor& executor;   // gives the engine its serial queue, on which every callback runs
    KeyValueStore& store; // the platform's own store: queued transfers, delivered ids, contexts
    FileSystem& files;    // received files live under applicationSupportDirectory()/Link Inbox
    Log& log;
};

// The platform's session for either end of the link, over any FrameTransport: the hello
// exchange, reachability, live messages and replies, queued transfers that survive restarts,
// application contexts, files and workout data, as docs/phone-link.md describes.
//
// Every delegate callback, reply and error handler runs on the engine's own serial queue; the
// transport's events hop onto it too. The engine must not be destroyed from one of its own
// callbacks. Destroying it drops whatever has not run yet, pending replies included (their
// handlers are never called); what is queued in the store stays for the next engine.
class SessionEngine final : public Session {
public:
    SessionEngine(LinkRole role, std::unique_ptr<FrameTransport> transport,
                  SessionEngineServices services);
    ~SessionEngine() override;
    SessionEngine(const SessionEngine&) = delete;
    SessionEngine& operator=(const SessionEngine&) = delete;

    LinkRole role() const override { return role_; }
    // Clearing the delegate from outside the engine's queue waits until no callback runs.
    void setDelegate(SessionDelegate* delegate) override;
    // Also starts the transport, right after activationDidComplete.
    void activate() override;
    ActivationState activationState() const override;
    bool isReachable() const override;

    void sendMessage(const Dictionary& message, std::optional<ReplyHandler> onReply,
                     ErrorHandler onError) override;
    UserInfoTransfer transferUserInfo(const Dictionary& userInfo) override;
    std::vector<UserInfoTransfer> outstandingUserInfoTransfers() const override;
    std::optional<SessionError> updateApplicationContext(const Dictionary& context) override;
    Dictionary applicationContext() const override;
    Dictionary receivedApplicationContext() const override;
    FileTransfer transferFile(const Data& contents, const Dictionary& metadata) override;
    // Sent while connected, dropped otherwise.
    void sendWorkoutData(const Data& data) override;
    void startWorkout(const Dictionary& configuration) override;

    // Phone end only (ignored on the watch): whether the phone application can take live
    // messages now. It goes out in the hello and, on every change, as a `reachability` frame.
    // The phone starts out reachable.
    void setPhoneReachable(bool reachable);

private:
    enum class LinkState { down, awaitingHello, up };
    struct PendingReply {
        std::string id;
        ReplyHandler onReply;
        ErrorHandler onError;
    };
    struct ReplyRoute;

    void post(Task task);
    void note(const std::string& text) const;
    // Why an incoming transfer is refused, if it is: over the size the sending platform allows,
    // or an id too long to remember.
    std::optional<std::string> refusedTransfer(const std::string& id, const Dictionary& body) const;
    SessionDelegate* currentDelegate() const;
    std::optional<SessionError> refusal(const Dictionary& payload, std::size_t limit) const;
    void queueTransfer(phonelink::Outbox::Entry entry, std::optional<SessionError> refused);

    // The rest runs on the queue.
    void startTransport();
    void onConnected();
    void onDisconnected(const std::string& reason);
    void onFrame(const Dictionary& envelope);
    void protocolError(const std::string& reason);
    void connectionDown(const std::string& reason);
    void send(const phonelink::Frame& frame);
    void updateReachability();
    bool reachableNow() const;
    void flushOutbox();
    void sendContext();
    void sendReply(const std::string& id, std::uint64_t connection, Dictionary body);
    void finishTransfer(const phonelink::Outbox::Entry& entry, std::optional<SessionError> error);

    void handle(const phonelink::Hello& hello);
    void handle(const phonelink::Reachability& reachability);
    void handle(phonelink::Message message);
    void handle(phonelink::Reply reply);
    void handle(const phonelink::UserInfo& userInfo);
    void handle(const phonelink::Context& context);
    void handle(const phonelink::File& file);
    void handle(const phonelink::Received& received);
    void handle(const phonelink::WorkoutData& workoutData);
    void handle(const phonelink::StartWorkout& startWorkout);
    void handle(const phonelink::UnknownKind& unknown);
    void handle(const phonelink::Malformed& malformed);

    const LinkRole role_;
    const std::string prefix_;
    std::unique_ptr<FrameTransport> transport_;
    KeyValueStore& store_;
    FileSystem& files_;
    Log& log_;

    // Shared with callers on any thread.
    mutable std::mutex mutex_;
    SessionDelegate* delegate_ = nullptr;
    bool activateCalled_ = false;
    ActivationState activation_ = ActivationState::notActivated;
    bool reachable_ = false;
    bool phoneReachable_ = true;
    bool contextSendQueued_ = false;
    phonelink::Outbox outbox_;
    std::optional<Dictionary> context_;
    Dictionary receivedContext_;

    // Only touched on the queue.
    LinkState link_ = LinkState::down;
    std::uint64_t connection_ = 0;
    bool peerReachable_ = false;
    std::set<std::string, std::less<>> sentOnConnection_;
    std::vector<PendingReply> pendingReplies_;
    phonelink::DeliveredIds delivered_;

    std::shared_ptr<ReplyRoute> replyRoute_;
    std::mutex postMutex_;
    std::unique_ptr<Queue> queue_;
};

// The key prefix under which an engine of `role` keeps its state in the platform's store.
std::string sessionStorePrefix(LinkRole role);

// A device reset: the platform loses its queue of transfers for `role`. Only while no engine of
// that role runs on `store`.
void forgetQueuedTransfers(KeyValueStore& store, LinkRole role);

} // namespace platform
