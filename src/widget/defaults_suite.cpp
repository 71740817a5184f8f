#include "widget/defaults_suite.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace glanceside {
namespace {

using nlohmann::json;

void fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
}

std::string systemReason(const std::string& what, const std::filesystem::path& file) {
    return what + " " + file.string() + ": " + std::strerror(errno);
}

bool validName(std::string_view name) {
    if (name.empty() || name.front() == '.') {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!plain) {
            return false;
        }
    }
    return true;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

enum class ReadResult { object, missing, failed };

// The file's object into `out`; `missing` when there is no file.
ReadResult readObject(const std::filesystem::path& file, json& out, std::string* error) {
    Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            return ReadResult::missing;
        }
        fail(error, systemReason("cannot open", file));
        return ReadResult::failed;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(error, systemReason("cannot read", file));
            return ReadResult::failed;
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + static_cast<std::size_t>(n) > DefaultsSuite::maxFileBytes) {
            fail(error, file.string() + " is larger than the suite limit");
            return ReadResult::failed;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    json value = json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || !value.is_object()) {
        fail(error, file.string() + " does not hold one JSON object");
        return ReadResult::failed;
    }
    out = std::move(value);
    return ReadResult::object;
}

bool writeFully(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Temp file beside the target, fsync, rename over it, fsync the directory: the new object
// survives a crash once this returns true, and readers never see a partial file.
bool writeAtomically(const std::filesystem::path& file, const std::string& bytes,
                     std::string* error) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temporary = file;
    temporary += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    {
        Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd.valid()) {
            fail(error, systemReason("cannot create", temporary));
            return false;
        }
        if (!writeFully(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
            fail(error, systemReason("cannot write", temporary));
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        fail(error, systemReason("cannot replace", file));
        ::unlink(temporary.c_str());
        return false;
    }
    Descriptor directory(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid()) {
        ::fsync(directory.get());
    }
    return true;
}

std::optional<std::filesystem::path> suiteFile(const std::filesystem::path& directory,
                                               std::string_view name, std::string* error) {
    if (!validName(name)) {
        fail(error, "not a suite name: " + std::string(name));
        return std::nullopt;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec)) {
        fail(error, "no suite directory " + directory.string());
        return std::nullopt;
    }
    return directory / (std::string(name) + ".json");
}

// The file's current object with `key` set, once written; another process may have written since
// the caller last read it, so this starts from the file.
std::optional<json> setInFile(const std::filesystem::path& file, std::string_view key, json value,
                              std::string* error) {
    json current = json::object();
    if (readObject(file, current, nullptr) == ReadResult::failed) {
        current = json::object();
    }
    current[std::string(key)] = std::move(value);
    const std::string bytes = current.dump(-1, ' ', false, json::error_handler_t::replace);
    if (!writeAtomically(file, bytes, error)) {
        return std::nullopt;
    }
    return current;
}

} // namespace

std::optional<DefaultsSuite> DefaultsSuite::open(const std::filesystem::path& directory,
                                                 std::string_view name, std::string* error) {
    auto file = suiteFile(directory, name, error);
    if (!file) {
        return std::nullopt;
    }
    json content = json::object();
    if (readObject(*file, content, error) == ReadResult::failed) {
        return std::nullopt;
    }
    return DefaultsSuite(std::move(*file), std::move(content));
}

std::optional<json> DefaultsSuite::value(std::string_view key) const {
    const auto it = content_.find(key);
    if (it == content_.end()) {
        return std::nullopt;
    }
    return *it;
}

bool DefaultsSuite::set(std::string_view key, json value, std::string* error) {
    auto written = setInFile(file_, key, std::move(value), error);
    if (!written) {
        return false;
    }
    content_ = std::move(*written);
    return true;
}

bool DefaultsSuite::write(const std::filesystem::path& directory, std::string_view name,
                          std::string_view key, json value, std::string* error) {
    const auto file = suiteFile(directory, name, error);
    return file && setInFile(*file, key, std::move(value), error).has_value();
}

} // namespace glanceside
