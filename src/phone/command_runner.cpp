#include "phone/command_runner.hpp"

#include <chrono>
#include <cstdio>
#include <utility>

namespace phone {

namespace {

std::string secondsText(platform::Duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::chrono::duration<double>(duration).count());
    return text;
}

template <class... F> struct Overloaded : F... { using F::operator()...; };
template <class... F> Overloaded(F...) -> Overloaded<F...>;

} // namespace

CommandRunner::CommandRunner(PhoneApp& app, platform::Queue& main, platform::Log& log,
                             std::function<void()> quit)
    : app_(app), main_(main), log_(log), quit_(std::move(quit)),
      self_(std::make_shared<CommandRunner*>(this)) {
    app_.setArrivalListener([this](const std::string&) { arrived(); });
}

CommandRunner::~CommandRunner() {
    timer_.cancel();
    app_.setArrivalListener(nullptr);
}

void CommandRunner::say(std::string_view text) {
    std::string line = "phone-sim: ";
    line += text;
    log_.line(line);
}

void CommandRunner::submit(std::string line) {
    held_.emplace_back(++linesSubmitted_, std::move(line));
    runHeld();
}

void CommandRunner::endOfInput() {
    held_.emplace_back(0, std::string());
    runHeld();
}

void CommandRunner::runHeld() {
    while (!waiting_ && !held_.empty()) {
        auto [number, line] = std::move(held_.front());
        held_.pop_front();
        if (quitting_) {
            continue;
        }
        if (number == 0) {
            say("end of commands; serving the watch until quit, SIGINT or SIGTERM");
            continue;
        }
        run(number, line);
    }
    if (quitting_) {
        held_.clear();
    }
}

void CommandRunner::run(std::size_t number, const std::string& line) {
    auto parsed = parseCommand(line);
    if (!parsed.error.empty()) {
        ++failures_;
        say("line " + std::to_string(number) + ": " + parsed.error + " — nothing done");
        return;
    }
    if (parsed.command) {
        execute(number, std::move(*parsed.command));
    }
}

