#include "phone/widget/suite_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace phone::widget {

namespace {

bool validName(std::string_view name) {
    if (name.empty() || name.front() == '.') {
        return false;
    }
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

std::string systemError(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::optional<nlohmann::json> readSuite(const std::filesystem::path& directory,
                                        std::string_view name, std::string* error) {
    if (!validName(name)) {
        fail(error, "invalid suite name \"" + std::string(name) + "\"");
        return std::nullopt;
    }
    std::error_code failure;
    if (!std::filesystem::is_directory(directory, failure)) {
        fail(error, directory.string() + " is not a directory");
        return std::nullopt;
    }
    const auto file = directory / (std::string(name) + ".json");
    auto status = std::filesystem::status(file, failure);
    if (status.type() == std::filesystem::file_type::not_found) {
        return nlohmann::json::object();
    }
    if (failure || status.type() != std::filesystem::file_type::regular) {
        fail(error, file.string() + " is not a readable file");
        return std::nullopt;
    }
    if (std::filesystem::file_size(file, failure) > largestSuiteFile || failure) {
        fail(error, file.string() + " is larger than the limit");
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fail(error, "cannot read " + file.string());
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        fail(error, "cannot read " + file.string());
        return std::nullopt;
    }
    auto object = nlohmann::json::parse(text, nullptr, false);
    if (!object.is_object()) {
        fail(error, file.string() + " does not hold one JSON object");
        return std::nullopt;
    }
    return object;
}

bool writeSuiteKey(const std::filesystem::path& directory, std::string_view name,
                   const std::string& key, const nlohmann::json& value, std::string* error) {
    if (!validName(name)) {
        return fail(error, "invalid suite name \"" + std::string(name) + "\"");
    }
    auto object = readSuite(directory, name).value_or(nlohmann::json::object());
    object[key] = value;
    const auto bytes = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);

    static std::atomic<unsigned> counter{0};
    const auto file = directory / (std::string(name) + ".json");
    auto temporary = file;
    temporary += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fail(error, systemError("cannot create", temporary));
    }
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const auto writeError = systemError("cannot write", temporary);
    ::close(fd);
    if (!written) {
        ::unlink(temporary.c_str());
        return fail(error, writeError);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        auto text = systemError("cannot rename over", file);
        ::unlink(temporary.c_str());
        return fail(error, text);
    }
    // The rename itself survives a crash only once the directory is on disk.
    int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::fsync(dir) != 0) {
        auto text = systemError("cannot sync", directory);
        if (dir >= 0) {
            ::close(dir);
        }
        return fail(error, text);
    }
    ::close(dir);
    return true;
}

} // namespace phone::widget
