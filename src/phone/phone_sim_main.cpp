// phone-sim: the phone application's counterpart for the demo and the end-to-end tests. It
// listens on the link, keeps a training plan and a logbook, acknowledges the watch's outbox and
// answers its refresh requests, and does what its commands say (docs/phone-sim.md).
#include "phone/command_runner.hpp"
#include "phone/phone_app.hpp"
#include "phone/phone_link.hpp"
#include "phone/training_plan.hpp"
#include "phone/widget/phone_widgets.hpp"
#include "platform/exec/system_executor.hpp"
#include "platform/files/file_system.hpp"
#include "platform/link/socket/socket_transport.hpp"
#include "platform/log/log.hpp"
#include "platform/store/sqlite_key_value_store.hpp"
#include "platform/values/bplist.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::string link;
    std::filesystem::path dataDirectory;
    std::string planFile;
    std::string scriptFile;
    std::string snapshotFile;
    std::optional<std::size_t> workout;
    phone::PhoneWidgetsOptions widgets;
};

int usage(std::ostream& out, int status) {
    out << "usage: phone-sim [--link ADDRESS] [--data-dir DIR] [--plan FILE.json]\n"
           "                 [--script FILE] [--workout N]\n"
           "                 [--app-group DIR] [--widget-data DIR] [--widget-host PATH]\n"
           "       phone-sim [--plan FILE.json] --write-snapshot FILE [--workout N]\n"
           "\n"
           "Plays the phone application on the watch link: listens on ADDRESS (unix:PATH or\n"
           "tcp:HOST:PORT on loopback; default "
        << platform::defaultLinkAddress()
        << "),\n"
           "keeps its logbook and the link's store in DIR (default "
        << platform::defaultDataDirectory("phone-sim").string()
        << "),\n"
           "and runs the commands of FILE, or of its standard input, one per line:\n\n"
        << phone::commandHelp()
        << "\n\n"
           "--workout N makes the plan's workout N (0 = the first) the current one.\n"
           "--app-group DIR writes the next workout into DIR/group.tessaron.glanceside.json\n"
           "for the widget; --widget-data DIR takes the lock screen's Complete Set from\n"
           "DIR/standard.json; --widget-host PATH runs the workout's live activity on the\n"
           "widget host's phone socket. Without them phone-sim has no widget part.\n"
           "--write-snapshot FILE writes that workout as the binary property list the phone\n"
           "sends as a full snapshot, and exits.\n"
           "phone-sim runs until quit, SIGINT or SIGTERM; it exits with 1 when a command was\n"
           "refused or a wait-for timed out.\n";
    return status;
}

std::optional<std::string> readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int writeSnapshot(const phone::TrainingPlan& plan, const std::string& file, std::size_t index) {
    auto snapshot = phone::workoutSnapshot(plan, index, 1);
    if (!snapshot) {
        std::cerr << "phone-sim: the plan has no workout " << index << "\n";
        return 1;
    }
    auto bytes = platform::encodeBinaryPlist(platform::Value(std::move(*snapshot)));
    if (!bytes) {
        std::cerr << "phone-sim: the workout holds values a property list cannot carry\n";
        return 1;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes->data()),
              static_cast<std::streamsize>(bytes->size()));
    if (!out.flush()) {
        std::cerr << "phone-sim: cannot write " << file << "\n";
        return 1;
    }
    std::cout << "phone-sim: wrote workout " << index << " of \"" << plan.name << "\" ("
              << bytes->size() << " bytes) to " << file << "\n";
    return 0;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads command lines from a descriptor and waits for the stop signals, on a thread of its own,
// so that the main loop never blocks on input. The signals must be blocked in every thread
// before any starts.
class InputPump {
public:
    struct Events {
        std::function<void(std::string line)> line;
        std::function<void()> end;
        std::function<void(int signal)> signal;
    };

    // fd < 0: no input, signals only.
    InputPump(int fd, const sigset_t& signals, Events events)
        : input_(fd), signals_(::signalfd(-1, &signals, SFD_CLOEXEC)), events_(std::move(events)) {
        int pipe[2] = {-1, -1};
        if (::pipe2(pipe, O_CLOEXEC) == 0) {
            wakeRead_.emplace(pipe[0]);
            wakeWrite_.emplace(pipe[1]);
        }
        thread_ = std::thread([this] { run(); });
    }

