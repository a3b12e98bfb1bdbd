#!/usr/bin/env python3
"""CPU per voice against a widely used sample-playback synthesiser, side by side.

FluidSynth (from Debian) renders a MIDI file of held notes with its 7-point interpolation, reverb
and chorus off; vesk-host renders the same number of mono voices of an equally long sample
offline, through the plug-in (32-tap interpolation, high-pass and low-pass, volume and low-pass
envelopes, master chain bypassed). Both are timed as whole processes (user + system CPU of the
child), in interleaved runs, each also with no notes at all so that start-up (the sound font's
154 MB, the plug-in's tables) can be taken out. The MIDI file, the sample and the kit are made
here.

Checks that both outputs really hold the intended number of voices: FluidSynth's output with a
polyphony limit of exactly N is the unlimited one (to rounding: below -100 dB) and changes with
N - 1 (above -40 dB); the plug-in's output
holds N distinct sine tones (every voice plays a 1 kHz sine at its own transposition) through to
the end.

Usage: scripts/bench_peer.py BUILD_DIR [--runs R] [--seconds S]
"""

import argparse
import math
import os
import resource
import struct
import subprocess
import sys
import wave

RATE = 48000
VOICES = 32  # the plug-in's eight pools of four voices
PROGRAM = 17  # General MIDI "Percussive Organ": one looped mono sample voice per note
SOUND_FONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
TONE_HZ = 1000.0
# Keys at which that preset starts a single voice (some others layer two); the voice check below
# confirms it for the whole chord.
PEER_KEYS = [40, 42, 43, 44, 45, 47, 48, 50, 52, 54, 55, 56, 57, 59, 60, 62, 63, 64, 65, 67, 68,
             70, 71, 73, 74, 76, 77, 79, 80, 81, 82, 84]


def write_midi(path, seconds, keys):
    """Format 0, 480 ticks per quarter at 120 bpm (960 ticks a second): every key on at 0 and
    off after `seconds`; with no keys, only the end of the track at `seconds`."""
    ticks = int(round(seconds * 960))

    def vlq(n):
        out = [n & 0x7F]
        n >>= 7
        while n:
            out.append(0x80 | (n & 0x7F))
            n >>= 7
        return bytes(reversed(out))

    ev = bytearray()
    ev += vlq(0) + bytes([0xC0, PROGRAM])
    for k in keys:
        ev += vlq(0) + bytes([0x90, k, 100])
    for i, k in enumerate(keys):
        ev += vlq(ticks if i == 0 else 0) + bytes([0x80, k, 0])
    ev += vlq(0 if keys else ticks) + bytes([0xFF, 0x2F, 0x00])
    with open(path, "wb") as f:
        f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480))
        f.write(b"MTrk" + struct.pack(">I", len(ev)) + ev)


def write_sine(path, seconds):
    """A mono 1 kHz sine at -12 dBFS, 16-bit, `seconds` long."""
    n = int(round(seconds * RATE))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        step = 2.0 * math.pi * TONE_HZ / RATE
        amp = 0.25 * 32767
        chunk = 48000
        for start in range(0, n, chunk):
            m = min(chunk, n - start)
            w.writeframes(struct.pack("<%dh" % m, *(int(amp * math.sin(step * (start + i))) for i in range(m))))


# Every voice is transposed down (so none runs out of the sample before the end): pool k by
# k / 8 semitone, the four notes 0..3 semitones with pitch tracking, 32 distinct pitches.
NOTES = [60, 59, 58, 57]


def voice_pitches():
    return sorted(-(60 - note) - k / 8.0 for note in NOTES for k in range(8))


def write_kit(path, sample):
    pools = []
    for k in range(8):
        pools.append({
            "name": "Peer %d" % (k + 1),
            "samples": [sample],
            "pitch": {"base": -k / 8.0},
            "volume": {"base": -12},
            "pitchTrack": True,
            "route": "master",
            "hpf": 40,
            "lpf": 16000,
            "volumeEnv": {"enabled": True, "points": [[0, 0], [0.5, -3], [1, 0]]},
            "lpfEnv": {"enabled": True, "points": [[0, 12000], [0.5, 16000], [1, 9000]]},
        })
    kit = {"rate": RATE, "pools": pools, "retrigger": "poly", "master": {"bypass": True}}
    import json
    with open(path, "w") as f:
        json.dump(kit, f, indent=1)


