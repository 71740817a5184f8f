#include "phone/phone_app.hpp"
#include "phone/fields.hpp"

#include "platform/health/statistics_archive.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/iso8601.hpp"
#include "platform/values/json.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>
#include <utility>

namespace phone {

namespace {

constexpr std::string_view prefix = "phone-sim: ";
constexpr std::string_view byLiveMessage = "live message";
constexpr std::string_view byTransfer = "transfer";

std::string json(const platform::Dictionary& dictionary) {
    return platform::toJsonText(platform::Value(dictionary));
}

std::string inQuotes(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// A short name for what phone-sim sent, for the lines about its fate.
std::string describeOutgoing(const platform::Dictionary& message) {
    if (const auto* syncId = stringAt(message, "syncAck")) {
        return "acknowledgement of syncId " + *syncId;
    }
    if (auto revision = message.find("syncRevision"); revision != message.end()) {
        return "snapshot revision " + platform::describe(revision->second);
    }
    return json(message);
}

std::string formatTime(platform::TimePoint time) {
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    return platform::formatInternetDateTime(
        platform::Date::fromUnixMillis(static_cast<double>(millis)));
}

std::string revisionText(double revision) {
    return std::to_string(static_cast<std::int64_t>(revision));
}

std::size_t exerciseCount(const platform::Dictionary& snapshot) {
    auto exercises = snapshot.find("exercises");
    if (exercises == snapshot.end() || exercises->second.array() == nullptr) {
        return 0;
    }
    return exercises->second.array()->size();
}

platform::Dictionary planWorkout(const TrainingPlan& plan, std::size_t index) {
    const auto* workout =
        index < plan.workouts.size() ? plan.workouts[index].dictionary() : nullptr;
    return workout != nullptr ? *workout : platform::Dictionary{};
}

std::string workoutName(const TrainingPlan& plan, std::size_t index) {
    const auto* name = index < plan.workouts.size() ? plan.workouts[index].find("name") : nullptr;
    return name != nullptr && name->string() != nullptr ? *name->string() : "(unnamed)";
}

// Runs `task` on `main` unless the app is gone by then; safe from any thread.
void post(platform::Queue& main, std::weak_ptr<PhoneApp*> app,
          std::function<void(PhoneApp&)> task) {
    main.async([app = std::move(app), task = std::move(task)] {
        if (auto alive = app.lock()) {
            task(**alive);
        }
    });
}

} // namespace

// Runs on the session's callback queue: everything it hears goes to main.
class PhoneApp::Delegate final : public platform::SessionDelegate {
public:
    Delegate(platform::Queue& main, std::weak_ptr<PhoneApp*> app) : main_(main), app_(app) {}

    void activationDidComplete(platform::ActivationState state,
                               std::optional<platform::SessionError> error) override {
        post([state, error](PhoneApp& app) {
            if (error) {
                app.say("session activation failed: " + error->description);
            } else if (state == platform::ActivationState::activated) {
                app.say("session activated; waiting for the watch");
            } else {
                app.say("session not activated");
            }
        });
    }

    void reachabilityDidChange(bool reachable) override {
        post([reachable](PhoneApp& app) {
            app.say(reachable ? "watch connected: it is reachable"
                              : "watch not reachable any more");
        });
    }

    void didReceiveMessage(const platform::Dictionary& message,
                           std::optional<platform::ReplyHandler> reply) override {
        post([message, reply](PhoneApp& app) {
            app.handleIncoming(message, reply ? "live message (answered Success)" : byLiveMessage);
            if (reply) {
                (*reply)(platform::Dictionary{{"status", "Success"}});
            }
        });
    }

    void didReceiveUserInfo(const platform::Dictionary& userInfo) override {
        post([userInfo](PhoneApp& app) { app.handleIncoming(userInfo, byTransfer); });
    }

    void didReceiveApplicationContext(const platform::Dictionary& context) override {
        post([context](PhoneApp& app) {
            app.say("received the watch's application context " + json(context));
        });
    }

