#include "platform/link/session_engine.hpp"

#include "platform/link/payload_limits.hpp"
#include "platform/link/reply_once.hpp"
#include "platform/link/stored_plist.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/uuid.hpp"

#include <algorithm>
#include <utility>

namespace platform {

using phonelink::Outbox;

// Lets a ReplyHandler that outlives the engine reach it safely: the engine detaches it first
// thing when it goes away.
struct SessionEngine::ReplyRoute {
    std::mutex mutex;
    SessionEngine* engine;

    explicit ReplyRoute(SessionEngine* e) : engine(e) {}
    template <class F> void with(F&& f) {
        std::lock_guard lock(mutex);
        if (engine != nullptr) {
            f(*engine);
        }
    }
    void detach() {
        std::lock_guard lock(mutex);
        engine = nullptr;
    }
};

namespace {

std::string contextKey(std::string_view prefix) {
    return std::string(prefix) + "context";
}
// A peer's id as it appears in log lines: a hostile one may be as long as a frame.
std::string shownId(const std::string& id) {
    constexpr std::size_t shown = 64;
    return id.size() <= shown ? id : id.substr(0, shown) + "...";
}

std::string receivedContextKey(std::string_view prefix) {
    return std::string(prefix) + "receivedContext";
}
std::string deliveredKey(std::string_view prefix) {
    return std::string(prefix) + "delivered";
}

} // namespace

std::string sessionStorePrefix(LinkRole role) {
    return "platform.link." + std::string(phonelink::roleName(role)) + ".";
}

void forgetQueuedTransfers(KeyValueStore& store, LinkRole role) {
    Outbox::erase(store, sessionStorePrefix(role));
}

SessionEngine::SessionEngine(LinkRole role, std::unique_ptr<FrameTransport> transport,
                             SessionEngineServices services)
    : role_(role), prefix_(sessionStorePrefix(role)), transport_(std::move(transport)),
      store_(services.store), files_(services.files), log_(services.log),
      outbox_(services.store, prefix_),
      context_(phonelink::loadDictionary(store_, contextKey(prefix_))),
      receivedContext_(
          phonelink::loadDictionary(store_, receivedContextKey(prefix_)).value_or(Dictionary{})),
      delivered_(services.store, deliveredKey(prefix_)),
      replyRoute_(std::make_shared<ReplyRoute>(this)),
      queue_(services.executor.makeSerialQueue("platform.link." +
                                               std::string(phonelink::roleName(role)))) {}

SessionEngine::~SessionEngine() {
    replyRoute_->detach();
    std::unique_ptr<Queue> queue;
    {
        std::lock_guard lock(postMutex_);
        queue = std::move(queue_);
    }
    // Lets a running task finish and drops the rest, so that nothing uses the transport while
    // it stops.
    queue.reset();
    transport_->stop();
}

void SessionEngine::post(Task task) {
    std::lock_guard lock(postMutex_);
    if (queue_) {
        queue_->async(std::move(task));
    }
}

void SessionEngine::note(const std::string& text) const {
    log_.line("link " + std::string(phonelink::roleName(role_)) + ": " + text);
}

SessionDelegate* SessionEngine::currentDelegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

void SessionEngine::setDelegate(SessionDelegate* delegate) {
    {
        std::lock_guard lock(mutex_);
        delegate_ = delegate;
    }
    if (delegate != nullptr) {
        return;
    }
    // Clearing waits for a callback already under way, so that the old delegate may be
    // destroyed as soon as this returns. What runs meanwhile finds no delegate, and a transfer
    // is then refused, to come again, rather than lost.
    Queue* queue = nullptr;
    {
        std::lock_guard lock(postMutex_);
        queue = queue_.get();
    }
    if (queue != nullptr && !queue->isCurrent()) {
        queue->sync([] {});
    }
}

void SessionEngine::activate() {
    {
        std::lock_guard lock(mutex_);
        if (activateCalled_) {
            return;
        }
        activateCalled_ = true;
    }
    post([this] {
        {
            std::lock_guard lock(mutex_);
            activation_ = ActivationState::activated;
        }
        if (auto* d = currentDelegate()) {
            d->activationDidComplete(ActivationState::activated, std::nullopt);
        }
        startTransport();
    });
}

ActivationState SessionEngine::activationState() const {
    std::lock_guard lock(mutex_);
    return activation_;
}

bool SessionEngine::isReachable() const {
    std::lock_guard lock(mutex_);
    return reachable_;
}

std::optional<SessionError> SessionEngine::refusal(const Dictionary& payload,
                                                   std::size_t limit) const {
    if (activationState() != ActivationState::activated) {
        return phonelink::sessionError(SessionError::Code::notActivated);
    }
    return phonelink::checkPayload(payload, limit);
}

void SessionEngine::sendMessage(const Dictionary& message, std::optional<ReplyHandler> onReply,
                                ErrorHandler onError) {
    auto refused = refusal(message, phonelink::maxMessageBytes);
    if (!refused && !isReachable()) {
        refused = phonelink::sessionError(SessionError::Code::notReachable);
    }
    if (refused) {
        post([onError = std::move(onError), error = *refused] {
            if (onError) {
                onError(error);
            }
        });
        return;
    }
    post([this, message, onReply = std::move(onReply), onError = std::move(onError)] {
        // The connection may have gone since the call.
        if (!reachableNow()) {
            if (onError) {
                onError(phonelink::sessionError(SessionError::Code::notReachable));
            }
            return;
        }
        phonelink::Message frame{makeUuid(), message, onReply.has_value()};
        send(frame);
        if (onReply) {
            pendingReplies_.push_back({frame.id, *onReply, onError});
        }
    });
}

UserInfoTransfer SessionEngine::transferUserInfo(const Dictionary& userInfo) {
    UserInfoTransfer transfer{makeUuid(), userInfo};
    queueTransfer({Outbox::Kind::userInfo, transfer.transferId, userInfo, {}},
                  refusal(userInfo, phonelink::maxMessageBytes));
    return transfer;
}

FileTransfer SessionEngine::transferFile(const Data& contents, const Dictionary& metadata) {
    FileTransfer transfer{makeUuid(), metadata};
    auto refused = refusal(metadata, phonelink::maxMessageBytes);
    if (!refused && contents.size() > phonelink::maxFileContentsBytes) {
        refused = phonelink::sessionError(SessionError::Code::payloadTooLarge);
    }
    queueTransfer({Outbox::Kind::file, transfer.transferId, metadata, contents}, refused);
    return transfer;
}

void SessionEngine::queueTransfer(Outbox::Entry entry, std::optional<SessionError> refused) {
    if (!refused) {
        std::lock_guard lock(mutex_);
        if (!outbox_.append(entry)) {
            refused = phonelink::sessionError(SessionError::Code::payloadUnsupportedTypes);
        }
    }
    if (refused) {
        entry.contents.clear();
        post([this, entry = std::move(entry), error = *refused] { finishTransfer(entry, error); });
        return;
    }
    post([this] { flushOutbox(); });
}

std::vector<UserInfoTransfer> SessionEngine::outstandingUserInfoTransfers() const {
    std::lock_guard lock(mutex_);
    std::vector<UserInfoTransfer> transfers;
    for (const auto& e : outbox_.entries()) {
        if (e.kind == Outbox::Kind::userInfo) {
            transfers.push_back({e.id, e.payload});
        }
    }
    return transfers;
}

std::optional<SessionError> SessionEngine::updateApplicationContext(const Dictionary& context) {
    if (auto refused = refusal(context, phonelink::maxContextBytes)) {
        return refused;
    }
    bool postSend = false;
    {
        std::lock_guard lock(mutex_);
        context_ = context;
        phonelink::saveDictionary(store_, contextKey(prefix_), context);
        // Updates that come faster than the queue runs go out once, as the newest.
        postSend = !std::exchange(contextSendQueued_, true);
    }
    if (postSend) {
        post([this] { sendContext(); });
    }
    return std::nullopt;
}

Dictionary SessionEngine::applicationContext() const {
    std::lock_guard lock(mutex_);
    return context_.value_or(Dictionary{});
}

Dictionary SessionEngine::receivedApplicationContext() const {
    std::lock_guard lock(mutex_);
    return receivedContext_;
}

void SessionEngine::sendWorkoutData(const Data& data) {
    post([this, data] {
        if (link_ != LinkState::up) {
            note("workout data dropped: not connected");
            return;
        }
        send(phonelink::WorkoutData{data});
    });
}

void SessionEngine::startWorkout(const Dictionary& configuration) {
    if (role_ != LinkRole::phone || !isPropertyList(Value(configuration))) {
        note("startWorkout ignored: phone end only, with a property-list configuration");
        return;
    }
    post([this, configuration] {
        if (link_ != LinkState::up) {
            note("startWorkout dropped: not connected");
            return;
        }
        send(phonelink::StartWorkout{configuration});
    });
}

void SessionEngine::setPhoneReachable(bool reachable) {
    if (role_ != LinkRole::phone) {
        note("setPhoneReachable ignored on the watch end");
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (std::exchange(phoneReachable_, reachable) == reachable) {
            return;
        }
    }
    post([this] {
        // Our hello went out when the connection came up; changes after it need a frame.
        if (link_ == LinkState::down) {
            return;
        }
        bool now = false;
        {
            std::lock_guard lock(mutex_);
            now = phoneReachable_;
        }
        send(phonelink::Reachability{now});
    });
}

// ---- on the queue ----

void SessionEngine::startTransport() {
    FrameTransport::Events events;
    events.connected = [this] { post([this] { onConnected(); }); };
    events.frame = [this](Dictionary envelope) {
        post([this, envelope = std::move(envelope)] { onFrame(envelope); });
    };
    events.disconnected = [this](std::string reason) {
        post([this, reason = std::move(reason)] { onDisconnected(reason); });
    };
    transport_->start(std::move(events));
}

void SessionEngine::send(const phonelink::Frame& frame) {
    transport_->send(phonelink::encodeFrame(frame));
}

void SessionEngine::onConnected() {
    if (link_ != LinkState::down) {
        connectionDown("replaced by a new connection");
    }
    link_ = LinkState::awaitingHello;
    ++connection_;
    std::optional<bool> reachable;
    if (role_ == LinkRole::phone) {
        std::lock_guard lock(mutex_);
        reachable = phoneReachable_;
    }
    send(phonelink::Hello{role_, phonelink::protocolVersion, reachable});
}

void SessionEngine::onDisconnected(const std::string& reason) {
    connectionDown(reason);
}

void SessionEngine::protocolError(const std::string& reason) {
    note("protocol error: " + reason);
    transport_->disconnect(reason);
    connectionDown(reason);
}

void SessionEngine::connectionDown(const std::string& reason) {
    if (link_ == LinkState::down) {
        return;
    }
    note("connection down: " + reason);
    link_ = LinkState::down;
    peerReachable_ = false;
    sentOnConnection_.clear();
    updateReachability();
    auto pending = std::exchange(pendingReplies_, {});
    for (auto& p : pending) {
        if (p.onError) {
            p.onError(phonelink::sessionError(SessionError::Code::connectionLost));
        }
    }
}

void SessionEngine::onFrame(const Dictionary& envelope) {
    if (link_ == LinkState::down) {
        return; // the rest of a connection we have given up on
    }
    const auto kind = phonelink::envelopeKind(envelope);
    if (link_ == LinkState::awaitingHello && kind != "hello") {
        protocolError("`" + std::string(kind) + "` before hello");
        return;
    }
    auto frame = phonelink::decodeFrame(envelope);
    std::visit([this](auto&& f) { handle(std::move(f)); }, std::move(frame));
}

bool SessionEngine::reachableNow() const {
    return link_ == LinkState::up && (role_ == LinkRole::phone || peerReachable_);
}

void SessionEngine::updateReachability() {
    const bool now = reachableNow();
    {
        std::lock_guard lock(mutex_);
        if (std::exchange(reachable_, now) == now) {
            return;
        }
    }
    if (auto* d = currentDelegate()) {
        d->reachabilityDidChange(now);
    }
}

void SessionEngine::flushOutbox() {
    if (link_ != LinkState::up) {
        return;
    }
    std::vector<Outbox::Entry> toSend;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : outbox_.entries()) {
            if (!sentOnConnection_.contains(e.id)) {
                toSend.push_back(e);
            }
        }
    }
    for (auto& e : toSend) {
        sentOnConnection_.insert(e.id);
        if (e.kind == Outbox::Kind::userInfo) {
            send(phonelink::UserInfo{e.id, std::move(e.payload)});
        } else {
            send(phonelink::File{e.id, std::move(e.payload), std::move(e.contents)});
        }
    }
}

