#!/usr/bin/env python3
"""Independent reference of the pool draw: the xorshift64* generator, the quarter rule of a
randomised parameter and the per-pool draw of one trigger.

Written independently of the C++ code, with the standard library only, so the C++ code
can be checked against numbers it did not produce. Prints a C++ header with the tables:

    python3 tests/engine/reference/draw_reference.py > tests/engine/reference/DrawReference.h

Floats are carried as their 32-bit patterns so the comparison is exact.
"""

import math
import struct
import sys

MASK64 = (1 << 64) - 1
MULT = 0x2545F4914F6CDD1D
DB_TO_NEPER = 0.11512925464970228420089957273422  # ln(10) / 20


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def bits(x):
    return struct.unpack("<I", struct.pack("<f", x))[0]


class Rng:
    def __init__(self, state):
        self.state = state & MASK64

    def step(self):
        s = self.state
        s ^= s >> 12
        s ^= (s << 25) & MASK64
        s ^= s >> 27
        self.state = s
        return (s * MULT) & MASK64

    def uniform(self):
        return (self.step() >> 11) * 2.0 ** -53


class Randomizer:
    def __init__(self, base=0.0, rng_range=0.0, enabled=False):
        self.base = f32(base)
        self.range = f32(rng_range)
        self.enabled = enabled
        self.last_quadrant = -1

    def _position(self, rng):
        if self.last_quadrant < 0:
            rng.step()
            q = rng.state & 3
        else:
            others = [i for i in range(4) if i != self.last_quadrant]
            q = others[rng.step() % 3]
        self.last_quadrant = q
        u = rng.uniform()
        return (q + u) * 0.25

    def evaluate(self, rng, scale):
        if not self.enabled or not self.range > 0.0:
            return self.base
        pos = self._position(rng)
        return f32(self.base + scale * self.range * (2.0 * pos - 1.0))

    def evaluate_unipolar(self, rng, scale):
        if not self.enabled or not self.range > 0.0:
            return self.base
        pos = self._position(rng)
        return f32(self.base + scale * self.range * pos)


def clamp(x, lo, hi):
    if x < lo:
        return lo
    if x > hi:
        return hi
    return x


class Pool:
    def __init__(self, playable, knobs, reverse_chance, pitch_track):
        self.playable = playable  # one flag per region of the list
        self.pitch = Randomizer(*knobs[0])
        self.volume = Randomizer(*knobs[1])
        self.pan = Randomizer(*knobs[2])
        self.delay = Randomizer(*knobs[3])
        self.start = Randomizer(*knobs[4])
        self.reverse_chance = f32(reverse_chance)
        self.pitch_track = pitch_track
        self.last_pick = -1
        self.prev_pick = -1


def evaluate_pool(pool, rng, note):
    """Returns the drawn record as a dict, or None when nothing is playable."""
    candidates_all = [i for i, ok in enumerate(pool.playable[:64]) if ok]
    if not candidates_all:
        return None
    if len(candidates_all) == 1:
        pick = candidates_all[0]
    else:
        if len(candidates_all) == 2:
            cands = [i for i in candidates_all if i != pool.last_pick]
        else:
            cands = [i for i in candidates_all if i != pool.last_pick and i != pool.prev_pick]
        if len(cands) == 1:
            pick = cands[0]
        else:
            pick = cands[rng.step() % len(cands)]
    pool.prev_pick = pool.last_pick
    pool.last_pick = pick

    p = pool.pitch.evaluate(rng, 12.0)
    if pool.pitch_track:
        p = f32(p + (note - 60))
    pitch_offset = f32(p - pool.pitch.base)
    pitch_ratio = f32(2.0 ** (p / 12.0))

    v = pool.volume.evaluate(rng, 20.0)
    volume_offset = f32(v - pool.volume.base)
    vv = -150.0 if v < -60.0 else min(v, 6.0)
    gain = f32(math.exp(vv * DB_TO_NEPER))

    a = pool.pan.evaluate(rng, 100.0)
    pan_offset = f32(a - pool.pan.base)
    d = pool.delay.evaluate_unipolar(rng, 3000.0)
    pan = clamp(a, -100.0, 100.0)
    delay = clamp(d, 0.0, 3000.0)
    start = clamp(pool.start.evaluate_unipolar(rng, 100.0), 0.0, 100.0)

    if pool.reverse_chance >= 100.0:
        reverse = True
    elif pool.reverse_chance <= 0.0:
        reverse = False
    else:
        reverse = rng.uniform() * 100.0 < pool.reverse_chance

    return dict(index=pick, pitch_ratio=pitch_ratio, gain=gain, pan=pan, delay=delay,
                start=start, reverse=reverse, volume_offset=volume_offset,
                pan_offset=pan_offset, pitch_offset=pitch_offset)


