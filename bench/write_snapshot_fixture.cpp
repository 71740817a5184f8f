// Writes the benchmark snapshot to a file, so that other parsers (plistlib_parse.py) time the very
// same bytes.
#include "snapshot_fixture.hpp"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bplist\n", argv[0]);
        return 2;
    }
    const auto bytes = bench::phoneSnapshotBytes();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %zu bytes\n", argv[1], bytes.size());
    return 0;
}