void CommandRunner::execute(std::size_t number, Command command) {
    std::visit(
        Overloaded{
            [&](command::Send& c) { app_.sendMessage(c.message); },
            [&](command::Request& c) { app_.sendRequest(c.message); },
            [&](command::Transfer& c) { app_.transferUserInfo(c.userInfo); },
            [&](command::Context& c) { app_.updateApplicationContext(c.context); },
            [&](command::File& c) { app_.transferFile(c.contents, c.metadata); },
            [&](command::StartWorkout& c) { app_.startWorkout(c.configuration); },
            [&](command::Ack& c) { app_.setAckStatus(std::move(c.status)); },
            [&](command::FailTransfers& c) { failures_ += app_.setFailTransfers(c.on) ? 0 : 1; },
            [&](command::Reachable& c) { failures_ += app_.setReachable(c.on) ? 0 : 1; },
            [&](command::Workout& c) { failures_ += app_.selectWorkout(c.index) ? 0 : 1; },
            [&](command::Snapshot&) { failures_ += app_.sendSnapshot() ? 0 : 1; },
            [&](command::SnapshotFile&) { failures_ += app_.sendSnapshotFile() ? 0 : 1; },
            [&](command::ExerciseChange& c) {
                failures_ += app_.updateExercise(c.id, c.fields) ? 0 : 1;
            },
            [&](command::ExerciseAdd& c) { failures_ += app_.addExercise(c.exercise) ? 0 : 1; },
            [&](command::ExerciseRemove& c) { failures_ += app_.removeExercise(c.id) ? 0 : 1; },
            [&](command::ExerciseOrder& c) { failures_ += app_.reorderExercises(c.ids) ? 0 : 1; },
            [&](command::TimerCorrect& c) { failures_ += app_.correctTimer(c.seconds) ? 0 : 1; },
            [&](command::TimerStop&) { failures_ += app_.stopTimer() ? 0 : 1; },
            [&](command::Catalogues&) { failures_ += app_.sendCatalogues() ? 0 : 1; },
            [&](command::PlateUpdate& c) { failures_ += app_.updatePlate(c.plate) ? 0 : 1; },
            [&](command::PlateRemove& c) { failures_ += app_.removePlate(c.id) ? 0 : 1; },
            [&](command::WorkoutRetire& c) { failures_ += app_.retireWorkout(c.id) ? 0 : 1; },
            [&](command::WorkoutStatus& c) {
                failures_ += app_.setWorkoutStatus(c.status) ? 0 : 1;
            },
            [&](command::Session& c) {
                failures_ += app_.sendSessionCommand(c.action, c.workoutId, c.saveToHealth) ? 0 : 1;
            },
            [&](command::HealthSync& c) { failures_ += app_.sendHealthPreference(c.on) ? 0 : 1; },
            [&](command::Hold& c) { app_.holdCommands(c.on); },
            [&](command::Release& c) { failures_ += app_.releaseCommands(c.positions) ? 0 : 1; },
            [&](command::Resend& c) { failures_ += app_.resendCommand(c.commandId) ? 0 : 1; },
            [&](command::Age& c) {
                if (c.what == command::Age::What::sequence) {
                    app_.ageNextSequence(c.value);
                } else {
                    app_.ageNextRevision(c.value);
                }
            },
            [&](command::ReferenceExercises& c) {
                failures_ += app_.sendReferenceCatalogue(c.inContext) ? 0 : 1;
            },
            [&](command::ReferenceFile&) {
                failures_ += app_.sendReferenceCatalogueFile() ? 0 : 1;
            },
            [&](command::ReferenceUpdate& c) {
                failures_ += app_.updateReferenceExercise(c.entry) ? 0 : 1;
            },
            [&](command::ReferenceRemove& c) {
                failures_ += app_.removeReferenceExercise(c.id) ? 0 : 1;
            },
            [&](command::ReferenceOrder& c) {
                failures_ += app_.reorderReferenceExercises(c.ids) ? 0 : 1;
            },
            [&](command::Wait& c) {
                waiting_ = true;
                say("waiting " + secondsText(c.duration) + " s");
                timer_ = main_.asyncAfter(c.duration, [self = std::weak_ptr(self_)] {
                    if (auto alive = self.lock()) {
                        (*alive)->finishWait();
                    }
                });
            },
            [&](command::WaitFor& c) { startWaitFor(number, c); },
            [&](command::Logbook&) { app_.printLogbook(); },
            [&](command::Status&) { app_.printStatus(); },
            [&](command::Help&) {
                say("commands:");
                std::string_view help = commandHelp();
                while (!help.empty()) {
                    auto end = help.find('\n');
                    say("  " + std::string(help.substr(0, end)));
                    help = end == help.npos ? std::string_view() : help.substr(end + 1);
                }
            },
            [&](command::Quit&) {
                say("quitting");
                quitting_ = true;
                if (quit_) {
                    quit_();
                }
            },
        },
        command);
}

void CommandRunner::startWaitFor(std::size_t number, const command::WaitFor& waitFor) {
    auto& used = consumed_[waitFor.type];
    if (app_.arrivals(waitFor.type) > used) {
        ++used;
        say(waitFor.type + " has arrived");
        return;
    }
    waiting_ = true;
    awaitedType_ = waitFor.type;
    say("waiting for " + waitFor.type + " (at most " + secondsText(waitFor.timeout) + " s)");
    timer_ = main_.asyncAfter(waitFor.timeout, [self = std::weak_ptr(self_), number, waitFor] {
        if (auto alive = self.lock()) {
            auto& runner = **alive;
            ++runner.failures_;
            runner.say("line " + std::to_string(number) + ": no " + waitFor.type +
                       " arrived within " + secondsText(waitFor.timeout) + " s — going on");
            runner.finishWait();
        }
    });
}

void CommandRunner::arrived() {
    if (!waiting_ || awaitedType_.empty()) {
        return;
    }
    auto& used = consumed_[awaitedType_];
    if (app_.arrivals(awaitedType_) > used) {
        ++used;
        say(awaitedType_ + " has arrived");
        timer_.cancel();
        // Resumed from main rather than inside the app's handling of the message.
        main_.async([self = std::weak_ptr(self_)] {
            if (auto alive = self.lock()) {
                (*alive)->finishWait();
            }
        });
        awaitedType_.clear();
    }
}

void CommandRunner::finishWait() {
    waiting_ = false;
    awaitedType_.clear();
    timer_ = {};
    runHeld();
}

} // namespace phone