void SessionEngine::sendContext() {
    std::optional<Dictionary> context;
    {
        std::lock_guard lock(mutex_);
        contextSendQueued_ = false;
        context = context_;
    }
    if (link_ == LinkState::up && context) {
        send(phonelink::Context{std::move(*context)});
    }
}

void SessionEngine::sendReply(const std::string& id, std::uint64_t connection, Dictionary body) {
    if (link_ != LinkState::up || connection_ != connection) {
        note("reply to " + id + " dropped: its connection is gone");
        return;
    }
    if (auto refused = phonelink::checkPayload(body, phonelink::maxMessageBytes)) {
        note("reply to " + id + " refused: " + refused->description);
        return;
    }
    send(phonelink::Reply{id, std::move(body)});
}

void SessionEngine::finishTransfer(const Outbox::Entry& entry, std::optional<SessionError> error) {
    auto* d = currentDelegate();
    if (d == nullptr) {
        return;
    }
    if (entry.kind == Outbox::Kind::userInfo) {
        d->didFinishUserInfoTransfer({entry.id, entry.payload}, std::move(error));
    } else {
        d->didFinishFileTransfer({entry.id, entry.payload}, std::move(error));
    }
}

void SessionEngine::handle(const phonelink::Hello& hello) {
    if (link_ == LinkState::up) {
        protocolError("a second hello");
        return;
    }
    if (hello.role == role_) {
        protocolError("the peer says it is a " + std::string(phonelink::roleName(hello.role)) +
                      " too");
        return;
    }
    if (hello.version != phonelink::protocolVersion) {
        protocolError("unsupported version " + std::to_string(hello.version));
        return;
    }
    if (hello.role == LinkRole::phone && !hello.reachable) {
        protocolError("the phone's hello lacks `reachable`");
        return;
    }
    link_ = LinkState::up;
    peerReachable_ = hello.reachable.value_or(false);
    note("connected");
    updateReachability();
    flushOutbox();
    sendContext();
}

