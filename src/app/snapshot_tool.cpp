#include "app/snapshot_tool.hpp"

#include "app/state_json.hpp"
#include "model/conversions.hpp"
#include "model/decoding.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"

#include <fstream>
#include <iterator>

namespace app {

namespace {

std::string describeSet(const model::ExerciseSet& set, const model::Exercise& exercise) {
    std::string line =
        "    " + set.setNumber.get() + "  " + std::string(model::toText(set.type.get()));
    if (exercise.isReps) {
        line += "  " + (set.reps->empty() ? std::string("-") : set.reps.get()) + " reps";
    }
    if (exercise.isWeight) {
        line += "  " + set.weight.get() + " " + exercise.weightUnits;
    }
    if (exercise.isDuration && set.duration.get()) {
        line += "  " + std::to_string(*set.duration.get()) + " s";
    }
    if (exercise.isDistance) {
        line += "  distance " + set.distance.get();
    }
    if (exercise.isBand) {
        line += "  band " + set.bandColor.get();
    }
    return line + "  [" + set.status.get() + "]";
}

void printWorkout(std::ostream& out, const platform::Dictionary& snapshot,
                  const std::vector<model::ExerciseRef>& exercises) {
    const auto* header = model::lookup(snapshot, "workout");
    auto field = [&](std::string_view key) {
        const auto* text = header != nullptr ? model::asString(header->find(key)) : nullptr;
        return text != nullptr ? *text : std::string("?");
    };
    out << "Workout \"" << field("name") << "\" (" << field("id") << ", " << field("status")
        << "), revision " << model::asText(model::lookup(snapshot, "syncRevision")).value_or("none")
        << "\n";
    for (const auto& exercise : exercises) {
        out << "  " << exercise->name << "  (" << exercise->exerciseSets->size() << " sets, rest "
            << exercise->timerSeconds << " s, " << exercise->equipment;
        if (exercise->equipment == "Barbell") {
            out << " on " << exercise->barbell.name << " " << exercise->barbell.weight << " "
                << exercise->barbell.units;
        }
        if (exercise->superset) {
            out << ", superset " << *exercise->superset << " in "
                << model::colorName(exercise->color());
        }
        out << ")\n";
        for (const auto& set : exercise->exerciseSets.get()) {
            out << describeSet(*set, *exercise) << "\n";
        }
    }
}

} // namespace

int printSnapshot(const std::filesystem::path& snapshotFile, bool json, std::ostream& out,
                  std::ostream& err) {
    std::ifstream in(snapshotFile, std::ios::binary);
    if (!in) {
        err << "wristside: cannot read " << snapshotFile << "\n";
        return 1;
    }
    platform::Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto value = platform::decodeBinaryPlist(bytes);
    if (!value || value->dictionary() == nullptr) {
        err << "wristside: " << snapshotFile
            << " is not a binary property list holding a dictionary\n";
        return 1;
    }
    const auto& snapshot = *value->dictionary();
    auto exercises = model::decodeExerciseList(model::lookup(snapshot, "exercises"))
                         .value_or(std::vector<model::ExerciseRef>{});
    if (!json) {
        printWorkout(out, snapshot, exercises);
        return 0;
    }

    platform::Array states;
    for (const auto& exercise : exercises) {
        states.push_back(app::exerciseState(*exercise));
    }
    out << platform::toJsonText(platform::Dictionary{{"exercises", std::move(states)}}) << "\n";
    return 0;
}

} // namespace app
