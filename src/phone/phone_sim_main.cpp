// phone-sim: the phone application's counterpart. For now it holds the training plan and writes
// a workout snapshot in the phone's wire form; the phone link comes later.
#include "phone/training_plan.hpp"
#include "platform/values/bplist.hpp"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

namespace {

int usage() {
    std::cerr << "usage: phone-sim [--plan FILE.json] --write-snapshot FILE [--workout INDEX]\n"
                 "  Writes the plan's workout (0 = the first) as the binary property list the\n"
                 "  phone sends as a full snapshot. The phone link is not built yet.\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string planFile;
    std::string snapshotFile;
    std::size_t workoutIndex = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* value = nullptr;
        if (arg == "--plan" && (value = next())) {
            planFile = value;
        } else if (arg == "--write-snapshot" && (value = next())) {
            snapshotFile = value;
        } else if (arg == "--workout" && (value = next())) {
            try {
                workoutIndex = std::stoul(value);
            } catch (const std::exception&) {
                std::cerr << "phone-sim: --workout needs a number, got \"" << value << "\"\n";
                return 2;
            }
        } else {
            return usage();
        }
    }
    if (snapshotFile.empty()) {
        return usage();
    }

    std::string planText(phone::embeddedDemoPlanText());
    if (!planFile.empty()) {
        std::ifstream in(planFile, std::ios::binary);
        if (!in) {
            std::cerr << "phone-sim: cannot read plan " << planFile << "\n";
            return 1;
        }
        planText.assign(std::istreambuf_iterator<char>(in), {});
    }
    auto plan = phone::parseTrainingPlan(planText);
    if (!plan) {
        std::cerr << "phone-sim: the plan is not a JSON object with \"name\" and \"workouts\"\n";
        return 1;
    }
    auto snapshot = phone::workoutSnapshot(*plan, workoutIndex, 1);
    if (!snapshot) {
        std::cerr << "phone-sim: the plan has no workout " << workoutIndex << "\n";
        return 1;
    }
    auto bytes = platform::encodeBinaryPlist(platform::Value(std::move(*snapshot)));
    if (!bytes) {
        std::cerr << "phone-sim: the workout holds values a property list cannot carry\n";
        return 1;
    }
    std::ofstream out(snapshotFile, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes->data()),
              static_cast<std::streamsize>(bytes->size()));
    if (!out.flush()) {
        std::cerr << "phone-sim: cannot write " << snapshotFile << "\n";
        return 1;
    }
    std::cout << "phone-sim: wrote workout " << workoutIndex << " of \"" << plan->name << "\" ("
              << bytes->size() << " bytes) to " << snapshotFile << "\n";
    return 0;
}
