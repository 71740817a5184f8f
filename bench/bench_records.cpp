// From the phone's bytes to the watch's records, beside the bare parse in bench_bplist.cpp.
#include "model/conversions.hpp"
#include "model/decoding.hpp"
#include "platform/values/bplist.hpp"
#include "snapshot_fixture.hpp"

#include <benchmark/benchmark.h>

namespace {

// Bytes to records: the parse plus decoding every exercise and set.
void BM_DecodeRecords(benchmark::State& state) {
    const auto bytes = bench::phoneSnapshotBytes();
    for (auto _ : state) {
        auto value = platform::decodeBinaryPlist(bytes);
        auto exercises = model::decodeExerciseList(value->find("exercises"));
        benchmark::DoNotOptimize(exercises);
        if (!exercises || exercises->size() != 50) {
            state.SkipWithError("the snapshot did not decode to 50 exercises");
            return;
        }
    }
}
BENCHMARK(BM_DecodeRecords)->Unit(benchmark::kMicrosecond);

// The records step alone, from an already parsed value.
void BM_RecordsOnly(benchmark::State& state) {
    const auto value = bench::phoneSnapshot();
    for (auto _ : state) {
        auto exercises = model::decodeExerciseList(value.find("exercises"));
        benchmark::DoNotOptimize(exercises);
    }
}
BENCHMARK(BM_RecordsOnly)->Unit(benchmark::kMicrosecond);

} // namespace