void SessionEngine::handle(const phonelink::Reachability& reachability) {
    if (role_ == LinkRole::phone) {
        note("reachability from the watch ignored");
        return;
    }
    peerReachable_ = reachability.reachable;
    updateReachability();
}

void SessionEngine::handle(phonelink::Message message) {
    if (auto refused = phonelink::checkPayload(message.body, phonelink::maxMessageBytes)) {
        // No reply either: the sender's platform should never have sent it.
        note("message " + shownId(message.id) + " refused: " + refused->description);
        return;
    }
    auto* d = currentDelegate();
    if (d == nullptr) {
        note("message " + message.id + " dropped: no delegate");
        return;
    }
    std::optional<ReplyHandler> reply;
    if (message.replyExpected) {
        const auto route = replyRoute_;
        reply = phonelink::makeOnceReply(
            [route, id = message.id, connection = connection_](Dictionary body) {
                route->with([&](SessionEngine& e) {
                    e.post([&e, id, connection, body = std::move(body)]() mutable {
                        e.sendReply(id, connection, std::move(body));
                    });
                });
            },
            [route, id = message.id] {
                route->with(
                    [&](SessionEngine& e) { e.note("second reply to " + id + " ignored"); });
            },
            [route, id = message.id] {
                route->with([&](SessionEngine& e) {
                    e.note("reply handler for " + id + " dropped without a reply");
                });
            });
    }
    d->didReceiveMessage(message.body, std::move(reply));
}

