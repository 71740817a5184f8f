// PhoneApp's commands to the watch and its exercise catalogue.
#include "phone/fields.hpp"
#include "phone/phone_app.hpp"

#include <chrono>
#include <cmath>

namespace phone {

namespace {

std::string revisionText(double revision) {
    return std::to_string(static_cast<std::int64_t>(revision));
}

} // namespace

double PhoneApp::nowMs() const {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   executor_.clock().now().time_since_epoch())
                                   .count());
}

std::optional<std::int64_t> PhoneApp::takeCommandNumber() {
    std::string error;
    auto number = logbook_->takeNext("commandNumber", &error);
    if (!number) {
        say("cannot send a command: " + error);
    }
    return number;
}

void PhoneApp::deliverCommand(const PhoneCommand& command) {
    auto what = "command " + command.id + " (" + command.what +
                (command.sequence ? ", sequence " + revisionText(*command.sequence) : "") + ")";
    if (!reachable_ || !session_.isReachable()) {
        auto transfer = session_.transferUserInfo(command.message);
        say("sent " + what + " by transfer " + transfer.transferId);
        return;
    }
    session_.sendMessage(
        command.message,
        platform::ReplyHandler([onMain = onMain(), id = command.id](platform::Dictionary reply) {
            onMain([id, reply](PhoneApp& app) {
                const auto* ack = stringAt(reply, "commandAck");
                if (ack != nullptr && *ack == id) {
                    app.commands_.acknowledged(id);
                    app.say("the watch has command " + id);
                }
            });
        }),
        transferOnFailure(command.message, what));
    say("sent " + what + " by live message");
    // A lost message or a lost answer leaves the command's fate unknown; the watch applies an id
    // once, so sending it again cannot hurt.
    executor_.main().asyncAfter(confirmationTimeout, [app = std::weak_ptr(self_), command] {
        auto alive = app.lock();
        if (!alive || (*alive)->commands_.isAcknowledged(command.id)) {
            return;
        }
        auto& self = **alive;
        auto transfer = self.session_.transferUserInfo(command.message);
        self.say("no answer to command " + command.id + ": sent it again as transfer " +
                 transfer.transferId);
    });
}

bool PhoneApp::sendSessionCommand(SessionAction action, const std::optional<std::string>& workoutId,
                                  bool saveToHealth) {
    std::string id;
    if (workoutId) {
        id = *workoutId;
    } else if (const auto* current = stringAt(feed_.workout(), "id")) {
        id = *current;
    }
    if (id.empty()) {
        say("cannot " + std::string(describe(action)) +
            " the health session: no workout named and no current workout");
        return false;
    }
    std::string what = std::string(describe(action)) + " the health session of " + id;
    if (action == SessionAction::finish) {
        what += saveToHealth ? ", saved" : ", not saved";
    }
    return commands_.issue(sessionCommand(action, id, nowMs(), saveToHealth), what).has_value();
}

bool PhoneApp::sendHealthPreference(bool saveToHealth) {
    return commands_
        .issue({{"syncWorkoutsToHealth", saveToHealth}},
               saveToHealth ? "save workouts to health" : "do not save workouts to health")
        .has_value();
}

void PhoneApp::holdCommands(bool on) {
    commands_.setHolding(on);
    say(on ? "commands are held back from now on"
           : "commands go at once again (" + std::to_string(commands_.held().size()) +
                 " still held)");
}

bool PhoneApp::releaseCommands(const std::vector<std::size_t>& positions) {
    auto count = positions.empty() ? commands_.held().size() : positions.size();
    if (!commands_.release(positions)) {
        say("cannot release: " + std::to_string(commands_.held().size()) +
            " commands are held; name each position (1 = the first) at most once");
        return false;
    }
    say("released " + std::to_string(count) + " held commands");
    return true;
}

bool PhoneApp::resendCommand(const std::optional<std::string>& id) {
    auto command = commands_.resend(id);
    if (!command) {
        say("cannot resend " + (id ? "command " + *id : std::string("a command")) +
            ": no such command was sent");
        return false;
    }
    say("sent command " + command->id + " again, unchanged");
    return true;
}