    ~InputPump() {
        if (wakeWrite_) {
            char byte = 0;
            [[maybe_unused]] auto written = ::write(wakeWrite_->get(), &byte, 1);
        }
        thread_.join();
    }

    InputPump(const InputPump&) = delete;
    InputPump& operator=(const InputPump&) = delete;

private:
    void run() {
        std::string pending;
        bool reading = input_ >= 0;
        for (;;) {
            pollfd fds[3] = {{wakeRead_ ? wakeRead_->get() : -1, POLLIN, 0},
                             {signals_.get(), POLLIN, 0},
                             {reading ? input_ : -1, POLLIN, 0}};
            if (::poll(fds, 3, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[0].revents != 0) {
                return;
            }
            if (fds[1].revents != 0) {
                signalfd_siginfo info{};
                if (::read(signals_.get(), &info, sizeof info) == sizeof info) {
                    events_.signal(static_cast<int>(info.ssi_signo));
                }
            }
            if (fds[2].revents != 0) {
                char buffer[4096];
                auto n = ::read(input_, buffer, sizeof buffer);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    if (!pending.empty()) {
                        events_.line(std::move(pending));
                        pending.clear();
                    }
                    reading = false;
                    events_.end();
                    continue;
                }
                pending.append(buffer, static_cast<std::size_t>(n));
                for (auto newline = pending.find('\n'); newline != std::string::npos;
                     newline = pending.find('\n')) {
                    events_.line(pending.substr(0, newline));
                    pending.erase(0, newline + 1);
                }
            }
        }
    }

