#pragma once

#include "platform/values/value.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The app's files. Failures come back as false or nothing, with a readable reason in *error when
// the caller passes somewhere to put it. Calls may come from any thread.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // <dataDirectory>/Application Support; it exists only once createDirectories made it.
    virtual std::filesystem::path applicationSupportDirectory() const = 0;
    // True when the directory exists afterwards, whether or not it did before.
    virtual bool createDirectories(const std::filesystem::path& dir,
                                   std::string* error = nullptr) = 0;
    // Readers see either the old content or the new, never a mix, and the new content survives a
    // crash once this returns true. The directory must exist.
    virtual bool writeAtomically(const std::filesystem::path& file,
                                 std::span<const std::uint8_t> bytes,
                                 std::string* error = nullptr) = 0;
    virtual std::optional<Data> read(const std::filesystem::path& file,
                                     std::string* error = nullptr) const = 0;
    // True when a file was there and is gone; false when there was none or it could not go.
    virtual bool remove(const std::filesystem::path& file) = 0;
    virtual bool exists(const std::filesystem::path& file) const = 0;
};

// $XDG_DATA_HOME/<programName> when that variable holds an absolute path, else
// ~/.local/share/<programName>.
std::filesystem::path defaultDataDirectory(std::string_view programName);

// The real file system. Files written here are readable by their owner only.
class LocalFileSystem final : public FileSystem {
public:
    explicit LocalFileSystem(std::filesystem::path dataDirectory);

    std::filesystem::path applicationSupportDirectory() const override;
    bool createDirectories(const std::filesystem::path& dir, std::string* error = nullptr) override;
    bool writeAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         std::string* error = nullptr) override;
    std::optional<Data> read(const std::filesystem::path& file,
                             std::string* error = nullptr) const override;
    bool remove(const std::filesystem::path& file) override;
    bool exists(const std::filesystem::path& file) const override;

private:
    std::filesystem::path dataDirectory_;
};

// Files in a map, for tests. Like the real one, a write needs its directory to have been
// created first. Failures can be switched on to exercise callers' error paths.
class MemoryFileSystem final : public FileSystem {
public:
    explicit MemoryFileSystem(std::filesystem::path dataDirectory = "/memory");

    std::filesystem::path applicationSupportDirectory() const override;
    bool createDirectories(const std::filesystem::path& dir, std::string* error = nullptr) override;
    bool writeAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         std::string* error = nullptr) override;
    std::optional<Data> read(const std::filesystem::path& file,
                             std::string* error = nullptr) const override;
    bool remove(const std::filesystem::path& file) override;
    bool exists(const std::filesystem::path& file) const override;

    // While set, writeAtomically and createDirectories fail with this text and change nothing.
    void failWrites(std::string error);
    // While set, read fails with this text.
    void failReads(std::string error);
    void clearFailures();

    // The files currently held, in path order.
    std::map<std::filesystem::path, Data> files() const;

private:
    mutable std::mutex mutex_;
    std::filesystem::path dataDirectory_;
    std::map<std::filesystem::path, Data> files_;
    std::set<std::filesystem::path> directories_;
    std::optional<std::string> writeFailure_;
    std::optional<std::string> readFailure_;
};

} // namespace platform