# Pool setups. Regions: 'P' playable, '.' a missing-file placeholder.
SAMPLE_LISTS = ["P", ".P.P", "PP.P", "PPPPP"]
# (base, range, enabled) for pitch, volume, pan, delay, start.
KNOBS = {
    "off": [(2.5, 0.75, False), (-6.0, 0.5, False), (10.0, 0.8, False), (100.0, 0.25, False),
            (5.0, 0.3, False)],
    "on": [(2.5, 0.75, True), (-6.0, 0.5, True), (10.0, 0.8, True), (100.0, 0.25, True),
           (5.0, 0.3, True)],
    "mixed": [(-1.0, 0.5, True), (-3.0, 0.0, True), (-40.0, 1.0, True), (0.0, 0.5, False),
              (95.0, 0.5, True)],
    "extreme": [(0.0, 1.0, True), (-52.0, 1.0, True), (90.0, 1.0, True), (2900.0, 1.0, True),
                (0.0, 1.0, True)],
}
REVERSE = [0.0, 50.0, 100.0]
SEEDS = [0, 1, 2, 0x9E3779B97F4A7C15, 123456789, 0xFFFFFFFFFFFFFFFF]
TRIGGERS_PER_SEED = 4
NOTE = 67


def main():
    out = sys.stdout
    out.write("// Generated by tests/engine/reference/draw_reference.py; do not edit.\n")
    out.write("#pragma once\n\n#include <cstdint>\n\nnamespace vesk::test::drawref {\n\n")
    out.write("struct Knob\n{\n    float base;\n    float range;\n    bool enabled;\n};\n\n")
    out.write("struct Setup\n{\n    const char* samples; // 'P' playable, '.' placeholder\n"
              "    Knob knobs[5];       // pitch, volume, pan, delay, start\n"
              "    float reverseChance;\n    bool pitchTrack;\n};\n\n")
    out.write("struct Row\n{\n    int setup;\n    uint64_t seed; // the trigger's seed\n"
              "    int note;\n    bool valid;\n    uint64_t sampleIndex;\n"
              "    uint32_t pitchRatio, gain, pan, delayMs, startPercent; // float bits\n"
              "    bool reverse;\n    uint32_t volumeOffsetDb, panOffset, pitchOffset;\n"
              "    uint64_t stateAfter; // generator state after the draw\n};\n\n")

    setups = []
    for samples in SAMPLE_LISTS:
        for kname, knobs in KNOBS.items():
            for rev in REVERSE:
                setups.append((samples, knobs, rev, kname == "extreme"))
        # Each randomizer on alone (the others off), with a reverse chance of 50.
        for only in range(5):
            knobs = [(b, r, i == only) for i, (b, r, _) in enumerate(KNOBS["on"])]
            setups.append((samples, knobs, 50.0, False))

    out.write("inline constexpr Setup kSetups[] = {\n")
    for samples, knobs, rev, track in setups:
        ks = ", ".join("{%rf, %rf, %s}" % (float(b), float(r), "true" if e else "false")
                       for b, r, e in knobs)
        out.write('    {"%s", {%s}, %rf, %s},\n' % (samples, ks, float(rev),
                                                   "true" if track else "false"))
    out.write("};\n\n")

    out.write("// Each setup starts from a fresh pool; its seeds follow one another on that pool,\n"
              "// each seed triggering %d times in a row (one new generator per trigger).\n"
              % TRIGGERS_PER_SEED)
    out.write("inline constexpr Row kRows[] = {\n")
    for si, (samples, knobs, rev, track) in enumerate(setups):
        pool = Pool([c == "P" for c in samples], knobs, rev, track)
        for seed in SEEDS:
            for _ in range(TRIGGERS_PER_SEED):
                rng = Rng(seed if seed > 1 else 1)
                r = evaluate_pool(pool, rng, NOTE)
                if r is None:
                    out.write("    {%d, 0x%XULL, %d, false, 0, 0, 0, 0, 0, 0, false, 0, 0, 0, "
                              "0x%XULL},\n" % (si, seed, NOTE, rng.state))
                    continue
                out.write("    {%d, 0x%XULL, %d, true, %d, 0x%08X, 0x%08X, 0x%08X, 0x%08X, "
                          "0x%08X, %s, 0x%08X, 0x%08X, 0x%08X, 0x%XULL},\n"
                          % (si, seed, NOTE, r["index"], bits(r["pitch_ratio"]), bits(r["gain"]),
                             bits(r["pan"]), bits(r["delay"]), bits(r["start"]),
                             "true" if r["reverse"] else "false", bits(r["volume_offset"]),
                             bits(r["pan_offset"]), bits(r["pitch_offset"]), rng.state))
    out.write("};\n\n")

    # The bare generator: first outputs of a few seeds, and uniforms.
    out.write("struct GeneratorRow\n{\n    uint64_t state;\n    uint64_t outputs[4];\n"
              "    uint64_t uniformBits; // the fifth step's uniform, as double bits\n};\n\n")
    out.write("inline constexpr GeneratorRow kGenerator[] = {\n")
    for seed in [1, 2, 3, 0xDEADBEEF, 0x9E3779B97F4A7C15, MASK64]:
        g = Rng(seed)
        outs = [g.step() for _ in range(4)]
        u = g.uniform()
        ub = struct.unpack("<Q", struct.pack("<d", u))[0]
        out.write("    {0x%XULL, {%s}, 0x%016XULL},\n"
                  % (seed, ", ".join("0x%016XULL" % o for o in outs), ub))
    out.write("};\n\n} // namespace vesk::test::drawref\n")


if __name__ == "__main__":
    main()