void PhoneApp::ageNextSequence(double sequence) {
    commands_.ageNextSequence(sequence);
    say("the next ordered command goes with sequence " + revisionText(sequence));
}

void PhoneApp::ageNextRevision(double revision) {
    commands_.ageNextRevision(revision);
    say("the next command or catalogue goes with revision " + revisionText(revision));
}

std::int64_t PhoneApp::catalogueRevision() const {
    return logbook_->counter(catalogueCounter);
}

std::optional<double> PhoneApp::nextCatalogueRevision() {
    if (auto aged = commands_.takeAgedRevision()) {
        return aged;
    }
    std::string error;
    auto revision = logbook_->takeNext(catalogueCounter, &error);
    if (!revision) {
        say("cannot send the catalogue: " + error);
        return std::nullopt;
    }
    return static_cast<double>(*revision);
}

void PhoneApp::deliverCatalogue(platform::Dictionary message, const std::string& what) {
    auto channel = deliver(message, what);
    say("sent " + what + " by " + std::string(channel));
}

bool PhoneApp::sendReferenceCatalogue(bool inContext) {
    auto revision = nextCatalogueRevision();
    if (!revision) {
        return false;
    }
    auto what = "the exercise catalogue (" + std::to_string(catalogue_.entries().size()) +
                " exercises), revision " + revisionText(*revision);
    if (inContext) {
        if (auto error = session_.updateApplicationContext(catalogue_.whole(*revision))) {
            say("cannot put " + what + " in the application context: " + error->description);
            return false;
        }
        say("put " + what + " in the application context");
        return true;
    }
    deliverCatalogue(catalogue_.whole(*revision), what);
    return true;
}

bool PhoneApp::sendReferenceCatalogueFile() {
    auto revision = nextCatalogueRevision();
    if (!revision) {
        return false;
    }
    auto file = catalogue_.file(*revision);
    auto transfer = session_.transferFile(file.contents, file.metadata);
    say("sent the exercise catalogue as file transfer " + transfer.transferId + ", revision " +
        revisionText(*revision) + " (" + std::to_string(file.contents.size()) + " bytes)");
    return true;
}

bool PhoneApp::updateReferenceExercise(const platform::Dictionary& entry) {
    auto delta = catalogue_.update(entry);
    if (!delta) {
        say("cannot change the catalogue: an entry needs a string \"id\" and \"name\"");
        return false;
    }
    auto revision = nextCatalogueRevision();
    if (!revision) {
        return false;
    }
    delta->insert_or_assign("referenceExercisesRevision", *revision);
    deliverCatalogue(std::move(*delta), "catalogue entry " + *stringAt(entry, "id") +
                                            " as a delta, revision " + revisionText(*revision));
    return true;
}

bool PhoneApp::removeReferenceExercise(const std::string& id) {
    auto delta = catalogue_.remove(id);
    if (!delta) {
        say("cannot remove \"" + id + "\" from the catalogue: it has no such entry");
        return false;
    }
    auto revision = nextCatalogueRevision();
    if (!revision) {
        return false;
    }
    delta->insert_or_assign("referenceExercisesRevision", *revision);
    deliverCatalogue(std::move(*delta), "the removal of catalogue entry " + id +
                                            " as a delta, revision " + revisionText(*revision));
    return true;
}

bool PhoneApp::reorderReferenceExercises(const std::vector<std::string>& order) {
    auto delta = catalogue_.reorder(order);
    if (!delta) {
        say("cannot reorder the catalogue: the order must name every entry once");
        return false;
    }
    auto revision = nextCatalogueRevision();
    if (!revision) {
        return false;
    }
    delta->insert_or_assign("referenceExercisesRevision", *revision);
    deliverCatalogue(std::move(*delta),
                     "the catalogue's new order as a delta, revision " + revisionText(*revision));
    return true;
}

} // namespace phone
