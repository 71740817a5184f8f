// Cross-checks the codec against CPython's plistlib, an implementation written independently of
// ours: each side reads what the other writes.

#include "platform/files/temp_directory.hpp"
#include "platform/values/bplist.hpp"
#include "platform/values/bplist_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cstdlib>
#include <string>

#ifndef WRISTSIDE_PYTHON3
#define WRISTSIDE_PYTHON3 "python3"
#endif

namespace {

using namespace platform;
using platform::testing::TempDirectory;

constexpr int documentCount = 200;

bool runPeer(const std::string& arguments) {
    const std::string command =
        std::string("'") + WRISTSIDE_PYTHON3 + "' '" + BPLIST_PEER_SCRIPT + "' " + arguments;
    return std::system(command.c_str()) == 0;
}

std::string fromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The value a description from plistlib_peer.py stands for; see the script for the format.
Value fromDescription(const nlohmann::json& d) {
    const auto tag = d.at(0).get<std::string>();
    const auto& body = d.at(1);
    const auto text = body.is_string() ? body.get<std::string>() : std::string();
    if (tag == "bool") {
        return body.get<bool>();
    }
    if (tag == "int") {
        return std::stoll(text);
    }
    if (tag == "real" || tag == "date") {
        const auto bits = std::bit_cast<double>(std::stoull(text, nullptr, 16));
        return tag == "real" ? Value(bits) : Value(Date{bits});
    }
    if (tag == "str") {
        return fromHex(text);
    }
    if (tag == "data") {
        const auto bytes = fromHex(text);
        return Data(bytes.begin(), bytes.end());
    }
    if (tag == "array") {
        Array array;
        for (const auto& element : body) {
            array.push_back(fromDescription(element));
        }
        return array;
    }
    EXPECT_EQ(tag, "dict");
    Dictionary dict;
    for (const auto& entry : body) {
        dict.emplace(fromHex(entry.at(0).get<std::string>()), fromDescription(entry.at(1)));
    }
    return dict;
}

TEST(BinaryPlistAgainstPlistlib, WeReadWhatPlistlibWritesAndItReadsWhatWeWrite) {
    TempDirectory dir;
    const auto theirs = dir.path() / "theirs";
    const auto ours = dir.path() / "ours";
    std::filesystem::create_directories(ours);
    ASSERT_TRUE(
        runPeer("generate '" + theirs.string() + "' 20240611 " + std::to_string(documentCount)));
    std::vector<Value> values;
    for (int i = 0; i < documentCount; ++i) {
        const auto name = std::to_string(i) + ".bplist";
        values.push_back(fromDescription(nlohmann::json::parse(
            TempDirectory::readText(theirs / (std::to_string(i) + ".json")))));
        const auto bytes = TempDirectory::readText(theirs / name);
        auto decoded = decodeBinaryPlist(Data(bytes.begin(), bytes.end()));
        ASSERT_TRUE(decoded) << "document " << i << ": " << values.back();
        EXPECT_TRUE(bplist_test::identical(*decoded, values.back()))
            << "document " << i << "\nexpected: " << values.back() << "\ndecoded:  " << *decoded;
        // Whatever we accept from another writer, we can write again.
        const auto written = encodeBinaryPlist(values.back());
        ASSERT_TRUE(written) << "document " << i;
        TempDirectory::writeText(ours / name, std::string(written->begin(), written->end()));
    }

    const auto back = dir.path() / "back";
    ASSERT_TRUE(runPeer("reencode '" + ours.string() + "' '" + back.string() + "'"));
    for (int i = 0; i < documentCount; ++i) {
        const auto bytes = TempDirectory::readText(back / (std::to_string(i) + ".bplist"));
        auto decoded = decodeBinaryPlist(Data(bytes.begin(), bytes.end()));
        ASSERT_TRUE(decoded) << "document " << i;
        EXPECT_TRUE(bplist_test::identical(*decoded, values[static_cast<std::size_t>(i)]))
            << "document " << i << "\nours:     " << values[static_cast<std::size_t>(i)]
            << "\nplistlib: " << *decoded;
    }
}

} // namespace
