#!/usr/bin/env python3
"""Times CPython's plistlib.loads on a binary property list, for comparison with BM_OurParse.

  plistlib_parse.py SNAPSHOT.bplist [--runs N]

SNAPSHOT.bplist comes from write_snapshot_fixture (built with -DWRISTSIDE_BENCH=ON, which also
writes bench/snapshot.bplist in the build directory). Prints the medians of N single parses.
"""

import argparse
import plistlib
import statistics
import time
import timeit


def median_us(data, timer, runs):
    times = timeit.repeat(
        lambda: plistlib.loads(data, fmt=plistlib.FMT_BINARY), timer=timer, number=1, repeat=runs
    )
    return statistics.median(times) * 1e6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("snapshot")
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    with open(args.snapshot, "rb") as f:
        data = f.read()
    plistlib.loads(data, fmt=plistlib.FMT_BINARY)  # warm up, and fail early on a bad file
    # Wall and CPU time, like Google Benchmark's Time and CPU columns: on a busy machine only the
    # second compares fairly.
    wall = median_us(data, time.perf_counter, args.runs)
    cpu = median_us(data, time.process_time, args.runs)
    print(
        f"plistlib.loads: median {wall:.1f} us wall, {cpu:.1f} us CPU"
        f" over {args.runs} runs ({len(data)} bytes)"
    )


if __name__ == "__main__":
    main()