void SessionEngine::handle(phonelink::Reply reply) {
    auto it = std::find_if(pendingReplies_.begin(), pendingReplies_.end(),
                           [&](const PendingReply& p) { return p.id == reply.id; });
    if (it == pendingReplies_.end()) {
        note("reply to unknown message " + shownId(reply.id) + " ignored");
        return;
    }
    auto pending = std::move(*it);
    pendingReplies_.erase(it);
    if (auto refused = phonelink::checkPayload(reply.body, phonelink::maxMessageBytes)) {
        note("reply to " + shownId(reply.id) + " refused: " + refused->description);
        if (pending.onError) {
            pending.onError(*refused);
        }
        return;
    }
    if (pending.onReply) {
        pending.onReply(std::move(reply.body));
    }
}

void SessionEngine::handle(const phonelink::UserInfo& userInfo) {
    if (auto refused = refusedTransfer(userInfo.id, userInfo.body)) {
        note("user info " + shownId(userInfo.id) + " refused: " + *refused);
        send(phonelink::Received{userInfo.id, *refused});
        return;
    }
    if (!delivered_.contains(userInfo.id)) {
        auto* d = currentDelegate();
        if (d == nullptr) {
            send(phonelink::Received{userInfo.id, "the session has no delegate"});
            return;
        }
        // Remembered first: a crash during the callback must not lead to a second delivery.
        delivered_.insert(userInfo.id);
        d->didReceiveUserInfo(userInfo.body);
    }
    send(phonelink::Received{userInfo.id, std::nullopt});
}

