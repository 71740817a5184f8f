// Arbitrary input at the watch's inbound doors, into the whole watch core as the program builds
// it, on the manual executor, an in-memory store and a fake phone session whose callbacks arrive
// on a queue of their own, as the real session's do.
//
// The input is a run of chunks separated by "\n--\n". The first chunk is the catalogue file found
// at start (none when empty). Each later chunk starts with one byte that names its door; the rest
// is its body. Dictionaries are read from a binary property list or a JSON object.
//   m  a message that expects a reply    u  a user-info transfer     c  an application context
//   w  the phone's request to start a workout session (all four: a dictionary)
//   r  a transferred catalogue file      s  a transferred full-snapshot file
//   d  mirrored health-session data      a  a line on the control channel (the user)
//   k  the phone acknowledges the oldest pending outbox message; the body is the status
//   f  the oldest background transfer finishes, failed when the body is not empty
//   n  the phone becomes reachable (empty body) or unreachable
//   x  the program restarts over what it stored
//   t  virtual time moves on by the body's decimal seconds (at most ten minutes)
// After each chunk the pending work runs and a second of virtual time passes. An input without a
// separator goes, whole, through the catalogue file at start, a message and both kinds of file.
//
// Whatever arrives: nothing crashes, every reply handler is called exactly once with a property
// list, the work settles, the catalogue holds only usable entries and the control channel can
// still report the whole state as JSON.
#include "app/headless_control.hpp"
#include "app/watch_core.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"
#include "support/fake_session.hpp"

#include <charconv>
#include <cstdio>
#include <memory>
#include <span>

namespace {

using platform::Dictionary;
using platform::SessionDelegate;
using platform::Value;
using namespace std::chrono_literals;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_inbound: %s\n", what);
    __builtin_trap();
}

// What the session delivers: never a value the link cannot carry.
std::optional<Dictionary> dictionaryFrom(std::string_view body) {
    auto value = platform::decodeBinaryPlist(bytesOf(body));
    if (!value || !value->dictionary()) {
        value = platform::parseJson(body);
    }
    if (value && value->dictionary() && platform::isPropertyList(*value)) {
        return *value->dictionary();
    }
    return std::nullopt;
}

// The metadata the phone sends with a file names the revision inside it.
Dictionary fileMetadata(std::string_view kind, std::string_view body) {
    Value revision(7);
    if (auto document = platform::parseJson(body); document && document->dictionary()) {
        if (const auto* inside = document->find("revision");
            inside && (inside->integer() || inside->real())) {
            revision = *inside;
        }
    }
    return {{"syncPayloadKind", Value(kind)},
            {"syncProtocolVersion", 2},
            {"referenceExercisesRevision", revision},
            {"syncRevision", revision}};
}

class Watch {
public:
    explicit Watch(std::string_view catalogueAtStart) {
        const auto support = files_.applicationSupportDirectory();
        files_.createDirectories(support);
        if (!catalogueAtStart.empty()) {
            files_.writeAtomically(support / "watch-reference-exercises-v2.json",
                                   bytesOf(catalogueAtStart));
        }
        start();
    }

    void enter(char door, std::string_view body) {
        const auto dictionary = std::string_view("mucw").find(door) != std::string_view::npos
                                    ? dictionaryFrom(body)
                                    : std::nullopt;
        switch (door) {
        case 'm':
            if (dictionary) {
                receiveMessage(*dictionary);
            }
            break;
        case 'u':
            deliverIf(dictionary, &SessionDelegate::didReceiveUserInfo);
            break;
        case 'c':
            deliverIf(dictionary, &SessionDelegate::didReceiveApplicationContext);
            break;
        case 'w':
            deliverIf(dictionary, &SessionDelegate::didReceiveStartWorkout);
            break;
        case 'r':
        case 's':
            receiveFile(door == 'r' ? "reference_exercises" : "full_snapshot", body);
            break;
        case 'd':
            deliver([data = platform::Data(body.begin(), body.end())](SessionDelegate& d) {
                d.didReceiveWorkoutData(data);
            });
            break;
        case 'k':
            if (auto pending = core_->outbox().pendingMessages(); !pending.empty()) {
                Dictionary ack{{"syncAck", pending.front().id}};
                if (!body.empty()) {
                    ack.insert_or_assign("status", std::string(body));
                }
                receiveMessage(std::move(ack));
            }
            break;
        case 'f':
            if (finishedTransfers_ < session_.transfers.size()) {
                std::optional<platform::SessionError> error;
                if (!body.empty()) {
                    error = platform::SessionError{platform::SessionError::Code::notReachable,
                                                   "transfer failed"};
                }
                deliver([t = platform::UserInfoTransfer{"transfer",
                                                        session_.transfers[finishedTransfers_++]},
                         error](SessionDelegate& d) { d.didFinishUserInfoTransfer(t, error); });
            }
            break;
        case 'n':
            session_.reachable = body.empty();
            deliver([r = body.empty()](SessionDelegate& d) { d.reachabilityDidChange(r); });
            break;
        case 'a':
            control_->handleLine(body);
            break;
        case 'x': // the program ends between two tasks and starts again over what it stored
            control_.reset();
            core_.reset();
            start();
            break;
        case 't': {
            unsigned seconds = 0;
            std::from_chars(body.data(), body.data() + std::min<std::size_t>(body.size(), 5),
                            seconds);
            settle(std::min<platform::Duration>(std::chrono::seconds(seconds), 10min));
            return;
        }
        default:
            return;
        }
        settle(1s);
        checkReplies();
    }