def cpu_of(cmd):
    """Runs cmd; returns the user + system CPU seconds it took."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def read_wav(path):
    """The first channel of a 16-bit or 32-bit float WAV file, as floats."""
    with open(path, "rb") as f:
        data = f.read()
    pos = 12
    fmt = None
    while pos + 8 <= len(data):
        cid = data[pos:pos + 4]
        size = struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = data[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack("<HHIIHH", body[:16])
        elif cid == b"data":
            tag, channels, _, _, _, bits = fmt
            width = bits // 8
            count = len(body) // (width * channels)
            code = "f" if bits == 32 and tag in (3, 0xFFFE) else ("i" if bits == 32 else "h")
            values = struct.unpack("<%d%s" % (count * channels, code), body[:count * channels * width])
            scale = 1.0 if code == "f" else (2.0 ** 31 if code == "i" else 32768.0)
            return [v / scale for v in values[::channels]]
        pos += 8 + size + (size & 1)
    raise ValueError("no data in " + path)


def tone_amplitudes(x, start, length, freqs):
    """Amplitude of each frequency in a Hann-windowed stretch of x (Goertzel)."""
    seg = x[start:start + length]
    n = len(seg)
    w = [s * (0.5 - 0.5 * math.cos(2.0 * math.pi * i / n)) for i, s in enumerate(seg)]
    out = []
    for f in freqs:
        c = 2.0 * math.cos(2.0 * math.pi * f / RATE)
        s1 = s2 = 0.0
        for v in w:
            s1, s2 = v + c * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - c * s1 * s2
        out.append(2.0 * math.sqrt(max(power, 0.0)) / (0.5 * n))
    return out


def count_tones(path, seconds):
    x = read_wav(path)
    freqs = [TONE_HZ * 2.0 ** (p / 12.0) for p in voice_pitches()]
    # Between each pair of neighbouring tones, for the level of what is not a tone.
    mids = [math.sqrt(a * b) for a, b in zip(freqs, freqs[1:])]
    counts = []
    for at in (0.25, 0.9):
        start = int(at * seconds * RATE)
        on = tone_amplitudes(x, start, RATE, freqs)
        off = tone_amplitudes(x, start, RATE, mids)
        level = sorted(on)[len(on) // 2]
        counts.append(sum(1 for a in on if a > 0.5 * level and a > 10.0 * max(off)))
    return counts


def difference_db(a, b):
    """Energy of a - b over the energy of a, in dB (summing the same voices in another order
    differs only by rounding, far below a missing voice)."""
    x, y = read_wav(a), read_wav(b)
    n = min(len(x), len(y))
    e = sum((x[i] - y[i]) ** 2 for i in range(0, n, 7))
    ref = sum(x[i] ** 2 for i in range(0, n, 7))
    if len(x) != len(y):
        return 0.0
    return -300.0 if e == 0.0 else 10.0 * math.log10(e / max(ref, 1e-300))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--seconds", type=float, default=32.7)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "out", "bench-peer")
    os.makedirs(out, exist_ok=True)
    host = os.path.join(build, "host", "vesk-host")
    kit = os.path.join(build, "host", "kit", "vesk-kit")
    clap = os.path.join(build, "plugin", "Vesk.clap")
    seconds = args.seconds
    frames = int(round(seconds * RATE))

    print("== material: %d held notes and a %.1f s mono sample" % (VOICES, seconds))
    keys = PEER_KEYS[:VOICES]
    write_midi(os.path.join(out, "notes.mid"), seconds, keys)
    write_midi(os.path.join(out, "empty.mid"), seconds, [])
    write_sine(os.path.join(out, "sine.wav"), seconds)
    write_kit(os.path.join(out, "kit.json"), "sine.wav")
    subprocess.run([kit, "build", os.path.join(out, "kit.json"), os.path.join(out, "kit.vesk-state")],
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(out, "interp.cfg"), "w") as f:
        f.write("interp 7\n")

    def fluid(midi, wav, polyphony):
        return ["fluidsynth", "-n", "-i", "-q", "-r", str(RATE), "-O", "float", "-T", "wav",
                "-R", "0", "-C", "0", "-o", "synth.cpu-cores=1", "-o", "synth.polyphony=%d" % polyphony,
                "-o", "synth.gain=0.1", "-f", os.path.join(out, "interp.cfg"), "-F", wav, SOUND_FONT,
                os.path.join(out, midi)]

    def vesk(wav, notes):
        cmd = [host, "--plugin", clap, "--load-state", os.path.join(out, "kit.vesk-state"), "--offline",
               "--rate", str(RATE), "--block", "512", "--seconds", str(seconds), "--out", wav]
        for note in notes:
            cmd += ["--note", "0:%d" % note]
        return cmd

    print("== voice counts")
    subprocess.run(fluid("notes.mid", os.path.join(out, "fluid.wav"), VOICES), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(fluid("notes.mid", os.path.join(out, "fluid-unlimited.wav"), 256), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(fluid("notes.mid", os.path.join(out, "fluid-one-less.wav"), VOICES - 1), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    full_db = difference_db(os.path.join(out, "fluid-unlimited.wav"), os.path.join(out, "fluid.wav"))
    less_db = difference_db(os.path.join(out, "fluid-unlimited.wav"), os.path.join(out, "fluid-one-less.wav"))
    fluid_full = full_db < -100.0
    fluid_needed = less_db > -40.0
    subprocess.run(vesk(os.path.join(out, "vesk.wav"), NOTES), check=True, stdout=subprocess.DEVNULL)
    tones = count_tones(os.path.join(out, "vesk.wav"), seconds)
    print("FluidSynth against its unlimited polyphony: with a limit of %d %.1f dB, of %d %.1f dB"
          % (VOICES, full_db, VOICES - 1, less_db))
    print("vesk: distinct voice tones at 25 %% and 90 %% of the render: %s (of %d)" % (tones, VOICES))
    checks_ok = fluid_full and fluid_needed and all(t == VOICES for t in tones)

    print("== timing: %d interleaved rounds" % args.runs)
    t = {"vesk": [], "vesk0": [], "fluid": [], "fluid0": []}
    for r in range(args.runs):
        t["vesk"].append(cpu_of(vesk(os.path.join(out, "t-vesk.wav"), NOTES)))
        t["fluid"].append(cpu_of(fluid("notes.mid", os.path.join(out, "t-fluid.wav"), VOICES)))
        t["vesk0"].append(cpu_of(vesk(os.path.join(out, "t-vesk0.wav"), [])))
        t["fluid0"].append(cpu_of(fluid("empty.mid", os.path.join(out, "t-fluid0.wav"), VOICES)))
        print("round %d: vesk %.2f s (no notes %.2f s), FluidSynth %.2f s (no notes %.2f s)"
              % (r + 1, t["vesk"][-1], t["vesk0"][-1], t["fluid"][-1], t["fluid0"][-1]))
    voice_frames = VOICES * frames
    lines = []
    whole, net = [], []
    for r in range(args.runs):
        vw = t["vesk"][r] / voice_frames * 1e9
        fw = t["fluid"][r] / voice_frames * 1e9
        vn = (t["vesk"][r] - t["vesk0"][r]) / voice_frames * 1e9
        fn = (t["fluid"][r] - t["fluid0"][r]) / voice_frames * 1e9
        whole.append(vw / fw)
        net.append(vn / fn)
        lines.append("round %d: ns per voice-frame, whole process vesk %.2f FluidSynth %.2f (ratio %.3f);"
                     " less the run without notes vesk %.2f FluidSynth %.2f (ratio %.3f)"
                     % (r + 1, vw, fw, vw / fw, vn, fn, vn / fn))
    summary = ["%d voices for %.1f s at %d Hz (%d voice-frames); FluidSynth %s, 7-point interpolation,"
               " reverb and chorus off" % (VOICES, seconds, RATE, voice_frames,
                                           subprocess.run(["fluidsynth", "--version"], capture_output=True,
                                                          text=True).stdout.split("\n")[0].split()[-1]),
               "voice checks: %s" % ("passed" if checks_ok else "FAILED")] + lines + [
        "ours over FluidSynth per voice, whole process: %.3f .. %.3f (median %.3f)"
        % (min(whole), max(whole), sorted(whole)[len(whole) // 2]),
        "ours over FluidSynth per voice, less start-up: %.3f .. %.3f (median %.3f)"
        % (min(net), max(net), sorted(net)[len(net) // 2])]
    print("== report")
    print("\n".join(summary))
    with open(os.path.join(out, "report.txt"), "w") as f:
        f.write("\n".join(summary) + "\n")
    for name in ("t-vesk.wav", "t-fluid.wav", "t-vesk0.wav", "t-fluid0.wav", "fluid-unlimited.wav",
                 "fluid-one-less.wav"):
        try:
            os.remove(os.path.join(out, name))
        except OSError:
            pass
    return 0 if checks_ok else 1


if __name__ == "__main__":
    sys.exit(main())