void SessionEngine::handle(const phonelink::File& file) {
    if (auto refused = refusedTransfer(file.id, file.metadata)) {
        note("file " + shownId(file.id) + " refused: " + *refused);
        send(phonelink::Received{file.id, *refused});
        return;
    }
    if (!delivered_.contains(file.id)) {
        auto* d = currentDelegate();
        if (d == nullptr) {
            send(phonelink::Received{file.id, "the session has no delegate"});
            return;
        }
        const auto dir = files_.applicationSupportDirectory() / "Link Inbox";
        // Our own name, not the peer's id, so that no id can point outside the directory.
        const auto path = dir / makeUuid();
        std::string error;
        if (!files_.createDirectories(dir, &error) ||
            !files_.writeAtomically(path, file.contents, &error)) {
            note("file " + file.id + " not stored: " + error);
            send(phonelink::Received{file.id, "could not store the file: " + error});
            return;
        }
        delivered_.insert(file.id);
        d->didReceiveFile({path, file.metadata});
        files_.remove(path);
    }
    send(phonelink::Received{file.id, std::nullopt});
}

void SessionEngine::handle(const phonelink::Context& context) {
    if (auto refused = phonelink::checkPayload(context.body, phonelink::maxContextBytes)) {
        note("application context refused: " + refused->description);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        receivedContext_ = context.body;
        phonelink::saveDictionary(store_, receivedContextKey(prefix_), context.body);
    }
    if (auto* d = currentDelegate()) {
        d->didReceiveApplicationContext(context.body);
    }
}

std::optional<std::string> SessionEngine::refusedTransfer(const std::string& id,
                                                          const Dictionary& body) const {
    // Delivered ids are remembered: their length is bounded so that the store cannot be made
    // to grow with what a peer sends.
    if (id.size() > phonelink::maxTransferIdBytes) {
        return "transfer id too long";
    }
    if (auto refused = phonelink::checkPayload(body, phonelink::maxMessageBytes)) {
        return refused->description;
    }
    return std::nullopt;
}

void SessionEngine::handle(const phonelink::Received& received) {
    std::optional<Outbox::Entry> entry;
    {
        std::lock_guard lock(mutex_);
        entry = outbox_.remove(received.id);
    }
    sentOnConnection_.erase(received.id);
    if (!entry) {
        return; // a confirmation of a copy we have already had confirmed
    }
    std::optional<SessionError> error;
    if (received.error) {
        error = SessionError{SessionError::Code::transferFailed, *received.error};
    }
    finishTransfer(*entry, std::move(error));
}

void SessionEngine::handle(const phonelink::WorkoutData& workoutData) {
    if (auto* d = currentDelegate()) {
        d->didReceiveWorkoutData(workoutData.data);
    }
}

void SessionEngine::handle(const phonelink::StartWorkout& startWorkout) {
    if (role_ != LinkRole::watch) {
        note("startWorkout from the watch ignored");
        return;
    }
    if (auto* d = currentDelegate()) {
        d->didReceiveStartWorkout(startWorkout.configuration);
    }
}

void SessionEngine::handle(const phonelink::UnknownKind& unknown) {
    note("ignored an envelope of unknown kind `" + unknown.kind + "`");
}

void SessionEngine::handle(const phonelink::Malformed& malformed) {
    note("malformed `" + malformed.kind + "`: " + malformed.problem);
    if (malformed.kind == "hello") {
        protocolError("malformed hello");
    } else if (malformed.id && (malformed.kind == "userInfo" || malformed.kind == "file")) {
        // Answered, so that the sender stops sending it again.
        send(phonelink::Received{*malformed.id,
                                 "malformed " + malformed.kind + ": " + malformed.problem});
    }
}

} // namespace platform
