#pragma once

// Running the programs as child processes and reading what they print.
#include "platform/values/json.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace processtest {

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

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls the file until it holds the text, for at most ten seconds of real time: the programs run
// on their own clocks, and only their output tells how far they are.
inline bool waitFor(const std::filesystem::path& file, const std::string& text,
                    std::size_t count = 1) {
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

// The last {"reply":"state"} answer in the watch's output, parsed.
inline std::optional<platform::Value> lastState(const std::filesystem::path& file) {
    std::istringstream lines(readFile(file));
    std::optional<platform::Value> state;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(R"({"reply":"state")")) {
            if (auto parsed = platform::parseJson(line)) {
                state = std::move(parsed);
            }
        }
    }
    return state;
}

} // namespace processtest