    // What the watch has left to do at once, then what the user would be shown.
    void finish() {
        settle(1s);
        checkReplies();
        for (const auto& entry : core_->data().referenceExercises.get()) {
            if (!entry || entry->id.empty() || entry->name.empty()) {
                fail("an unusable catalogue entry was kept");
            }
        }
        const auto asked = answers_.size();
        control_->handleLine(R"({"action":"state"})");
        auto answer =
            answers_.size() == asked + 1 ? platform::parseJson(answers_.back()) : std::nullopt;
        if (!answer || answer->find("reply") == nullptr ||
            *answer->find("reply") != Value("state")) {
            fail("the state action did not give exactly one JSON state reply");
        }
    }

    bool stuck = false;

private:
    void start() {
        core_.emplace(app::WatchEnvironment{.executor = executor_,
                                            .defaults = defaults_,
                                            .files = files_,
                                            .session = session_,
                                            .log = log_,
                                            .platformStore = &platformStore_});
        core_->becameActive();
        control_.emplace(app::HeadlessControl::Wiring{
            executor_, core_->data(), core_->outbox(), core_->restTimer(), core_->workoutManager(),
            core_->mainScreen(), core_->notificationCenter(),
            [this](std::string_view line) { answers_.emplace_back(line); }, [] {}, nullptr,
            &core_->syncHealth()});
        // The real session reports its activation shortly after activate().
        deliver([](SessionDelegate& d) {
            d.activationDidComplete(platform::ActivationState::activated, std::nullopt);
        });
        settle(1s);
    }

    template <class F> void deliver(F call) {
        callbacks_->async([this, call = std::move(call)] {
            if (session_.delegate != nullptr) {
                call(*session_.delegate);
            }
        });
    }
    void deliverIf(const std::optional<Dictionary>& d,
                   void (SessionDelegate::*door)(const Dictionary&)) {
        if (d) {
            deliver([d = *d, door](SessionDelegate& delegate) { (delegate.*door)(d); });
        }
    }

    void receiveMessage(Dictionary message) {
        auto count = replies_.emplace_back(std::make_shared<int>(0));
        deliver([message = std::move(message), count](SessionDelegate& d) {
            d.didReceiveMessage(message, platform::ReplyHandler([count](Dictionary reply) {
                                    ++*count;
                                    if (!platform::isPropertyList(Value(std::move(reply)))) {
                                        fail("a reply the link cannot carry");
                                    }
                                }));
        });
    }

    // The file exists only while the callback runs.
    void receiveFile(std::string_view kind, std::string_view body) {
        const auto path = files_.applicationSupportDirectory() / "received";
        deliver([this, path, contents = std::string(body),
                 metadata = fileMetadata(kind, body)](SessionDelegate& d) {
            files_.writeAtomically(path, bytesOf(contents));
            d.didReceiveFile(platform::ReceivedFile{path, metadata});
            files_.remove(path);
        });
    }

    // Runs the work due within `span` one task at a time, within a budget of tasks (far more
    // than a long session needs); work that keeps posting work at one instant would hang.
    void settle(platform::Duration span) {
        const auto until = executor_.now() + span;
        auto instant = executor_.now();
        std::size_t sameInstant = 0;
        while (!stuck) {
            auto due = executor_.nextDueTime();
            if (!due || *due > until) {
                executor_.advanceTo(until);
                return;
            }
            if (++tasksRun_ > 20000) {
                stuck = true;
                return;
            }
            executor_.runNext();
            sameInstant = executor_.now() != instant ? 0 : sameInstant + 1;
            instant = executor_.now();
            if (sameInstant > 5000) {
                fail("work that keeps posting work without time moving on");
            }
        }
    }

    void checkReplies() const {
        for (const auto& count : replies_) {
            if (!stuck && *count != 1) {
                fail("a reply handler was not called exactly once");
            }
        }
    }

    platform::ManualExecutor executor_;
    platform::MemoryKeyValueStore defaults_;
    platform::MemoryKeyValueStore platformStore_; // pending notifications outlive restarts there
    platform::MemoryLog log_;
    platform::MemoryFileSystem files_;
    // Declared before the core, so that the core goes first: it is the session's delegate.
    testsupport::FakeSession session_{executor_.main()};
    std::unique_ptr<platform::Queue> callbacks_ = executor_.makeSerialQueue("session-callbacks");
    std::optional<app::WatchCore> core_;
    std::optional<app::HeadlessControl> control_;
    std::vector<std::string> answers_;
    std::vector<std::shared_ptr<int>> replies_;
    std::size_t finishedTransfers_ = 0;
    std::size_t tasksRun_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view separator = "\n--\n";
    auto at = input.find(separator);
    Watch watch(input.substr(0, at));
    if (at == std::string_view::npos) {
        for (char door : {'m', 'r', 's'}) {
            watch.enter(door, input);
        }
    }
    while (at != std::string_view::npos && !watch.stuck) {
        input.remove_prefix(at + separator.size());
        at = input.find(separator);
        if (auto chunk = input.substr(0, at); !chunk.empty()) {
            watch.enter(chunk.front(), chunk.substr(1));
        }
    }
    if (!watch.stuck) {
        watch.finish();
    }
    return 0;
}
