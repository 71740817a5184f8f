// Parsing the phone snapshot: our decoder against libplist's, on the same bytes. (plistlib is
// timed by plistlib_parse.py on the file write_snapshot_fixture produces.)
#include "snapshot_fixture.hpp"

#include "platform/values/bplist.hpp"

#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <cstdint>

namespace {

const platform::Data& snapshot() {
    static const platform::Data bytes = bench::phoneSnapshotBytes();
    return bytes;
}

void BM_OurParse(benchmark::State& state) {
    const auto& bytes = snapshot();
    if (!platform::decodeBinaryPlist(bytes)) {
        state.SkipWithError("the snapshot does not decode");
        return;
    }
    for (auto _ : state) {
        auto value = platform::decodeBinaryPlist(bytes);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_OurParse)->Unit(benchmark::kMicrosecond);

void BM_LibplistParse(benchmark::State& state) {
    const auto& bytes = snapshot();
    const auto* text = reinterpret_cast<const char*>(bytes.data());
    const auto length = static_cast<std::uint32_t>(bytes.size());
    for (auto _ : state) {
        plist_t root = nullptr;
        plist_from_bin(text, length, &root);
        if (root == nullptr) {
            state.SkipWithError("libplist cannot read the snapshot");
            break;
        }
        benchmark::DoNotOptimize(root);
        plist_free(root);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LibplistParse)->Unit(benchmark::kMicrosecond);

// Copying the decoded tree allocates and frees what decoding does, with no parsing at all: the
// floor under any decoder that produces platform::Value.
void BM_CopyValueTree(benchmark::State& state) {
    const auto value = bench::phoneSnapshot();
    for (auto _ : state) {
        auto copy = value;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_CopyValueTree)->Unit(benchmark::kMicrosecond);

void BM_OurEncode(benchmark::State& state) {
    const auto value = bench::phoneSnapshot();
    for (auto _ : state) {
        auto bytes = platform::encodeBinaryPlist(value);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_OurEncode)->Unit(benchmark::kMicrosecond);

} // namespace