    void didFinishUserInfoTransfer(const platform::UserInfoTransfer& transfer,
                                   std::optional<platform::SessionError> error) override {
        post([transfer, error](PhoneApp& app) {
            auto what = "transfer " + transfer.transferId + " (" +
                        describeOutgoing(transfer.userInfo) + ")";
            app.say(error ? what + " failed: " + error->description : what + " delivered");
        });
    }

    void didReceiveFile(const platform::ReceivedFile& file) override {
        // The file is gone once this returns.
        std::error_code ignored;
        auto size = std::filesystem::file_size(file.path, ignored);
        post([metadata = file.metadata, size, failed = bool(ignored)](PhoneApp& app) {
            app.say("received a file " + json(metadata) +
                    (failed ? " (unreadable)" : " (" + std::to_string(size) + " bytes)"));
        });
    }

    void didFinishFileTransfer(const platform::FileTransfer& transfer,
                               std::optional<platform::SessionError> error) override {
        post([transfer, error](PhoneApp& app) {
            auto what = "file transfer " + transfer.transferId;
            app.say(error ? what + " failed: " + error->description : what + " delivered");
        });
    }

    void didReceiveWorkoutData(const platform::Data& data) override {
        post([data](PhoneApp& app) { app.showWorkoutData(data); });
    }

private:
    void post(std::function<void(PhoneApp&)> task) { phone::post(main_, app_, std::move(task)); }

