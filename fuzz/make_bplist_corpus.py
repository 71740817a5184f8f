#!/usr/bin/env python3
"""Writes the seed corpus for fuzz_bplist: a few documents written by CPython's plistlib.

  make_bplist_corpus.py [OUT_DIR]   (default: corpus/bplist beside this script)
"""

import datetime, os, plistlib, sys

shared = ["a", 1]
SEEDS = {
    "int": 42, "negative": -(2**63), "int16": 2**63,  # plistlib writes 2**63 in 16 bytes
    "real": 1.5, "true": True, "date": datetime.datetime(2024, 6, 11, 7, 30, 15, 250000),
    "ascii": "Bench press", "unicode": "caf\u00e9 \U0001F3CB", "data": bytes(range(40)),
    "empty_array": [], "empty_dict": {}, "shared": [shared, shared, {"x": shared}],
    "long_array": list(range(300)),
    "snapshot": {"syncRevision": 12, "exercises": [{
        "id": "5D6F9E2A-1B3C-4D5E-8F90-A1B2C3D4E5F6", "name": "Squat", "isTimed": False,
        "timerSeconds": 90, "barbell": {"id": "olympic", "weight": 20.0},
        "exerciseSets": [{"setNumber": n, "reps": "5", "weight": "100", "bandColor": "#FF5216",
                          "dateCompleted": 739_000_000.5 + n} for n in range(3)]}]},
}

if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus",
                                                             "bplist")
    os.makedirs(out, exist_ok=True)
    for name, value in SEEDS.items():
        with open(os.path.join(out, name + ".bplist"), "wb") as f:
            f.write(plistlib.dumps(value, fmt=plistlib.FMT_BINARY))
