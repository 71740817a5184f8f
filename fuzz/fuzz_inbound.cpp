// Arbitrary input at the watch's inbound doors, into the whole watch core as the program builds
// it (outbox, health store and session manager, rest timer with its alerts, notification centre,
// sync hub, root screen) on the manual executor, an in-memory store and a fake phone session whose
// callbacks arrive on a queue of their own, as the real session's do.
//
// The input is a run of chunks separated by "\n--\n". The first chunk is the catalogue file found
// at start (none when empty). Each later chunk starts with one byte that names its door; the rest
// is its body. Dictionaries are read from a binary property list or a JSON object.
//   m  a message from the phone that expects a reply (dictionary)
//   u  a user-info transfer (dictionary)
//   c  an application context (dictionary)
//   w  the phone's request to start a workout session (dictionary)
//   r  a transferred catalogue file
//   s  a transferred full-snapshot file
//   d  mirrored health-session data
//   k  the phone acknowledges the oldest pending outbox message; the body is the status
//   f  the oldest background transfer finishes, failed when the body is not empty
//   n  the phone becomes reachable (empty body) or unreachable
//   a  a line on the control channel (the user)
//   x  the program restarts over what it stored
//   t  virtual time moves on by the body's decimal seconds (at most ten minutes)
// After each chunk the pending work runs and a second of virtual time passes, so that timers fire.
// An input without a separator goes, whole, through each of the first doors: the catalogue file
// at start, a message, and both kinds of transferred file.
//
// Whatever arrives: nothing crashes, every reply handler is called exactly once with a property
// list, the work settles, the catalogue holds only usable entries and the control channel can
// still report the whole state as JSON. WRISTSIDE_FUZZ_VERBOSE=1 prints the watch's log and the
// control channel's answers after each input, to check what a seed reaches.
#include "app/headless_control.hpp"
#include "app/watch_core.hpp"
#include "platform/exec/manual_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/log/log.hpp"
#include "platform/store/memory_key_value_store.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"
#include "support/fake_session.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using platform::Dictionary;
using platform::Value;
using namespace std::chrono_literals;

constexpr std::string_view separator = "\n--\n";
constexpr platform::Duration stepAfterChunk = 1s;
// Long enough for any rest to run out; a running health session reports every second.
constexpr platform::Duration longestStep = 10min;
// Far more tasks than a long session needs; past it the run stops early instead of looping.
constexpr std::size_t taskBudget = 20000;
// Tasks that keep posting work at one instant never let time move: the watch would hang.
constexpr std::size_t tasksAtOneInstant = 5000;

std::vector<std::string_view> split(std::string_view input) {
    std::vector<std::string_view> chunks;
    for (;;) {
        auto at = input.find(separator);
        chunks.push_back(input.substr(0, at));
        if (at == std::string_view::npos) {
            return chunks;
        }
        input.remove_prefix(at + separator.size());
    }
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_inbound: %s\n", what);
    __builtin_trap();
}

// What the session delivers: a dictionary read from a binary property list or from JSON (which
// is easier for the fuzzer to change without breaking), never a value the link cannot carry.
std::optional<Dictionary> dictionaryFrom(std::string_view body) {
    if (auto value = platform::decodeBinaryPlist(bytesOf(body)); value && value->dictionary()) {
        return *value->dictionary();
    }
    if (auto value = platform::parseJson(body);
        value && value->dictionary() && platform::isPropertyList(*value)) {
        return *value->dictionary();
    }
    return std::nullopt;
}

