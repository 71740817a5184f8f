#!/usr/bin/env python3
"""CPython's plistlib as an independent peer for the binary property-list codec tests.

  plistlib_peer.py reencode IN_DIR OUT_DIR
      Reads every IN_DIR/*.bplist with plistlib and writes it back out to OUT_DIR under the same
      name, written by plistlib.

  plistlib_peer.py generate OUT_DIR SEED COUNT
      Writes COUNT seeded random documents as OUT_DIR/N.bplist, each with OUT_DIR/N.json telling
      exactly which value it holds.

The descriptions are tagged JSON that leaves nothing to a parser's rounding: ["int", "decimal"],
["real", bits], ["date", bits] (bits: the IEEE 754 double as 16 hex digits; dates in seconds since
2001), ["str", UTF-8 as hex], ["data", hex], ["bool", true], ["array", [...]] and
["dict", [[key as UTF-8 hex, value], ...]].
"""

import datetime
import json
import math
import os
import plistlib
import random
import struct
import sys

EPOCH = datetime.datetime(2001, 1, 1)


def reencode(in_dir, out_dir):
    os.makedirs(out_dir, exist_ok=True)
    for name in sorted(os.listdir(in_dir)):
        if not name.endswith(".bplist"):
            continue
        with open(os.path.join(in_dir, name), "rb") as f:
            value = plistlib.loads(f.read(), fmt=plistlib.FMT_BINARY)
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(plistlib.dumps(value, fmt=plistlib.FMT_BINARY))


def bits(x):
    return struct.pack(">d", x).hex()


def describe(value):
    if isinstance(value, bool):
        return ["bool", value]
    if isinstance(value, int):
        return ["int", str(value)]
    if isinstance(value, float):
        return ["real", bits(value)]
    if isinstance(value, datetime.datetime):
        return ["date", bits((value - EPOCH).total_seconds())]
    if isinstance(value, str):
        return ["str", value.encode("utf-8").hex()]
    if isinstance(value, bytes):
        return ["data", value.hex()]
    if isinstance(value, list):
        return ["array", [describe(v) for v in value]]
    if isinstance(value, dict):
        return ["dict", [[k.encode("utf-8").hex(), describe(v)] for k, v in value.items()]]
    raise TypeError(type(value))


class Generator:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        # Containers already built; reusing one makes plistlib write it once and refer to it
        # from several places.
        self.built = []

    def code_point(self):
        r = self.rng.random()
        if r < 0.6:
            return self.rng.randrange(0x20, 0x7F)
        if r < 0.65:
            return self.rng.randrange(0, 0x20)
        if r < 0.8:
            return self.rng.randrange(0x80, 0xD800)
        if r < 0.9:
            return self.rng.randrange(0xE000, 0x10000)
        return self.rng.randrange(0x10000, 0x110000)

    def text(self):
        n = self.rng.choice([0, 1, 3, 8, 14, 15, 16, 40, self.rng.randrange(0, 300)])
        if self.rng.random() < 0.4:
            return "".join(chr(self.rng.randrange(0x20, 0x7F)) for _ in range(n))
        return "".join(chr(self.code_point()) for _ in range(n))

    def integer(self):
        r = self.rng.random()
        if r < 0.2:
            return self.rng.choice(
                [0, 1, -1, 255, 256, 65535, 65536, 2**31, 2**32 - 1, 2**32, 2**63 - 1, -(2**63)]
            )
        if r < 0.5:
            return self.rng.randrange(0, 256)
        if r < 0.7:
            return self.rng.randrange(-(2**31), 2**32)
        return self.rng.randrange(-(2**63), 2**63)

    def real(self):
        r = self.rng.random()
        if r < 0.2:
            x = self.rng.choice(
                [0.0, 1.0, 0.1, math.inf, -math.inf, math.nan, 5e-324, 1.7976931348623157e308]
            )
        elif r < 0.6:
            x = struct.unpack(">d", self.rng.getrandbits(64).to_bytes(8, "big"))[0]
        else:
            x = self.rng.uniform(-1e6, 1e6)
        # plistlib writes equal scalars once, and -0.0 == 0.0, so a document holding both would
        # not hold what its description says.
        return 0.0 if x == 0 else x

    def date(self):
        # Whole microseconds within a few centuries: what a datetime can hold exactly.
        micros = self.rng.randrange(-(10**16), 10**16)
        return EPOCH + datetime.timedelta(microseconds=micros)

    def value(self, depth):
        """A random value and the number of values inside it, itself included."""
        kinds = ["bool", "int", "real", "date", "str", "data"]
        if depth > 0:
            kinds += ["array", "dict", "array", "dict"]
            if self.built:
                kinds.append("shared")
        kind = self.rng.choice(kinds)
        if kind == "bool":
            return self.rng.random() < 0.5, 1
        if kind == "int":
            return self.integer(), 1
        if kind == "real":
            return self.real(), 1
        if kind == "date":
            return self.date(), 1
        if kind == "str":
            return self.text(), 1
        if kind == "data":
            n = self.rng.choice([0, 1, 14, 15, 16, self.rng.randrange(300)])
            return self.rng.randbytes(n), 1
        if kind == "shared":
            return self.rng.choice(self.built)
        n = self.rng.choice([0, 1, 2, 5, 14, 15, 16, 20])
        children = [self.value(depth - 1) for _ in range(n)]
        size = 1 + sum(size for _, size in children)
        if kind == "array":
            result = [v for v, _ in children]
        else:
            result = {self.text(): v for v, _ in children}
        if size <= 50:
            self.built.append((result, size))
        return result, size


def generate(out_dir, seed, count):
    os.makedirs(out_dir, exist_ok=True)
    gen = Generator(seed)
    for i in range(count):
        gen.built = []
        value, _ = gen.value(gen.rng.randrange(0, 4))
        with open(os.path.join(out_dir, f"{i}.bplist"), "wb") as f:
            f.write(plistlib.dumps(value, fmt=plistlib.FMT_BINARY))
        with open(os.path.join(out_dir, f"{i}.json"), "w") as f:
            json.dump(describe(value), f)


def main(argv):
    if len(argv) == 4 and argv[1] == "reencode":
        reencode(argv[2], argv[3])
    elif len(argv) == 5 and argv[1] == "generate":
        generate(argv[2], int(argv[3]), int(argv[4]))
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