    int input_;
    FileDescriptor signals_;
    std::optional<FileDescriptor> wakeRead_;
    std::optional<FileDescriptor> wakeWrite_;
    Events events_;
    std::thread thread_;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A missing directory for the socket is made private to the user: the link carries their data.
bool prepareSocketDirectory(const platform::LinkAddress& address, std::string& error) {
    if (address.kind != platform::LinkAddress::Kind::unixSocket) {
        return true;
    }
    auto directory = std::filesystem::path(address.path).parent_path();
    if (directory.empty() || std::filesystem::exists(directory)) {
        return true;
    }
    std::error_code failure;
    std::filesystem::create_directories(directory, failure);
    if (!failure) {
        std::filesystem::permissions(directory, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, failure);
    }
    if (failure) {
        error = "cannot create " + directory.string() + ": " + failure.message();
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* value = nullptr;
        if (arg == "--help" || arg == "-h") {
            return usage(std::cout, 0);
        } else if (arg == "--link" && (value = next())) {
            options.link = value;
        } else if (arg == "--data-dir" && (value = next())) {
            options.dataDirectory = value;
        } else if (arg == "--plan" && (value = next())) {
            options.planFile = value;
        } else if (arg == "--script" && (value = next())) {
            options.scriptFile = value;
        } else if (arg == "--app-group" && (value = next())) {
            options.widgets.appGroup = value;
        } else if (arg == "--widget-data" && (value = next())) {
            options.widgets.widgetData = value;
        } else if (arg == "--widget-host" && (value = next())) {
            options.widgets.hostSocket = value;
        } else if (arg == "--write-snapshot" && (value = next())) {
            options.snapshotFile = value;
        } else if (arg == "--workout" && (value = next())) {
            try {
                options.workout = std::stoul(value);
            } catch (const std::exception&) {
                std::cerr << "phone-sim: --workout needs a number, got \"" << value << "\"\n";
                return 2;
            }
        } else {
            std::cerr << "phone-sim: unexpected argument \"" << arg << "\"\n";
            return usage(std::cerr, 2);
        }
    }

    std::string planText(phone::embeddedDemoPlanText());
    if (!options.planFile.empty()) {
        auto text = readText(options.planFile);
        if (!text) {
            std::cerr << "phone-sim: cannot read plan " << options.planFile << "\n";
            return 1;
        }
        planText = std::move(*text);
    }
    auto plan = phone::parseTrainingPlan(planText);
    if (!plan) {
        std::cerr << "phone-sim: the plan is not a JSON object with \"name\" and \"workouts\"\n";
        return 1;
    }
    if (!options.snapshotFile.empty()) {
        return writeSnapshot(*plan, options.snapshotFile, options.workout.value_or(0));
    }

    std::vector<std::string> script;
    if (!options.scriptFile.empty()) {
        auto text = readText(options.scriptFile);
        if (!text) {
            std::cerr << "phone-sim: cannot read script " << options.scriptFile << "\n";
            return 1;
        }
        script = splitLines(*text);
    }
    std::string error;
    auto linkText = options.link.empty() ? platform::defaultLinkAddress() : options.link;
    auto address = platform::parseLinkAddress(linkText, &error);
    if (!address) {
        std::cerr << "phone-sim: --link " << linkText << ": " << error << "\n";
        return 2;
    }
    if (!prepareSocketDirectory(*address, error)) {
        std::cerr << "phone-sim: " << error << "\n";
        return 1;
    }
    auto dataDirectory = options.dataDirectory.empty() ? platform::defaultDataDirectory("phone-sim")
                                                       : options.dataDirectory;

    // Before any thread starts, so that only the input pump hears them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    platform::StreamLog log(std::cout);
    platform::SystemExecutor executor;
    std::error_code failure;
    std::filesystem::create_directories(dataDirectory, failure);
    if (failure) {
        std::cerr << "phone-sim: cannot create " << dataDirectory.string() << ": "
                  << failure.message() << "\n";
        return 1;
    }
    platform::SqliteKeyValueStores stores(dataDirectory, log);
    platform::LocalFileSystem files(dataDirectory);
    // Outlives the session, whose thread may still be inside a callback when the app goes.
    std::shared_ptr<platform::SessionDelegate> delegate;
    phone::PhoneLink link(
        std::make_unique<platform::SocketTransport>(platform::LinkRole::phone, *address, log),
        platform::SessionEngineServices{executor, stores.standard(), files, log});
    auto app = phone::PhoneApp::open({executor, link.session(), log, dataDirectory, &link},
                                     std::move(*plan), &error);
    if (!app) {
        std::cerr << "phone-sim: " << error << "\n";
        return 1;
    }
    delegate = app->sessionDelegate();
    phone::CommandRunner runner(*app, executor.main(), log,
                                [&executor] { executor.mainLoop().stop(); });

    log.line("phone-sim: listening on " + platform::toString(*address) + "; logbook " +
             app->logbookFile().string() + "; plan \"" + app->plan().name + "\" (" +
             std::to_string(app->plan().workouts.size()) + " workouts)");
    if (options.workout && !app->selectWorkout(*options.workout)) {
        return 2;
    }
    app->start();
    std::unique_ptr<phone::PhoneWidgets> widgets;
    if (options.widgets.appGroup || options.widgets.widgetData || options.widgets.hostSocket) {
        // The phone application owns its app-group container: it is there before the first
        // write, as the widget expects.
        if (options.widgets.appGroup) {
            std::error_code ignored;
            std::filesystem::create_directories(*options.widgets.appGroup, ignored);
        }
        widgets = std::make_unique<phone::PhoneWidgets>(executor, log, *app, options.widgets);
        app->setStatusLine([&widgets] { return widgets->statusLine(); });
        widgets->start();
    }

    auto& main = executor.main();
    for (auto& line : script) {
        main.async([&runner, line] { runner.submit(line); });
    }
    if (!options.scriptFile.empty()) {
        main.async([&runner] { runner.endOfInput(); });
    }
    InputPump pump(options.scriptFile.empty() ? STDIN_FILENO : -1, stopSignals,
                   {[&main, &runner](std::string line) {
                        main.async([&runner, line = std::move(line)] { runner.submit(line); });
                    },
                    [&main, &runner] { main.async([&runner] { runner.endOfInput(); }); },
                    [&main, &log, &executor](int signal) {
                        main.async([&log, &executor, signal] {
                            log.line(std::string("phone-sim: ") + ::strsignal(signal) +
                                     ", quitting");
                            executor.mainLoop().stop();
                        });
                    }});
    executor.mainLoop().run();
    return runner.failures() > 0 ? 1 : 0;
}
