// The two programs over a real socket, and the watch killed with a message still waiting for the
// phone: started again on the same data, it delivers, and the phone records every message once
// and in order.
#include "phone/logbook.hpp"
#include "platform/files/temp_directory.hpp"
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A child program with its standard input on a pipe and its output in a file.
class Child {
public:
    Child(std::vector<std::string> arguments, const std::filesystem::path& output) {
        int input[2];
        if (::pipe(input) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], STDIN_FILENO);
            int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
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
        if (input_ >= 0) {
            ::close(input_);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void write(const std::string& line) {
        auto text = line + "\n";
        EXPECT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void kill(int signal) {
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    // Closes the input and waits for the program to end by itself.
    int finish() {
        ::close(std::exchange(input_, -1));
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
};

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls the file until it holds the text, for at most ten seconds of real time: the programs run
// on their own clocks, and only their output tells how far they are.
bool waitFor(const std::filesystem::path& file, const std::string& text, std::size_t count = 1) {
    for (int i = 0; i < 1000; ++i) {
        auto content = readFile(file);
        std::size_t found = 0;
        for (auto at = content.find(text); at != std::string::npos;
             at = content.find(text, at + 1)) {
            ++found;
        }
        if (found >= count) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// The outbox of the last state answer in the watch's output.
platform::Array lastOutbox(const std::filesystem::path& file) {
    std::istringstream lines(readFile(file));
    platform::Array outbox;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(R"({"reply":"state")")) {
            auto state = platform::parseJson(line);
            if (state && state->find("outbox") && state->find("outbox")->array()) {
                outbox = *state->find("outbox")->array();
            }
        }
    }
    return outbox;
}

} // namespace

TEST(WatchRestartProcess, MessagePendingAtAKillArrivesOnceAfterTheRestart) {
    platform::testing::TempDirectory dir;
    auto link = "unix:" + (dir.path() / "link.sock").string();
    auto phoneOut = dir.path() / "phone.log";
    auto watchOut = dir.path() / "watch.log";
    auto watchArguments = std::vector<std::string>{
        WRISTSIDE, "--headless", "--link", link, "--data-dir", (dir.path() / "watch").string()};

    Child phone({PHONE_SIM, "--link", link, "--data-dir", (dir.path() / "phone").string()},
                phoneOut);
    phone.write("ack none");
    ASSERT_TRUE(waitFor(phoneOut, "go unanswered from now on")) << readFile(phoneOut);

    {
        Child watch(watchArguments, watchOut);
        ASSERT_TRUE(waitFor(phoneOut, "received refresh_data")) << readFile(phoneOut);
        watch.write(R"({"action":"state"})");
        ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")")) << readFile(watchOut);
        ASSERT_EQ(lastOutbox(watchOut).size(), 1u) << readFile(watchOut);
        watch.kill(SIGKILL);
    }

    // Started again on the same data with the phone still silent: the stored request is there,
    // replaced by the new start's own request, never doubled.
    Child watch(watchArguments, watchOut);
    ASSERT_TRUE(waitFor(phoneOut, "received refresh_data", 2)) << readFile(phoneOut);
    watch.write(R"({"action":"state"})");
    ASSERT_TRUE(waitFor(watchOut, R"({"reply":"state")", 2)) << readFile(watchOut);
    EXPECT_EQ(lastOutbox(watchOut).size(), 1u) << readFile(watchOut);

    phone.write("ack success");
    // The retry after the phone's silence is the outbox's head going out again on a flush; a
    // refresh from the control channel makes one happen now.
    watch.write(R"({"action":"refresh"})");
    ASSERT_TRUE(waitFor(phoneOut, "with Success")) << readFile(phoneOut);
    for (int i = 0; i < 100 && !lastOutbox(watchOut).empty(); ++i) {
        watch.write(R"({"action":"state"})");
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(lastOutbox(watchOut).empty()) << readFile(watchOut);
    watch.write(R"({"action":"quit"})");
    EXPECT_EQ(watch.finish(), 0);
    phone.write("quit");
    EXPECT_EQ(phone.finish(), 0) << readFile(phoneOut);

    auto logbook = phone::Logbook::open(dir.path() / "phone" / "logbook.sqlite");
    ASSERT_TRUE(logbook);
    auto entries = logbook->entries();
    std::set<std::string> ids;
    for (const auto& entry : entries) {
        EXPECT_EQ(entry.type, "refresh_data");
        EXPECT_TRUE(ids.insert(entry.syncId).second) << "recorded twice: " << entry.syncId;
    }
    // One request from each start and the one the control channel asked for.
    EXPECT_EQ(entries.size(), 3u) << readFile(phoneOut);
}
