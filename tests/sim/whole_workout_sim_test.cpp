// Whole workouts from the pager to the hand-off: the user starts one of phone-sim's workouts on
// the watch, logs it (rests, timed sets, exercises picked for placeholders or added), and finishes
// or cancels it, while phone-sim sends numbered commands (pauses, resumes, the health preference,
// timer corrections), some held back and released out of order, some sent twice, some with an
// old sequence, the link loses, repeats, delays and reorders frames and the watch restarts.
// Checked: no command is applied twice and none out of order; once quiet, every workout the
// watch completed is in the phone's logbook once with exactly the sets the watch completed, and
// the hand-off of the last completion ends in success.
#include "model/conversions.hpp"
#include "phone/command_sender.hpp"
#include "platform/values/bplist.hpp"
#include "screens/logic/list_rows.hpp"
#include "sim/sim_support.hpp"
#include "sim/watch_program.hpp"
#include "support/snapshot_store.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <numeric>
#include <set>

namespace {

using namespace std::chrono_literals;
using simsupport::Array;
using simsupport::Dictionary;
using simsupport::Value;
using simsupport::Watch;
using Content = screens::MainScreen::Content;

// The ids of the sets in a workout as the phone recorded it, and of those marked done.
struct RecordedSets {
    std::set<std::string> all;
    std::set<std::string> done;
};

RecordedSets recordedSets(const Dictionary& workout) {
    RecordedSets sets;
    const auto* exercises = model::lookup(workout, "exercises");
    for (const auto& exercise : exercises && exercises->array() ? *exercises->array() : Array{}) {
        const auto* list = exercise.find("exerciseSets");
        for (const auto& set : list && list->array() ? *list->array() : Array{}) {
            const auto* id = set.find("id");
            const auto* status = set.find("status");
            if (id && id->string()) {
                sets.all.insert(*id->string());
                if (status && *status == Value("COMPLETE")) {
                    sets.done.insert(*id->string());
                }
            }
        }
    }
    return sets;
}

std::string join(const std::set<std::string>& ids) {
    std::string text;
    for (const auto& id : ids) {
        text += (text.empty() ? "" : " ") + id;
    }
    return text;
}

// One gesture of the user on whatever the watch shows.
void userActs(Watch& watch, const std::function<std::uint64_t(std::uint64_t)>& pick,
              platform::Log& log) {
    auto& screen = watch.core.mainScreen();
    auto& data = watch.core.data();
    if (screen.showingSyncStatus.get()) {
        if (pick(2) == 0) {
            watch.act({{"action", "dismissSyncStatus"}});
        }
        return;
    }
    if (screen.showingWorkoutFinish.get()) {
        if (pick(4) != 0) {
            watch.act({{"action", "confirmFinish"}});
        } else {
            screen.showingWorkoutFinish = false;
        }
        return;
    }
    if (screen.showingAddExerciseScreen.get()) {
        const auto& catalogue = data.referenceExercises.get();
        if (!catalogue.empty() && pick(4) != 0) {
            watch.act({{"action", "pickExercise"},
                       {"referenceExerciseId", catalogue[pick(catalogue.size())]->id}});
        } else {
            screen.showingAddExerciseScreen = false;
        }
        return;
    }
    switch (screen.content()) {
    case Content::phonePrompt:
        watch.act({{"action", "refresh"}});
        return;
    case Content::availableWorkouts: {
        auto cards = screen.workoutCards();
        std::erase_if(cards, [](const screens::WorkoutCard& card) { return card.complete; });
        if (!cards.empty() && screen.startWorkoutEnabled()) {
            const auto& card = cards[pick(cards.size())];
            log.line("sim: the user starts " + card.workoutId);
            watch.act({{"action", "startWorkout"}, {"workoutId", card.workoutId}});
        }
        return;
    }
    case Content::exerciseList:
        break;
    }
    const auto& exercises = data.exercises.get();
    auto roll = pick(100);
    if (exercises.empty() || roll < 4) {
        if (exercises.empty() && pick(3) != 0) {
            watch.act({{"action", "openExercisePicker"}});
        } else {
            log.line("sim: the user taps " + screen.finishButtonLabel());
            watch.act({{"action", "finishWorkout"}});
        }
        return;
    }
    // The more of the workout is done, the likelier the user finishes.
    std::size_t sets = 0;
    std::size_t done = 0;
    for (const auto& exercise : exercises) {
        for (const auto& set : exercise->exerciseSets.get()) {
            ++sets;
            done += screens::isSetDone(*set) ? 1 : 0;
        }
    }
    if (sets > 0 && done * 100 / sets > 60 + pick(40)) {
        log.line("sim: the user taps " + screen.finishButtonLabel());
        watch.act({{"action", "finishWorkout"}});
        return;
    }
    const auto& exercise = exercises[pick(exercises.size())];
    if (exercise->name.empty()) {
        watch.act({{"action", "openExercise"}, {"exerciseId", exercise->id}});
        return;
    }
    if (roll < 7) {
        watch.act({{"action", "openExercisePicker"}});
        return;
    }
    if (roll < 9 && !screens::anySetDone({exercise})) {
        watch.act({{"action", "deleteExercise"}, {"exerciseId", exercise->id}});
        return;
    }
    auto count = exercise->exerciseSets->size();
    if (count == 0) {
        watch.act({{"action", "addSet"}, {"exerciseId", exercise->id}});
        return;
    }
    // Mostly the page the row opens on, sometimes any page.
    auto index = screens::firstOpenSet(*exercise).value_or(0);
    if (pick(5) == 0) {
        index = static_cast<int>(pick(count));
    }
    if (roll < 14) {
        watch.act({{"action", "dismissTimer"}});
    } else {
        watch.act(Dictionary{{"action", Value("actionButton")},
                             {"exerciseId", Value(exercise->id)},
                             {"setIndex", Value(static_cast<std::int64_t>(index))}});
    }
}

// Virtual seconds of quiet after the script, for the last messages and timers.
constexpr int quietSeconds = 900;

std::optional<std::string> runSeed(std::uint64_t seed, const std::filesystem::path& directory) {
    simsupport::Run run(seed, directory);
    if (!run.phone.app) {
        return "phone-sim did not open: " + run.phone.error;
    }
    auto& [random, executor, log, link, phone, driver] = run;
    std::function<std::uint64_t(std::uint64_t)> pick = [&run](std::uint64_t n) {
        return run.pick(n);
    };
    auto& app = phone.app;
    std::ostringstream problems;

    testsupport::SnapshotStore defaults;
    testsupport::SnapshotStore platformStore;
    platform::MemoryFileSystem files;

    // Every set the watch has reported done to the phone.
    std::set<std::string> reportedDone;
    defaults.onWrite([&](std::string_view key) {
        if (key != watchsync::WatchSyncOutbox::storageKey) {
            return;
        }
        {
            auto bytes = defaults.dataForKey(key);
            auto list = bytes ? watchsync::decodePendingList(*bytes) : std::nullopt;
            for (const auto& pending :
                 list.value_or(std::vector<watchsync::PendingWatchSyncMessage>{})) {
                auto message = platform::decodeBinaryPlist(pending.payload);
                const auto* type = message ? message->find("type") : nullptr;
                const auto* payload = message ? message->find("payload") : nullptr;
                const auto* id = payload ? payload->find("id") : nullptr;
                if (type && *type == Value("complete_set") && id && id->string()) {
                    reportedDone.insert(*id->string());
                }
            }
            return;
        }
    });

    auto watch = std::make_unique<Watch>(executor, link, defaults, platformStore, files, log);
    // The sets done on the watch, by workout: as last seen while it ran, and all ever seen done.
    // A completion keeps both, by its sync id.
    struct Done {
        std::set<std::string> shown;
        std::set<std::string> ever;
    };
    std::map<std::string, Done> seenDone;
    std::map<std::string, std::set<std::string>> doneAtCompletion;
    bool completedSinceRestart = false;
    std::string lastWorkoutId;
    auto observe = [&] {
        auto& data = watch->core.data();
        if (data.workoutStatus.get() == model::status::inProgress) {
            std::set<std::string> done;
            for (const auto& exercise : data.exercises.get()) {
                for (const auto& set : exercise->exerciseSets.get()) {
                    if (screens::isSetDone(*set)) {
                        done.insert(set->id.get());
                    }
                }
            }
            auto& seen = seenDone[data.workoutId.get()];
            seen.ever.insert(done.begin(), done.end());
            seen.shown = std::move(done);
        }
        if (data.finishingWorkoutSyncId &&
            !doneAtCompletion.contains(*data.finishingWorkoutSyncId)) {
            completedSinceRestart = true;
            doneAtCompletion[*data.finishingWorkoutSyncId] = seenDone[lastWorkoutId].shown;
            log.line("sim: the watch completed " + lastWorkoutId + " as " +
                     *data.finishingWorkoutSyncId);
        }
        lastWorkoutId = data.workoutId.get();
    };

    auto steps = 80 + pick(160);
    driver.allow(steps + quietSeconds);
    for (std::uint64_t step = 0; step < steps; ++step) {
        auto roll = pick(100);
        if (roll < 70) {
            observe();
            userActs(*watch, pick, log);
            // A completion is seen before its acknowledgement can end the hand-off.
            observe();
        } else if (roll < 73) {
            log.line("sim: watch restarts");
            watch.reset();
            watch = std::make_unique<Watch>(executor, link, defaults, platformStore, files, log);
            completedSinceRestart = false;
        } else if (roll < 77) {
            link.connected() ? link.cut() : link.restore();
        } else if (roll < 79) {
            app->setReachable(pick(2) == 0);
        } else if (roll < 82) {
            app->sendSessionCommand(pick(2) == 0 ? phone::SessionAction::pause
                                                 : phone::SessionAction::resume);
        } else if (roll < 85) {
            app->sendHealthPreference(pick(2) == 0);
        } else if (roll < 87) {
            // Corrections are exempt from the order: only their ids keep them from applying twice.
            app->correctTimer(static_cast<double>(30 + pick(120)));
            app->resendCommand();
        } else if (roll < 88) {
            app->holdCommands(!app->commands().holding());
        } else if (roll < 90) {
            auto held = app->commands().held().size();
            std::vector<std::size_t> order(held);
            std::iota(order.begin(), order.end(), 1);
            std::shuffle(order.begin(), order.end(), random);
            app->releaseCommands(order);
        } else if (roll < 92) {
            const auto& sent = app->commands().sent();
            if (!sent.empty()) {
                app->resendCommand(sent[pick(sent.size())].id);
            }
        } else if (roll < 93) {
            app->ageNextSequence(static_cast<double>(pick(5)));
            app->sendHealthPreference(pick(2) == 0);
        } else {
            driver.advanceBy(std::chrono::seconds(pick(60)));
        }
        for (auto tasks = pick(60); tasks > 0 && driver.runNext(); --tasks) {
        }
        observe();
    }

    // The phone's last word on the preference; everything older it sends after it, held,
    // repeated or aged, must lose to it.
    app->holdCommands(false);
    const bool preference = pick(2) == 0;
    app->sendHealthPreference(preference);
    if (!app->commands().held().empty()) {
        std::vector<std::size_t> reversed(app->commands().held().size());
        std::iota(reversed.rbegin(), reversed.rend(), 1);
        app->releaseCommands(reversed);
    }
    app->ageNextSequence(1);
    app->sendHealthPreference(!preference);

    run.heal();
    for (int second = 0; second < quietSeconds; ++second) {
        driver.advanceBy(1s);
        observe();
    }

    // No command took effect twice, and the ordered ones took effect in the phone's order.
    std::map<std::string, std::optional<double>> sequences;
    for (const auto& command : app->commands().sent()) {
        sequences[command.id] = command.sequence;
    }
    std::set<std::string> applied;
    double lastSequence = 0;
    constexpr std::string_view appliedLine = "Applied phone command ";
    for (const auto& line : log.lines()) {
        if (!line.starts_with(appliedLine)) {
            continue;
        }
        auto id = line.substr(appliedLine.size());
        if (!applied.insert(id).second) {
            problems << "command " << id << " took effect twice; ";
        }
        auto sequence = sequences.find(id);
        if (sequence == sequences.end()) {
            problems << "the watch applied command " << id << ", which the phone never sent; ";
        } else if (sequence->second) {
            // Only ordered commands carry a sequence.
            if (*sequence->second <= lastSequence) {
                problems << "command " << id << " (sequence " << *sequence->second
                         << ") took effect after sequence " << lastSequence << "; ";
            }
            lastSequence = std::max(lastSequence, *sequence->second);
        }
    }

    auto& data = watch->core.data();
    if (auto left = watch->core.outbox().pendingMessages(); !left.empty()) {
        problems << left.size() << " messages still pending on the watch; ";
    }
    if (watch->core.workoutManager().syncWorkoutsToHealth.get() != preference) {
        problems << "the watch's health preference is not the phone's newest; ";
    }
    if (completedSinceRestart &&
        data.syncingFinishedWorkoutStatus.get() != model::FinishingWorkoutStatus::success) {
        problems << "the hand-off ended in "
                 << model::toText(data.syncingFinishedWorkoutStatus.get()) << "; ";
    }
    // A state the phone sent before the watch's events reached it can briefly undo sets on the
    // watch, or bring back a workout or an exercise the phone has finished or removed (after a
    // restart the watch takes any revision again): the user may then complete a workout showing
    // fewer sets than the phone holds, or log sets the phone no longer has. What must hold:
    // every completion is recorded once; every set the watch showed done when it completed a
    // workout is done in the phone's record of that completion, if that record has the set; and
    // the phone records no set done that the watch never showed or reported done.
    std::map<std::string, RecordedSets> records;
    for (const auto& finished : app->finishedWorkouts()) {
        auto workout = platform::parseJson(finished.workoutJson);
        if (!workout || !workout->dictionary()) {
            problems << "unreadable finished workout " << finished.workoutId << "; ";
        } else if (!records.emplace(finished.syncId, recordedSets(*workout->dictionary())).second) {
            problems << "completion " << finished.syncId << " recorded twice; ";
        }
    }
    std::set<std::string> everDone;
    for (const auto& [workoutId, seen] : seenDone) {
        everDone.insert(seen.ever.begin(), seen.ever.end());
    }
    for (const auto& [syncId, shown] : doneAtCompletion) {
        auto record = records.find(syncId);
        if (record == records.end()) {
            problems << "completion " << syncId << " is not in the phone's logbook; ";
            continue;
        }
        std::set<std::string> lost;
        for (const auto& id : shown) {
            if (record->second.all.contains(id) && !record->second.done.contains(id)) {
                lost.insert(id);
            }
        }
        if (!lost.empty()) {
            problems << "sets {" << join(lost) << "} shown done at completion " << syncId
                     << " are not done in the phone's record of it; ";
        }
    }
    for (const auto& [syncId, record] : records) {
        std::set<std::string> invented;
        for (const auto& id : record.done) {
            if (!everDone.contains(id) && !reportedDone.contains(id)) {
                invented.insert(id);
            }
        }
        if (!invented.empty()) {
            problems << "completion " << syncId << " records sets {" << join(invented)
                     << "} done that the watch never showed or reported done; ";
        }
    }
    if (!problems.str().empty() && simsupport::envNumber("WRISTSIDE_SIM_VERBOSE", 0) != 0) {
        for (const auto& logged : app->logbookEntries()) {
            log.line("logbook #" + std::to_string(logged.number) + " " + logged.messageJson);
        }
    }
    return simsupport::verdict(problems, log);
}

} // namespace

TEST(WholeWorkoutSimulation, CommandsApplyOnceAndTheLogbookHoldsWhatTheWatchCompleted) {
    simsupport::runSeeds(100, "WholeWorkoutSimulation.*", runSeed);
}
