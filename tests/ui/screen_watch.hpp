#pragma once

// The watch program with its window, offscreen, driven through its control channel; and the
// two programs on one socket. The including test defines PHONE_SIM and WRISTSIDE.
#include "app/process_support.hpp"

#include <cstdlib>

namespace uitest {

using namespace processtest;

// The watch's window offscreen: every control line is carried out by pressing the controls.
class ScreenWatch : public Child {
public:
    ScreenWatch(const std::string& link, const Path& data, Path output,
                std::vector<std::string> extra = {})
        : Child(arguments(link, data, std::move(extra)), std::move(output)) {}

    // The answer to the line (the next reply line after it), or nothing after ten seconds.
    std::optional<Value> ask(const std::string& line) {
        const auto from = readFile(out).size();
        write(line);
        for (int i = 0; i < 1000; ++i) {
            auto text = readFile(out);
            auto at = text.find(R"({"reply":)", from);
            if (auto end = text.find('\n', at);
                at != std::string::npos && end != std::string::npos) {
                return platform::parseJson(std::string_view(text).substr(at, end - at));
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }
    // "ok", or the error message.
    std::string act(const std::string& line) {
        auto answer = ask(line);
        if (!answer || answer->find("reply") == nullptr) {
            return "no answer";
        }
        if (const auto* message = answer->find("message")) {
            return *message->string();
        }
        return *answer->find("reply")->string();
    }

    struct Screen {
        std::string screen;
        std::string sheet; // "" when none
        std::vector<std::string> texts;
        bool shows(const std::string& text) const {
            return std::find(texts.begin(), texts.end(), text) != texts.end();
        }
    };
    Screen screen() {
        Screen shown;
        if (auto answer = ask(R"({"action":"screen"})")) {
            shown.screen = *answer->find("screen")->string();
            const auto* sheet = answer->find("sheet");
            shown.sheet = sheet->string() != nullptr ? *sheet->string() : "";
            for (const auto& text : *answer->find("texts")->array()) {
                shown.texts.push_back(*text.string());
            }
        }
        return shown;
    }
    // Asks what the screen shows until `holds` is true of it.
    Screen screenWhere(const std::function<bool(const Screen&)>& holds) {
        Screen last;
        for (int i = 0; i < 300; ++i) {
            last = screen();
            if (holds(last)) {
                return last;
            }
            std::this_thread::sleep_for(20ms);
        }
        std::string texts;
        for (const auto& text : last.texts) {
            texts += " | " + text;
        }
        ADD_FAILURE() << "the screen never got there; it last showed " << last.screen << " (sheet "
                      << last.sheet << "):" << texts;
        return last;
    }

private:
    static std::vector<std::string> arguments(const std::string& link, const Path& data,
                                              std::vector<std::string> extra) {
        std::vector<std::string> all{WRISTSIDE, "--control",  "stdin",      "--link",
                                     link,      "--data-dir", data.string()};
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    }
};

// phone-sim and the watch's window on a socket in a temp directory.
class ScreenPrograms : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;
    std::string link = "unix:" + (dir.path() / "link.sock").string();
    Path phoneOut = dir.path() / "phone.log";
    Path watchOut = dir.path() / "watch.log";
    std::optional<Child> phone;
    std::optional<ScreenWatch> watch;

    void SetUp() override {
        // A watch that died must fail the test, not end it with SIGPIPE.
        ::signal(SIGPIPE, SIG_IGN);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    }
    void startPhone(const std::vector<std::string>& commands = {}) {
        phone.emplace(std::vector<std::string>{PHONE_SIM, "--link", link, "--data-dir",
                                               (dir.path() / "phone").string()},
                      phoneOut);
        ASSERT_TRUE(waitFor(phoneOut, "session activated")) << readFile(phoneOut);
        for (const auto& command : commands) {
            phone->write(command);
        }
    }
    void startWatch(std::vector<std::string> extra = {}) {
        watch.emplace(link, dir.path() / "watch", watchOut, std::move(extra));
    }
    // The pager shows the phone's first workout.
    void startBoth() {
        startPhone();
        startWatch();
        watch->screenWhere([](const auto& s) { return s.shows("Start Workout"); });
    }
    // Both end by themselves, and the screens never warned.
    void TearDown() override {
        if (HasFailure()) {
            return;
        }
        if (watch) {
            EXPECT_EQ(watch->quit(R"({"action":"quit"})"), 0) << readFile(watchOut);
        }
        if (phone) {
            EXPECT_EQ(phone->quit("quit"), 0) << readFile(phoneOut);
        }
        EXPECT_EQ(readFile(watchOut).find("QML warning"), std::string::npos) << readFile(watchOut);
    }
};

} // namespace uitest
