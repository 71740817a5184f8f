#include "platform/files/file_system.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string describeErrno(std::string_view what, const fs::path& path, int code) {
    return std::string(what) + " " + path.string() + ": " + std::strerror(code);
}

void setError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Close reports write-back errors on some file systems, so its result matters.
    int close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Makes a directory's entries (a rename, a new child) survive a crash.
bool syncDirectory(const fs::path& dir, std::string* error) {
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || ::fsync(fd.get()) != 0) {
        setError(error, describeErrno("cannot sync directory", dir, errno));
        return false;
    }
    return true;
}

fs::path directoryOf(const fs::path& file) {
    auto dir = file.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

} // namespace

fs::path defaultDataDirectory(std::string_view programName) {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && fs::path(xdg).is_absolute()) {
        return fs::path(xdg) / programName;
    }
    fs::path home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = env;
    } else {
        std::vector<char> buffer(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr) {
            home = found->pw_dir;
        } else {
            home = ".";
        }
    }
    return home / ".local" / "share" / programName;
}

LocalFileSystem::LocalFileSystem(fs::path dataDirectory)
    : dataDirectory_(std::move(dataDirectory)) {}

fs::path LocalFileSystem::applicationSupportDirectory() const {
    return dataDirectory_ / "Application Support";
}

bool LocalFileSystem::createDirectories(const fs::path& dir, std::string* error) {
    std::vector<fs::path> created;
    std::error_code ec;
    for (auto p = dir; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        created.push_back(p);
        if (p == p.parent_path()) {
            break;
        }
    }
    fs::create_directories(dir, ec);
    if (ec) {
        setError(error, "cannot create directory " + dir.string() + ": " + ec.message());
        return false;
    }
    if (!fs::is_directory(dir, ec)) {
        setError(error, describeErrno("cannot create directory", dir, ENOTDIR));
        return false;
    }
    for (const auto& p : created) {
        if (!syncDirectory(directoryOf(p), error)) {
            return false;
        }
    }
    return true;
}

bool LocalFileSystem::writeAtomically(const fs::path& file, std::span<const std::uint8_t> bytes,
                                      std::string* error) {
    fs::path dir = directoryOf(file);
    std::string pattern = (dir / ("." + file.filename().string() + ".tmp-XXXXXX")).string();
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.valid()) {
        setError(error, describeErrno("cannot create a temporary file in", dir, errno));
        return false;
    }
    const fs::path temporary = pattern;
    auto fail = [&](std::string_view what, const fs::path& path) {
        int code = errno;
        ::unlink(temporary.c_str());
        setError(error, describeErrno(what, path, code));
        return false;
    };
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd.get(), next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("cannot write", temporary);
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd.get()) != 0) {
        return fail("cannot sync", temporary);
    }
    if (fd.close() != 0) {
        return fail("cannot close", temporary);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        return fail("cannot replace", file);
    }
    return syncDirectory(dir, error);
}

std::optional<Data> LocalFileSystem::read(const fs::path& file, std::string* error) const {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        setError(error, describeErrno("cannot open", file, errno));
        return std::nullopt;
    }
    Data data;
    struct stat info {};
    if (::fstat(fd.get(), &info) == 0 && info.st_size > 0) {
        data.reserve(static_cast<std::size_t>(info.st_size));
    }
    std::uint8_t buffer[65536];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            setError(error, describeErrno("cannot read", file, errno));
            return std::nullopt;
        }
        if (count == 0) {
            return data;
        }
        data.insert(data.end(), buffer, buffer + count);
    }
}

bool LocalFileSystem::remove(const fs::path& file) {
    return ::unlink(file.c_str()) == 0;
}

bool LocalFileSystem::exists(const fs::path& file) const {
    std::error_code ec;
    return fs::exists(file, ec);
}

MemoryFileSystem::MemoryFileSystem(fs::path dataDirectory)
    : dataDirectory_(std::move(dataDirectory).lexically_normal()) {}

fs::path MemoryFileSystem::applicationSupportDirectory() const {
    return dataDirectory_ / "Application Support";
}

bool MemoryFileSystem::createDirectories(const fs::path& dir, std::string* error) {
    std::lock_guard lock(mutex_);
    auto normal = dir.lexically_normal();
    if (writeFailure_) {
        setError(error, "cannot create directory " + normal.string() + ": " + *writeFailure_);
        return false;
    }
    for (auto p = normal; !p.empty(); p = p.parent_path()) {
        if (files_.contains(p)) {
            setError(error, describeErrno("cannot create directory", normal, ENOTDIR));
            return false;
        }
        if (p == p.parent_path()) {
            break;
        }
    }
    for (auto p = normal; !p.empty(); p = p.parent_path()) {
        directories_.insert(p);
        if (p == p.parent_path()) {
            break;
        }
    }
    return true;
}

bool MemoryFileSystem::writeAtomically(const fs::path& file, std::span<const std::uint8_t> bytes,
                                       std::string* error) {
    std::lock_guard lock(mutex_);
    auto normal = file.lexically_normal();
    if (writeFailure_) {
        setError(error, "cannot write " + normal.string() + ": " + *writeFailure_);
        return false;
    }
    auto dir = normal.parent_path();
    bool rooted = dir.empty() || dir == dir.parent_path();
    if (!rooted && !directories_.contains(dir)) {
        setError(error, describeErrno("cannot create a temporary file in", dir, ENOENT));
        return false;
    }
    if (directories_.contains(normal)) {
        setError(error, describeErrno("cannot replace", normal, EISDIR));
        return false;
    }
    files_[normal] = Data(bytes.begin(), bytes.end());
    return true;
}

std::optional<Data> MemoryFileSystem::read(const fs::path& file, std::string* error) const {
    std::lock_guard lock(mutex_);
    auto normal = file.lexically_normal();
    if (readFailure_) {
        setError(error, "cannot read " + normal.string() + ": " + *readFailure_);
        return std::nullopt;
    }
    auto it = files_.find(normal);
    if (it == files_.end()) {
        setError(error, describeErrno("cannot open", normal,
                                      directories_.contains(normal) ? EISDIR : ENOENT));
        return std::nullopt;
    }
    return it->second;
}

bool MemoryFileSystem::remove(const fs::path& file) {
    std::lock_guard lock(mutex_);
    return files_.erase(file.lexically_normal()) > 0;
}

bool MemoryFileSystem::exists(const fs::path& file) const {
    std::lock_guard lock(mutex_);
    auto normal = file.lexically_normal();
    return files_.contains(normal) || directories_.contains(normal);
}

void MemoryFileSystem::failWrites(std::string error) {
    std::lock_guard lock(mutex_);
    writeFailure_ = std::move(error);
}

void MemoryFileSystem::failReads(std::string error) {
    std::lock_guard lock(mutex_);
    readFailure_ = std::move(error);
}

void MemoryFileSystem::clearFailures() {
    std::lock_guard lock(mutex_);
    writeFailure_.reset();
    readFailure_.reset();
}

std::map<fs::path, Data> MemoryFileSystem::files() const {
    std::lock_guard lock(mutex_);
    return files_;
}

} // namespace platform
