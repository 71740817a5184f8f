// Cross-checks the codec against CPython's plistlib, an implementation written independently of
// ours: each side reads what the other writes.

#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#ifndef WRISTSIDE_PYTHON3
#define WRISTSIDE_PYTHON3 "python3"
#endif

namespace {

using namespace platform;
using bplist_test::identical;
namespace fs = std::filesystem;

constexpr int documentCount = 200;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "bplist-peer-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

bool runPeer(const std::string& arguments) {
    const std::string command =
        std::string("'") + WRISTSIDE_PYTHON3 + "' '" + BPLIST_PEER_SCRIPT + "' " + arguments;
    return std::system(command.c_str()) == 0;
}

std::string quoted(const fs::path& p) {
    return "'" + p.string() + "'";
}

Data readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& p, const Data& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Values that survive a trip through plistlib's Python objects: dates in whole microseconds
// (datetime's resolution) and no -0.0 (plistlib writes it and 0.0 as one shared object).
class PeerSafeGenerator {
public:
    explicit PeerSafeGenerator(std::uint64_t seed) : rng_(seed) {}

    Value value(int depth) {
        const int kinds = depth > 0 ? 9 : 6;
        switch (below(kinds)) {
        case 0:
            return Value(below(2) == 1);
        case 1:
            return Value(integer());
        case 2:
            return Value(real());
        case 3: {
            const auto micros =
                static_cast<std::int64_t>(rng_() % 20'000'000'000'000'000) - 10'000'000'000'000'000;
            return Value(Date{static_cast<double>(micros) / 1e6});
        }
        case 4:
            return Value(text());
        case 5: {
            Data data(length());
            for (auto& byte : data) {
                byte = static_cast<std::uint8_t>(rng_());
            }
            return Value(std::move(data));
        }
        case 6:
        case 7: {
            Array array(length() % 24);
            for (auto& element : array) {
                element = value(depth - 1);
            }
            return Value(std::move(array));
        }
        default: {
            Dictionary dict;
            for (std::size_t n = length() % 24; n > 0; --n) {
                dict.emplace(text(), value(depth - 1));
            }
            return Value(std::move(dict));
        }
        }
    }

private:
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng_() % n); }

    std::size_t length() {
        constexpr std::size_t interesting[] = {0, 1, 14, 15, 16, 31};
        return below(3) == 0 ? below(300) : interesting[below(std::size(interesting))];
    }

    std::int64_t integer() {
        constexpr std::int64_t edges[] = {0,
                                          -1,
                                          255,
                                          256,
                                          65535,
                                          65536,
                                          4294967295,
                                          4294967296,
                                          std::numeric_limits<std::int64_t>::min(),
                                          std::numeric_limits<std::int64_t>::max()};
        switch (below(3)) {
        case 0:
            return edges[below(std::size(edges))];
        case 1:
            return static_cast<std::int64_t>(below(70000));
        default:
            return static_cast<std::int64_t>(rng_());
        }
    }

    double real() {
        double d = below(2) == 0 ? std::bit_cast<double>(rng_())
                                 : std::uniform_real_distribution<double>(-1e6, 1e6)(rng_);
        return d == 0 ? 0.0 : d;
    }

    std::string text() {
        std::string out;
        const bool ascii = below(2) == 0;
        for (std::size_t n = length() % 40; n > 0; --n) {
            std::uint32_t cp = ascii ? static_cast<std::uint32_t>(0x20 + below(0x5F))
                                     : static_cast<std::uint32_t>(below(0x110000));
            if (cp >= 0xD800 && cp <= 0xDFFF) {
                cp -= 0x1000;
            }
            out += bplist_test::toUtf8({cp});
        }
        return out;
    }

    std::mt19937_64 rng_;
};

std::uint64_t parseBits(const std::string& hex) {
    return std::stoull(hex, nullptr, 16);
}

std::string parseHexText(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The value a description from plistlib_peer.py stands for; see the script for the format.
Value fromDescription(const nlohmann::json& d) {
    const std::string tag = d.at(0).get<std::string>();
    const auto& body = d.at(1);
    if (tag == "bool") {
        return Value(body.get<bool>());
    }
    if (tag == "int") {
        return Value(std::stoll(body.get<std::string>()));
    }
    if (tag == "real") {
        return Value(std::bit_cast<double>(parseBits(body.get<std::string>())));
    }
    if (tag == "date") {
        return Value(Date{std::bit_cast<double>(parseBits(body.get<std::string>()))});
    }
    if (tag == "str") {
        return Value(parseHexText(body.get<std::string>()));
    }
    if (tag == "data") {
        const std::string bytes = parseHexText(body.get<std::string>());
        return Value(Data(bytes.begin(), bytes.end()));
    }
    if (tag == "array") {
        Array array;
        for (const auto& element : body) {
            array.push_back(fromDescription(element));
        }
        return Value(std::move(array));
    }
    if (tag == "dict") {
        Dictionary dict;
        for (const auto& entry : body) {
            dict.emplace(parseHexText(entry.at(0).get<std::string>()),
                         fromDescription(entry.at(1)));
        }
        return Value(std::move(dict));
    }
    ADD_FAILURE() << "unknown description tag " << tag;
    return Value{};
}

TEST(BinaryPlistAgainstPlistlib, PlistlibReadsOurDocumentsAndWeReadItsRewrite) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path ours = dir.path() / "ours";
    const fs::path back = dir.path() / "back";
    fs::create_directories(ours);

    PeerSafeGenerator generator(0x5EED'B915);
    std::vector<Value> values;
    for (int i = 0; i < documentCount; ++i) {
        values.push_back(generator.value(i % 4));
        auto bytes = encodeBinaryPlist(values.back());
        ASSERT_TRUE(bytes.has_value()) << values.back();
        writeFile(ours / (std::to_string(i) + ".bplist"), *bytes);
    }
    ASSERT_TRUE(runPeer("reencode " + quoted(ours) + " " + quoted(back)));

    for (int i = 0; i < documentCount; ++i) {
        const Data rewritten = readFile(back / (std::to_string(i) + ".bplist"));
        auto decoded = decodeBinaryPlist(rewritten);
        ASSERT_TRUE(decoded.has_value()) << "document " << i;
        EXPECT_TRUE(identical(*decoded, values[static_cast<std::size_t>(i)]))
            << "document " << i << "\nours:     " << values[static_cast<std::size_t>(i)]
            << "\nplistlib: " << *decoded;
    }
}

TEST(BinaryPlistAgainstPlistlib, WeReadWhatPlistlibWrites) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const fs::path theirs = dir.path() / "theirs";
    ASSERT_TRUE(
        runPeer("generate " + quoted(theirs) + " 20240611 " + std::to_string(documentCount)));

    for (int i = 0; i < documentCount; ++i) {
        const std::string stem = std::to_string(i);
        std::ifstream descriptionFile(theirs / (stem + ".json"));
        const Value expected = fromDescription(nlohmann::json::parse(descriptionFile));
        auto decoded = decodeBinaryPlist(readFile(theirs / (stem + ".bplist")));
        ASSERT_TRUE(decoded.has_value()) << "document " << i << ": " << expected;
        EXPECT_TRUE(identical(*decoded, expected))
            << "document " << i << "\nexpected: " << expected << "\ndecoded:  " << *decoded;
        // Whatever we accept from another writer, we can write again.
        EXPECT_TRUE(isPropertyList(*decoded));
    }
}

} // namespace