// The metadata the phone sends with a file names the revision inside it; a document without
// one goes with a revision of its own.
Dictionary fileMetadata(std::string_view kind, std::string_view body) {
    Value revision(7);
    if (auto document = platform::parseJson(body); document && document->dictionary()) {
        if (const auto* inside = document->find("revision");
            inside != nullptr && (inside->integer() != nullptr || inside->real() != nullptr)) {
            revision = *inside;
        }
    }
    return Dictionary{{"syncPayloadKind", Value(kind)},
                      {"syncProtocolVersion", Value(2)},
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

    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    void enter(char door, std::string_view body) {
        switch (door) {
        case 'm':
            if (auto message = dictionaryFrom(body)) {
                receiveMessage(std::move(*message));
            }
            break;
        case 'u':
            if (auto userInfo = dictionaryFrom(body)) {
                deliver([userInfo = std::move(*userInfo)](platform::SessionDelegate& delegate) {
                    delegate.didReceiveUserInfo(userInfo);
                });
            }
            break;
        case 'c':
            if (auto context = dictionaryFrom(body)) {
                deliver([context = std::move(*context)](platform::SessionDelegate& delegate) {
                    delegate.didReceiveApplicationContext(context);
                });
            }
            break;
        case 'w':
            if (auto configuration = dictionaryFrom(body)) {
                deliver([configuration =
                             std::move(*configuration)](platform::SessionDelegate& delegate) {
                    delegate.didReceiveStartWorkout(configuration);
                });
            }
            break;
        case 'r':
            receiveFile("reference_exercises", body);
            break;
        case 's':
            receiveFile("full_snapshot", body);
            break;
        case 'd':
            deliver(
                [data = platform::Data(bytesOf(body).begin(), bytesOf(body).end())](
                    platform::SessionDelegate& delegate) { delegate.didReceiveWorkoutData(data); });
            break;
        case 'k':
            acknowledgeOldest(body);
            break;
        case 'f':
            finishOldestTransfer(!body.empty());
            break;
        case 'n':
            session_.reachable = body.empty();
            deliver([reachable = body.empty()](platform::SessionDelegate& delegate) {
                delegate.reachabilityDidChange(reachable);
            });
            break;
        case 'a':
            control_->handleLine(body);
            break;
        case 'x':
            restart();
            break;
        case 't':
            settle(secondsIn(body));
            return;
        default:
            return;
        }
        settle(stepAfterChunk);
        checkReplies();
    }

    // What the watch has left to do at once, then what the user would be shown.
    void finish() {
        settle(stepAfterChunk);
        checkReplies();
        for (const auto& entry : core_->data().referenceExercises.get()) {
            if (!entry || entry->id.empty() || entry->name.empty()) {
                fail("an unusable catalogue entry was kept");
            }
        }
        const auto asked = answers_.size();
        control_->handleLine(R"({"action":"state"})");
        if (answers_.size() != asked + 1) {
            fail("the state action did not answer exactly once");
        }
        auto answer = platform::parseJson(answers_.back());
        if (!answer || answer->find("reply") == nullptr ||
            answer->find("reply")->string() == nullptr ||
            *answer->find("reply")->string() != "state") {
            fail("the state answer is not a JSON state reply");
        }
        if (std::getenv("WRISTSIDE_FUZZ_VERBOSE") != nullptr) {
            for (const auto& line : log_.lines()) {
                std::fprintf(stderr, "log: %s\n", line.c_str());
            }
            for (const auto& line : answers_) {
                std::fprintf(stderr, "control: %s\n", line.c_str());
            }
        }
    }

    bool stuck() const { return stuck_; }

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
            [this](std::string_view line) { answers_.emplace_back(line); }, [] {}});
        // The real session reports its activation shortly after activate().
        deliver([](platform::SessionDelegate& delegate) {
            delegate.activationDidComplete(platform::ActivationState::activated, std::nullopt);
        });
        settle(stepAfterChunk);
    }

    // The program ends between two tasks and starts again over what it stored.
    void restart() {
        control_.reset();
        core_.reset();
        start();
    }

    template <class F> void deliver(F call) {
        callbacks_->async([this, call = std::move(call)] {
            if (session_.delegate != nullptr) {
                call(*session_.delegate);
            }
        });
    }

    void receiveMessage(Dictionary message) {
        auto count = std::make_shared<int>(0);
        replies_.push_back(count);
        deliver([message = std::move(message), count](platform::SessionDelegate& delegate) {
            delegate.didReceiveMessage(message, platform::ReplyHandler([count](Dictionary reply) {
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
                 metadata = fileMetadata(kind, body)](platform::SessionDelegate& delegate) {
            files_.writeAtomically(path, bytesOf(contents));
            delegate.didReceiveFile(platform::ReceivedFile{path, metadata});
            files_.remove(path);
        });
    }

    void acknowledgeOldest(std::string_view status) {
        auto pending = core_->outbox().pendingMessages();
        if (pending.empty()) {
            return;
        }
        Dictionary ack{{"syncAck", Value(pending.front().id)}};
        if (!status.empty()) {
            ack.insert_or_assign("status", Value(std::string(status)));
        }
        receiveMessage(std::move(ack));
    }

    void finishOldestTransfer(bool failed) {
        if (finishedTransfers_ >= session_.transfers.size()) {
            return;
        }
        const auto& userInfo = session_.transfers[finishedTransfers_++];
        deliver([transfer = platform::UserInfoTransfer{"transfer", userInfo},
                 failed](platform::SessionDelegate& delegate) {
            std::optional<platform::SessionError> error;
            if (failed) {
                error = platform::SessionError{platform::SessionError::Code::notReachable,
                                               "transfer failed"};
            }
            delegate.didFinishUserInfoTransfer(transfer, error);
        });
    }

    static platform::Duration secondsIn(std::string_view body) {
        unsigned seconds = 0;
        std::from_chars(body.data(), body.data() + std::min<std::size_t>(body.size(), 5), seconds);
        return std::min<platform::Duration>(std::chrono::seconds(seconds), longestStep);
    }

    // Runs the work due within `span` of virtual time one task at a time, so that one input
    // cannot run forever.
    void settle(platform::Duration span) {
        if (stuck_) {
            return;
        }
        const auto until = executor_.now() + span;
        auto instant = executor_.now();
        std::size_t sameInstant = 0;
        for (;;) {
            auto due = executor_.nextDueTime();
            if (!due || *due > until) {
                executor_.advanceTo(until);
                return;
            }
            if (++tasksRun_ > taskBudget) {
                stuck_ = true;
                return;
            }
            executor_.runNext();
            if (executor_.now() != instant) {
                instant = executor_.now();
                sameInstant = 0;
            } else if (++sameInstant > tasksAtOneInstant) {
                fail("work that keeps posting work without time moving on");
            }
        }
    }

    void checkReplies() const {
        if (stuck_) {
            return;
        }
        for (const auto& count : replies_) {
            if (*count != 1) {
                fail("a reply handler was not called exactly once");
            }
        }
    }

    platform::ManualExecutor executor_;
    platform::MemoryKeyValueStore defaults_;
    // Where the notification center keeps its requests across restarts.
    platform::MemoryKeyValueStore platformStore_;
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
    bool stuck_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto chunks = split(std::string_view(reinterpret_cast<const char*>(data), size));
    Watch watch(chunks.front());
    if (chunks.size() == 1) {
        for (char door : {'m', 'r', 's'}) {
            watch.enter(door, chunks.front());
        }
    }
    for (std::size_t i = 1; i < chunks.size() && !watch.stuck(); ++i) {
        if (!chunks[i].empty()) {
            watch.enter(chunks[i].front(), chunks[i].substr(1));
        }
    }
    if (!watch.stuck()) {
        watch.finish();
    }
    return 0;
}