    platform::Queue& main_;
    std::weak_ptr<PhoneApp*> app_;
};

std::unique_ptr<PhoneApp> PhoneApp::open(PhoneAppServices services, TrainingPlan plan,
                                         std::string* error) {
    std::error_code failure;
    std::filesystem::create_directories(services.dataDirectory, failure);
    if (failure) {
        if (error != nullptr) {
            *error = "cannot create " + services.dataDirectory.string() + ": " + failure.message();
        }
        return nullptr;
    }
    auto logbook = Logbook::open(services.dataDirectory / logbookFileName, error);
    if (!logbook) {
        return nullptr;
    }
    return std::make_unique<PhoneApp>(services, std::move(plan), std::move(logbook));
}

PhoneApp::PhoneApp(PhoneAppServices services, TrainingPlan plan, std::unique_ptr<Logbook> logbook)
    : executor_(services.executor), session_(services.session), log_(services.log),
      controls_(services.controls), plan_(std::move(plan)), logbook_(std::move(logbook)),
      feed_(planWorkout(plan_, 0)),
      commands_([this] { return takeCommandNumber(); },
                [this](const PhoneCommand& command) { deliverCommand(command); }),
      catalogue_(plan_.referenceExercises), self_(std::make_shared<PhoneApp*>(this)) {
    delegate_ = std::make_shared<Delegate>(executor_.main(), self_);
    replayLogbook();
}

PhoneApp::~PhoneApp() {
    session_.setDelegate(nullptr);
}

void PhoneApp::start() {
    session_.setDelegate(delegate_.get());
    session_.activate();
}

std::shared_ptr<platform::SessionDelegate> PhoneApp::sessionDelegate() const {
    return delegate_;
}

void PhoneApp::say(std::string_view text) {
    std::string line(prefix);
    line += text;
    log_.line(line);
}

platform::ErrorHandler PhoneApp::transferOnFailure(platform::Dictionary message, std::string what) {
    return [onMain = onMain(), message = std::move(message),
            what = std::move(what)](platform::SessionError error) {
        onMain([message, what, error](PhoneApp& app) {
            auto transfer = app.session_.transferUserInfo(message);
            app.say("live message with the " + what + " failed (" + error.description +
                    "): sent it again as transfer " + transfer.transferId);
        });
    };
}

std::function<void(std::function<void(PhoneApp&)>)> PhoneApp::onMain() {
    return [&main = executor_.main(), app = std::weak_ptr(self_)](auto task) {
        post(main, app, std::move(task));
    };
}

void PhoneApp::handleIncoming(const platform::Dictionary& message, std::string_view channel) {
    const auto* typeText = stringAt(message, "type");
    std::string type = typeText != nullptr ? *typeText : "";
    std::string shownType = type.empty() ? "a message without a type" : type;
    const auto* syncId = stringAt(message, "syncId");
    bool counts = true;
    bool changed = false;
    if (syncId == nullptr) {
        say("received " + shownType + " by " + std::string(channel) +
            ", no syncId: " + json(message));
    } else {
        std::string error;
        auto recorded =
            logbook_->record(*syncId, type, json(message), executor_.clock().now(), &error);
        if (!recorded) {
            say("received " + shownType + " (syncId " + *syncId + ") by " + std::string(channel) +
                " but cannot record it: " + error);
            counts = false;
        } else if (recorded->repeat) {
            say("repeat of syncId " + *syncId + " (" + shownType + ", by " + std::string(channel) +
                "), recorded before as #" + std::to_string(recorded->number) +
                (ackStatus_ ? " — acknowledged again" : " — not acknowledged (ack none)"));
            counts = false;
        } else {
            say("received " + shownType + " (syncId " + *syncId + ") by " + std::string(channel) +
                " — recorded #" + std::to_string(recorded->number));
            changed = applyWatchEventToPlan(plan_, currentWorkout_, feed_, timer_, message);
        }
        auto answer = recorded ? ackStatus_ : std::optional<std::string>("Retry");
        // A lifecycle event takes effect once the phone accepts it, whichever copy that is.
        if (auto event = readLifecycleEvent(message);
            event && answer == "Success" && !logbook_->wasApplied(*syncId)) {
            if (auto instead = answerLifecycle(*event, *syncId)) {
                answer = instead;
            }
        }
        if (type == "refresh_data") {
            // The watch asks because its copy is gone or was refused: no delta can build on it.
            feed_.forgetConfirmation();
            sendSnapshot(true);
        }
        // What could not be recorded must come again.
        acknowledge(*syncId, answer);
        auto& answered = answered_[*syncId];
        ++answered.copies;
        answered.refused += answer == "Success" ? 0 : 1;
        answered.delivered = answered.delivered || answer == "Success";
        // The watch's copy may have been overwritten by a state sent before this event arrived.
        if (changed) {
            sendDelta("watch's " + type);
        }
    }
    if (syncId == nullptr && type == "refresh_data") {
        feed_.forgetConfirmation();
        sendSnapshot(true);
    }
    if (counts) {
        ++arrivals_[type];
        if (arrivalListener_) {
            arrivalListener_(type);
        }
    }
    if (syncId != nullptr) {
        workoutMayHaveChanged();
    }
}

void PhoneApp::workoutMayHaveChanged() {
    if (workoutListener_) {
        workoutListener_();
    }
}

void PhoneApp::acknowledge(const std::string& syncId, const std::optional<std::string>& status) {
    if (!status) {
        say("left syncId " + syncId + " unanswered (ack none)");
        return;
    }
    auto channel = deliver(platform::Dictionary{{"syncAck", syncId}, {"status", *status}},
                           "acknowledgement of syncId " + syncId);
    say("acknowledged syncId " + syncId + " with " + *status + " by " + std::string(channel));
}

std::string_view PhoneApp::deliver(const platform::Dictionary& message, std::string what) {
    if (reachable_ && session_.isReachable()) {
        session_.sendMessage(message, std::nullopt, transferOnFailure(message, std::move(what)));
        return byLiveMessage;
    }
    session_.transferUserInfo(message);
    return byTransfer;
}

void PhoneApp::sendMessage(const platform::Dictionary& message) {
    if (!session_.isReachable()) {
        say("cannot send a live message: the watch is not reachable");
        return;
    }
    session_.sendMessage(message, std::nullopt, [onMain = onMain()](platform::SessionError error) {
        onMain([error](PhoneApp& app) { app.say("live message failed: " + error.description); });
    });
    say("sent live message " + json(message));
}

void PhoneApp::sendRequest(const platform::Dictionary& message) {
    if (!session_.isReachable()) {
        say("cannot send a request: the watch is not reachable");
        return;
    }
    auto number = std::to_string(nextRequest_++);
    session_.sendMessage(
        message, platform::ReplyHandler([onMain = onMain(), number](platform::Dictionary reply) {
            onMain([number, reply](PhoneApp& app) {
                app.say("reply to request #" + number + ": " + json(reply));
            });
        }),
        [onMain = onMain(), number](platform::SessionError error) {
            onMain([number, error](PhoneApp& app) {
                app.say("request #" + number + " failed: " + error.description);
            });
        });
    say("sent request #" + number + " " + json(message) + "; waiting for its reply");
}

void PhoneApp::transferUserInfo(const platform::Dictionary& userInfo) {
    auto transfer = session_.transferUserInfo(userInfo);
    say("queued transfer " + transfer.transferId + " " + json(userInfo));
}

void PhoneApp::updateApplicationContext(const platform::Dictionary& context) {
    if (auto error = session_.updateApplicationContext(context)) {
        say("cannot update the application context: " + error->description);
        return;
    }
    say("updated the application context to " + json(context));
}

void PhoneApp::transferFile(const platform::Data& contents, const platform::Dictionary& metadata) {
    auto transfer = session_.transferFile(contents, metadata);
    say("queued file transfer " + transfer.transferId + " " + json(metadata) + " (" +
        std::to_string(contents.size()) + " bytes)");
}

void PhoneApp::startWorkout(const platform::Dictionary& configuration) {
    session_.startWorkout(configuration);
    say("asked the watch to start a workout session " + json(configuration));
}

void PhoneApp::setAckStatus(std::optional<std::string> status) {
    ackStatus_ = std::move(status);
    say(ackStatus_ ? "outbox messages are acknowledged with " + *ackStatus_ + " from now on"
                   : std::string("outbox messages go unanswered from now on"));
}

bool PhoneApp::setFailTransfers(bool on) {
    if (controls_ == nullptr ||
        !controls_->setTransferFailure(on ? std::optional<std::string>(transferFailureText)
                                          : std::nullopt)) {
        say("cannot change fail-transfers: this link cannot make the phone's platform fail a "
            "transfer");
        return false;
    }
    failTransfers_ = on;
    say(on ? "the watch's transfers are refused with \"" + std::string(transferFailureText) +
                 "\" from now on"
           : std::string("the watch's transfers are delivered again"));
    return true;
}

bool PhoneApp::setReachable(bool reachable) {
    if (controls_ == nullptr) {
        say("cannot change reachability: this link has no such control");
        return false;
    }
    controls_->setReachable(reachable);
    reachable_ = reachable;
    say(reachable ? "the phone application is reachable now"
                  : "the phone application is not reachable now");
    return true;
}

bool PhoneApp::selectWorkout(std::size_t index) {
    if (index >= plan_.workouts.size()) {
        say("there is no workout " + std::to_string(index) + ": the plan has " +
            std::to_string(plan_.workouts.size()) + " (0 is the first)");
        return false;
    }
    // Edits made to the workout so far stay in the plan.
    PlanPosition{plan_, currentWorkout_, feed_}.select(index);
    say("the current workout is " + std::to_string(index) + ", " +
        inQuotes(workoutName(plan_, index)));
    workoutMayHaveChanged();
    return true;
}

std::optional<double> PhoneApp::nextRevision(std::string_view purpose) {
    if (currentWorkout_ >= plan_.workouts.size()) {
        say("cannot send " + std::string(purpose) + ": the plan has no workouts");
        return std::nullopt;
    }
    std::string error;
    auto revision = logbook_->takeNextRevision(&error);
    if (!revision) {
        say("cannot send " + std::string(purpose) + ": " + error);
        return std::nullopt;
    }
    return static_cast<double>(*revision);
}

platform::Array PhoneApp::availableWorkouts() const {
    return offeredWorkouts(plan_, currentWorkout_, feed_, withdrawn_);
}

platform::Dictionary PhoneApp::withPhoneState(platform::Dictionary snapshot, double revision,
                                              bool catalogues) const {
    if (timer_.known()) {
        snapshot.insert_or_assign("restTimerData", timer_.restTimerData());
    }
    if (catalogues) {
        snapshot.insert_or_assign("weight_plates", plan_.weightPlates);
        snapshot.insert_or_assign("weightPlatesRevision", revision);
        snapshot.insert_or_assign("availableWorkouts", availableWorkouts());
        snapshot.insert_or_assign("availableWorkoutsRevision", revision);
        // Under the revision the watch may already have: it takes the catalogue only when it
        // has lost it.
        if (auto catalogue = catalogueRevision(); catalogue > 0) {
            auto whole = catalogue_.whole(static_cast<double>(catalogue));
            snapshot.insert(whole.begin(), whole.end());
        }
    }
    return snapshot;
}

bool PhoneApp::sendSnapshot(bool withCatalogues) {
    auto revision = nextRevision("a snapshot");
    if (!revision) {
        return false;
    }
    if (withCatalogues && catalogueRevision() == 0 && !catalogue_.entries().empty()) {
        // The catalogue's first revision; a failure to store it leaves the catalogue out.
        logbook_->takeNext(catalogueCounter);
    }
    auto snapshot = withPhoneState(feed_.snapshot(*revision), *revision, withCatalogues);
    auto count = exerciseCount(snapshot);
    deliverWorkoutState(snapshot, *revision,
                        "snapshot revision " + revisionText(*revision) + " of " +
                            inQuotes(workoutName(plan_, currentWorkout_)) + " (" +
                            std::to_string(count) + " exercises)");
    workoutMayHaveChanged();
    return true;
}

bool PhoneApp::sendSnapshotFile() {
    auto revision = nextRevision("a snapshot file");
    if (!revision) {
        return false;
    }
    auto file = feed_.snapshotFile(*revision);
    transferFile(file.contents, file.metadata);
    return true;
}

bool PhoneApp::sendDelta(std::string_view edit, bool withTimer) {
    // The edit is made whether or not it can be sent.
    workoutMayHaveChanged();
    auto revision = nextRevision("the " + std::string(edit));
    if (!revision) {
        return false;
    }
    auto delta = feed_.delta(*revision);
    if (!delta) {
        auto snapshot = feed_.snapshot(*revision);
        if (withTimer) {
            snapshot = withPhoneState(std::move(snapshot), *revision, false);
        }
        deliverWorkoutState(snapshot, *revision,
                            "snapshot revision " + revisionText(*revision) + " after the " +
                                std::string(edit) + " (nothing confirmed to build a delta on)");
        return true;
    }
    if (withTimer && timer_.known()) {
        delta->insert_or_assign("restTimerData", timer_.restTimerData());
    }
    deliverWorkoutState(*delta, *revision,
                        "delta revision " + revisionText(*revision) + " (" + std::string(edit) +
                            ")");
    return true;
}

void PhoneApp::deliverWorkoutState(const platform::Dictionary& message, double revision,
                                   std::string what) {
    auto encoded = platform::encodeBinaryPlist(platform::Value(message));
    if (!encoded || encoded->size() > largestMessage) {
        auto file = feed_.snapshotFile(revision);
        transferFile(file.contents, file.metadata);
        say("sent revision " + revisionText(revision) + " as a full snapshot file: " + what +
            " is too large for a message");
        return;
    }
    if (!reachable_ || !session_.isReachable()) {
        auto transfer = session_.transferUserInfo(message);
        say("sent " + what + " by transfer " + transfer.transferId);
        return;
    }
    session_.sendMessage(
        message, platform::ReplyHandler([onMain = onMain(), revision](platform::Dictionary reply) {
            onMain([revision, reply](PhoneApp& app) {
                const auto* status = stringAt(reply, "status");
                if (status != nullptr && *status == "Success") {
                    app.feed_.confirm(revision);
                }
            });
        }),
        transferOnFailure(message, what));
    say("sent " + what + " by live message");
    // A lost message or a lost answer leaves the watch's state unknown; only the newest state
    // is worth sending again.
    executor_.main().asyncAfter(confirmationTimeout, [app = std::weak_ptr(self_), revision] {
        auto alive = app.lock();
        if (!alive) {
            return;
        }
        auto& self = **alive;
        auto confirmed = self.feed_.confirmedRevision();
        if ((confirmed && *confirmed >= revision) ||
            static_cast<double>(self.revision()) != revision) {
            return;
        }
        auto next = self.nextRevision("a snapshot");
        if (!next) {
            return;
        }
        auto transfer = self.session_.transferUserInfo(self.feed_.snapshot(*next));
        self.say("no answer to revision " + revisionText(revision) + ": sent snapshot revision " +
                 revisionText(*next) + " by transfer " + transfer.transferId);
    });
}

bool PhoneApp::updateExercise(const std::string& id, const platform::Dictionary& fields) {
    if (!feed_.updateExercise(id, fields)) {
        say("cannot change exercise " + inQuotes(id) + ": the workout has no such exercise");
        return false;
    }
    return sendDelta("change of exercise " + id);
}

bool PhoneApp::addExercise(const platform::Dictionary& exercise) {
    if (!feed_.addExercise(exercise)) {
        say("cannot add the exercise: it needs a string \"id\" that the workout does not have yet");
        return false;
    }
    return sendDelta("new exercise");
}

bool PhoneApp::removeExercise(const std::string& id) {
    if (!feed_.removeExercise(id)) {
        say("cannot remove exercise " + inQuotes(id) + ": the workout has no such exercise");
        return false;
    }
    return sendDelta("removal of exercise " + id);
}

bool PhoneApp::reorderExercises(const std::vector<std::string>& order) {
    if (!feed_.reorder(order)) {
        say("cannot reorder: the order must name every exercise of the workout once");
        return false;
    }
    return sendDelta("new order");
}

bool PhoneApp::setWorkoutStatus(const std::string& status) {
    if (!feed_.setStatus(status)) {
        say("cannot set an empty workout status");
        return false;
    }
    if (status == "IN_PROGRESS" && !feed_.workout().contains("dateStarted")) {
        auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
            executor_.clock().now().time_since_epoch());
        feed_.setDateStarted(static_cast<double>(now.count()));
    }
    // The header travels only in snapshots.
    return sendSnapshot();
}

void PhoneApp::showWorkoutData(const platform::Data& data) {
    auto statistics = platform::decodeStatisticsArchive(data);
    if (!statistics) {
        say("received workout data that is not a statistics archive (" +
            std::to_string(data.size()) + " bytes)");
        return;
    }
    std::string text;
    for (const auto& item : *statistics) {
        if (item.quantityType == platform::HealthType::heartRate && item.mostRecentQuantity) {
            if (auto bpm =
                    item.mostRecentQuantity->doubleValue(platform::HealthUnit::countPerMinute)) {
                lastHeartRate_ = *bpm;
                text += " heart rate " + std::to_string(static_cast<long>(*bpm + 0.5)) + " bpm";
            }
        } else if (item.quantityType == platform::HealthType::activeEnergyBurned &&
                   item.sumQuantity) {
            if (auto kcal = item.sumQuantity->doubleValue(platform::HealthUnit::kilocalorie)) {
                totalEnergyBurned_ = *kcal;
                text += " energy " + std::to_string(static_cast<long>(*kcal + 0.5)) + " kcal";
            }
        }
    }
    if (!text.empty()) {
        say("workout on the watch:" + text);
    }
}

void PhoneApp::sendTimerCorrection(const PhoneTimer& before, std::string what) {
    platform::Dictionary message{{"restTimerData", timer_.restTimerData()},
                                 {"timerCorrectionForRevision", before.revision},
                                 {"timerCorrectionForStartTime", before.startMs}};
    if (before.id) {
        message.insert_or_assign("timerCorrectionForId", *before.id);
    }
    commands_.issue(std::move(message), std::move(what));
}

bool PhoneApp::correctTimer(double seconds) {
    if (!timer_.running || !std::isfinite(seconds) || seconds < 0) {
        say("cannot correct the timer: " + std::string(timer_.running
                                                           ? "the seconds must be 0 or more"
                                                           : "the phone knows no running timer"));
        return false;
    }
    auto before = timer_;
    timer_.seconds = seconds;
    ++timer_.revision;
    sendTimerCorrection(before, "timer correction to " +
                                    std::to_string(static_cast<long>(seconds)) + " s (revision " +
                                    std::to_string(timer_.revision) + ")");
    return true;
}

bool PhoneApp::stopTimer() {
    if (!timer_.running) {
        say("cannot stop the timer: the phone knows no running timer");
        return false;
    }
    auto before = timer_;
    timer_.running = false;
    ++timer_.revision;
    sendTimerCorrection(before, "timer stop (revision " + std::to_string(timer_.revision) + ")");
    return true;
}

bool PhoneApp::sendCatalogues() {
    auto revision = nextRevision("the plates and available workouts");
    if (!revision) {
        return false;
    }
    auto workouts = availableWorkouts();
    auto count = workouts.size();
    deliver(platform::Dictionary{{"weight_plates", plan_.weightPlates},
                                 {"weightPlatesRevision", *revision},
                                 {"availableWorkouts", std::move(workouts)},
                                 {"availableWorkoutsRevision", *revision}},
            "catalogues");
    say("sent " + std::to_string(plan_.weightPlates.size()) + " plates and " +
        std::to_string(count) + " available workouts, revision " + revisionText(*revision));
    return true;
}

bool PhoneApp::updatePlate(const platform::Dictionary& plate) {
    const auto* id = stringAt(plate, "id");
    if (id == nullptr || id->empty()) {
        say("cannot update a plate without a string \"id\"");
        return false;
    }
    auto revision = nextRevision("the plate");
    if (!revision) {
        return false;
    }
    auto& plates = plan_.weightPlates;
    auto found = std::find_if(plates.begin(), plates.end(), [&](const platform::Value& p) {
        const auto* own = p.find("id");
        return own != nullptr && own->string() != nullptr && *own->string() == *id;
    });
    if (found != plates.end()) {
        *found = plate;
    } else {
        plates.push_back(plate);
    }
    deliver(platform::Dictionary{{"weightPlateUpdates", platform::Array{plate}},
                                 {"weightPlatesRevision", *revision}},
            "plate update");
    say("sent plate " + *id + " as a delta, revision " + revisionText(*revision));
    return true;
}

bool PhoneApp::removePlate(const std::string& id) {
    auto& plates = plan_.weightPlates;
    auto removed = std::erase_if(plates, [&](const platform::Value& p) {
        const auto* own = p.find("id");
        return own != nullptr && own->string() != nullptr && *own->string() == id;
    });
    if (removed == 0) {
        say("cannot remove plate " + inQuotes(id) + ": the inventory has no such plate");
        return false;
    }
    auto revision = nextRevision("the plate removal");
    if (!revision) {
        return false;
    }
    deliver(platform::Dictionary{{"removedWeightPlateIds", platform::Array{id}},
                                 {"weightPlatesRevision", *revision}},
            "plate removal");
    say("sent the removal of plate " + id + " as a delta, revision " + revisionText(*revision));
    return true;
}

bool PhoneApp::retireWorkout(const std::string& id) {
    auto found = std::find_if(
        plan_.workouts.begin(), plan_.workouts.end(), [&](const platform::Value& workout) {
            const auto* own = workout.find("id");
            return own != nullptr && own->string() != nullptr && *own->string() == id;
        });
    if (found == plan_.workouts.end()) {
        say("cannot retire workout " + inQuotes(id) + ": the plan has no such workout");
        return false;
    }
    auto revision = nextRevision("the available workouts");
    if (!revision) {
        return false;
    }
    auto index = static_cast<std::size_t>(found - plan_.workouts.begin());
    withdrawn_.insert(id);
    if (index == currentWorkout_) {
        feed_.setStatus("COMPLETE");
    } else if (auto* workout = found->get<platform::Dictionary>()) {
        workout->insert_or_assign("status", "COMPLETE");
    }
    deliver(platform::Dictionary{{"removedAvailableWorkoutIds", platform::Array{id}},
                                 {"availableWorkoutsRevision", *revision}},
            "available workouts");
    say("workout " + id + " is done: sent its removal from the available workouts, revision " +
        revisionText(*revision));
    workoutMayHaveChanged();
    return true;
}

void PhoneApp::replayLogbook() {
    std::size_t applied = 0;
    for (const auto& entry : logbook_->entries()) {
        auto message = platform::parseJson(entry.messageJson);
        if (!message || message->dictionary() == nullptr) {
            continue;
        }
        // The set events that follow a start belong to the workout it started.
        if (auto event = readLifecycleEvent(*message->dictionary())) {
            if (logbook_->wasApplied(entry.syncId) && applyLifecycle(*event)) {
                ++applied;
            }
        } else if (applyWatchEventToPlan(plan_, currentWorkout_, feed_, timer_,
                                         *message->dictionary())) {
            ++applied;
        }
    }
    if (applied > 0) {
        say("the logbook's " + std::to_string(applied) + " workout events are applied again");
    }
}

void PhoneApp::printLogbook() {
    auto entries = logbook_->entries();
    say("logbook " + logbook_->file().string() + ": " + std::to_string(entries.size()) +
        (entries.size() == 1 ? " entry" : " entries"));
    for (const auto& entry : entries) {
        say("  #" + std::to_string(entry.number) + " " + formatTime(entry.arrivedAt) + " " +
            (entry.type.empty() ? "(no type)" : entry.type) + " syncId " + entry.syncId + " " +
            entry.messageJson);
    }
    for (const auto& finished : logbook_->finishedWorkouts()) {
        say("  finished workout " + finished.workoutId + " (syncId " + finished.syncId + ") " +
            finished.workoutJson);
    }
}

void PhoneApp::printStatus() {
    std::string session;
    if (session_.activationState() != platform::ActivationState::activated) {
        session = "session not activated";
    } else {
        session = session_.isReachable() ? "watch reachable" : "watch not reachable";
    }
    say("status: " + session + ", phone application " +
        (reachable_ ? "reachable" : "not reachable") + ", acks " +
        (ackStatus_ ? *ackStatus_ : "none") + ", transfers " +
        (failTransfers_ ? "refused" : "accepted") + ", current workout " +
        std::to_string(currentWorkout_) + " " + inQuotes(workoutName(plan_, currentWorkout_)) +
        ", revision " + std::to_string(revision()) + ", logbook " +
        std::to_string(logbook_->entries().size()) + " entries, " +
        std::to_string(commands_.sent().size()) + " commands sent, " +
        std::to_string(commands_.held().size()) + " held");
    // The mirror of the watch's sync screen: what reached this app and how it was answered.
    std::size_t copies = 0;
    std::size_t confirmed = 0;
    std::size_t notConfirmed = 0;
    for (const auto& [syncId, answered] : answered_) {
        copies += answered.copies;
        confirmed += answered.delivered ? 1 : 0;
        notConfirmed += answered.refused;
    }
    say("status: outbox messages this run: " + std::to_string(answered_.size()) + " received (" +
        std::to_string(copies) + " copies), " + std::to_string(confirmed) + " confirmed, " +
        std::to_string(notConfirmed) + " copies answered otherwise or not at all");
    if (statusLine_) {
        say(statusLine_());
    }
}

std::vector<LogbookEntry> PhoneApp::logbookEntries() const {
    return logbook_->entries();
}

std::int64_t PhoneApp::revision() const {
    return logbook_->revision();
}

const std::filesystem::path& PhoneApp::logbookFile() const {
    return logbook_->file();
}

std::size_t PhoneApp::arrivals(std::string_view type) const {
    auto found = arrivals_.find(type);
    return found != arrivals_.end() ? found->second : 0;
}

void PhoneApp::setArrivalListener(std::function<void(const std::string& type)> listener) {
    arrivalListener_ = std::move(listener);
}

void PhoneApp::setWorkoutListener(std::function<void()> listener) {
    workoutListener_ = std::move(listener);
}

void PhoneApp::setStatusLine(std::function<std::string()> line) {
    statusLine_ = std::move(line);
}

bool PhoneApp::recorded(std::string_view syncId) const {
    return logbook_->find(syncId).has_value();
}

} // namespace phone
