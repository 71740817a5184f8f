// wristside: the watch application. Its screens and phone link are not built yet; what runs today
// is the workout model: it decodes a workout snapshot in the phone's wire form and shows what the
// watch makes of it.
#include "app/state_json.hpp"
#include "model/conversions.hpp"
#include "model/decoding.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/json.hpp"

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

int usage() {
    std::cerr
        << "usage: wristside --headless --snapshot FILE [--json]\n"
           "  Decodes a workout snapshot (a binary property list as the phone sends it)\n"
           "  and prints the workout as the watch holds it (--json: its exercises as JSON).\n"
           "  The screens, the phone link (--link) and the control channel are not built yet.\n";
    return 2;
}

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

void printWorkout(const platform::Dictionary& snapshot,
                  const std::vector<model::ExerciseRef>& exercises) {
    const auto* header = model::lookup(snapshot, "workout");
    auto field = [&](std::string_view key) {
        const auto* text = header != nullptr ? model::asString(header->find(key)) : nullptr;
        return text != nullptr ? *text : std::string("?");
    };
    std::cout << "Workout \"" << field("name") << "\" (" << field("id") << ", " << field("status")
              << "), revision "
              << model::asText(model::lookup(snapshot, "syncRevision")).value_or("none") << "\n";
    for (const auto& exercise : exercises) {
        std::cout << "  " << exercise->name << "  (" << exercise->exerciseSets->size()
                  << " sets, rest " << exercise->timerSeconds << " s, " << exercise->equipment;
        if (exercise->equipment == "Barbell") {
            std::cout << " on " << exercise->barbell.name << " " << exercise->barbell.weight << " "
                      << exercise->barbell.units;
        }
        if (exercise->superset) {
            std::cout << ", superset " << *exercise->superset << " in "
                      << model::colorName(exercise->color());
        }
        std::cout << ")\n";
        for (const auto& set : exercise->exerciseSets.get()) {
            std::cout << describeSet(*set, *exercise) << "\n";
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string snapshotFile;
    bool headless = false;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--headless") {
            headless = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--snapshot" && i + 1 < argc) {
            snapshotFile = argv[++i];
        } else {
            return usage();
        }
    }
    if (!headless || snapshotFile.empty()) {
        return usage();
    }

    std::ifstream in(snapshotFile, std::ios::binary);
    if (!in) {
        std::cerr << "wristside: cannot read " << snapshotFile << "\n";
        return 1;
    }
    platform::Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto value = platform::decodeBinaryPlist(bytes);
    if (!value || value->dictionary() == nullptr) {
        std::cerr << "wristside: " << snapshotFile
                  << " is not a binary property list holding a dictionary\n";
        return 1;
    }
    const auto& snapshot = *value->dictionary();
    auto exercises = model::decodeExerciseList(model::lookup(snapshot, "exercises"))
                         .value_or(std::vector<model::ExerciseRef>{});
    if (!json) {
        printWorkout(snapshot, exercises);
        return 0;
    }

    platform::Array states;
    for (const auto& exercise : exercises) {
        states.push_back(app::exerciseState(*exercise));
    }
    std::cout << platform::toJsonText(platform::Dictionary{{"exercises", std::move(states)}})
              << "\n";
    return 0;
}
