#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>

namespace testsupport {

struct CommandRun {
    // The exit status, or 128 plus the signal that ended the command.
    int status = -1;
    // Standard output and standard error together.
    std::string output;
};

// Runs a shell command to its end.
inline CommandRun runCommand(const std::string& command) {
    CommandRun result;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    if (!pipe) {
        return result;
    }
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
        result.output.append(buffer, n);
    }
    int status = pclose(pipe.release());
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace testsupport
