#pragma once

// phone-sim and the watch program as child processes on one socket, and what they print. The
// including test defines PHONE_SIM and WRISTSIDE, the programs' paths.
#include "platform/files/temp_directory.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

namespace processtest {

using namespace std::chrono_literals;
using Path = std::filesystem::path;
using platform::Value;

inline constexpr auto readFile = &platform::testing::TempDirectory::readText;

// Polls the file until it holds the text `count` times, for at most ten seconds of real time:
// the programs run on their own clocks, and only their output tells how far they are.
inline bool waitFor(const Path& file, const std::string& text, std::size_t count = 1) {
    for (int i = 0; i < 1000; std::this_thread::sleep_for(10ms), ++i) {
        auto content = readFile(file);
        std::size_t found = 0;
        for (auto at = content.find(text); at != std::string::npos && found < count;
             at = content.find(text, at + 1)) {
            ++found;
        }
        if (found == count) {
            return true;
        }
    }
    return false;
}

// A child program with its standard input on a pipe and its output appended to a file.
class Child {
public:
    Child(std::vector<std::string> arguments, Path output) : out(std::move(output)) {
        int input[2];
        if (::pipe(input) != 0 || (pid_ = ::fork()) < 0) {
            return;
        }
        if (pid_ == 0) {
            ::dup2(input[0], STDIN_FILENO);
            int file = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(file, STDOUT_FILENO);
            ::dup2(file, STDERR_FILENO);
            ::close(input[1]);
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(input[0]);
        input_ = input[1];
    }
    ~Child() {
        if (pid_ > 0) {
            kill(SIGKILL);
        }
        ::close(input_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void write(const std::string& line) {
        auto text = line + "\n";
        EXPECT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void kill(int signal) {
        ::kill(pid_, signal);
        ::waitpid(std::exchange(pid_, -1), nullptr, 0);
    }
    // Writes the last line, closes the input and waits for the program to end by itself.
    int quit(const std::string& line) {
        write(line);
        ::close(std::exchange(input_, -1));
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const Path out;

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

// The headless watch program, asked for its state on its control channel.
class Watch : public Child {
public:
    Watch(const std::string& link, const Path& data, Path output)
        : Child({WRISTSIDE, "--headless", "--link", link, "--data-dir", data.string()},
                std::move(output)) {}

    // The answer to a new state request, given once everything asked before it is handled.
    std::optional<Value> state() {
        const auto from = readFile(out).size();
        write(R"({"action":"state"})");
        for (int i = 0; i < 1000; std::this_thread::sleep_for(10ms), ++i) {
            auto text = readFile(out);
            auto at = text.find(R"({"reply":"state")", from);
            if (auto end = text.find('\n', at); end != std::string::npos) {
                return platform::parseJson(std::string_view(text).substr(at, end - at));
            }
        }
        return std::nullopt;
    }

    // Asks for the state until `holds` is true of it.
    std::optional<Value> stateWhere(const std::function<bool(const Value&)>& holds) {
        std::optional<Value> last;
        for (int i = 0; i < 300; std::this_thread::sleep_for(20ms), ++i) {
            if ((last = state()) && holds(*last)) {
                return last;
            }
        }
        ADD_FAILURE() << "the watch never got there; its last state: "
                      << (last ? platform::toJsonText(*last) : std::string("none"));
        return std::nullopt;
    }
};

// The two programs on a socket in a temp directory, each with its data and output there.
class Programs : public ::testing::Test {
protected:
    platform::testing::TempDirectory dir;
    std::string link = "unix:" + (dir.path() / "link.sock").string();
    Path phoneData = dir.path() / "phone";
    Path watchData = dir.path() / "watch";
    Path phoneOut = dir.path() / "phone.log";
    Path watchOut = dir.path() / "watch.log";
    std::optional<Child> phone;
    std::optional<Watch> watch;
    std::size_t phoneRuns = 0;

    // phone-sim once its session is up, then these commands.
    void startPhone(const std::vector<std::string>& commands = {}) {
        phone.emplace(
            std::vector<std::string>{PHONE_SIM, "--link", link, "--data-dir", phoneData.string()},
            phoneOut);
        waitForPhone("session activated", ++phoneRuns);
        for (const auto& command : commands) {
            phone->write(command);
        }
    }
    void startWatch() { watch.emplace(link, watchData, watchOut); }
    void waitForPhone(const std::string& text, std::size_t count = 1) {
        ASSERT_TRUE(waitFor(phoneOut, text, count)) << text << " in:\n" << readFile(phoneOut);
    }
    void stopPhone() {
        EXPECT_EQ(phone->quit("quit"), 0) << readFile(phoneOut);
        phone.reset();
    }
    // Both end by themselves, with status 0.
    void quitBoth() {
        if (watch) {
            EXPECT_EQ(watch->quit(R"({"action":"quit"})"), 0) << readFile(watchOut);
            watch.reset();
        }
        if (phone) {
            stopPhone();
        }
    }
    // After a failure they are killed instead.
    void TearDown() override {
        if (!HasFailure()) {
            quitBoth();
        }
    }
};

} // namespace processtest
