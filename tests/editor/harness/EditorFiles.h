// The files the editor tests hand vesk-host: WAV tones, states built from kit JSON and saved
// states read back as JSON; and the start of a run with the real editor. For the test programs
// (it reports through GoogleTest).
#pragma once

#include "EditorHarness.h"

#include "audio_files/WavWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace vesk::editor_test {

// A WAV at 48 kHz, both channels alike: `seconds` of a sine, then silence up to `total` seconds
// (no silence when total is below seconds).
inline std::string sineFile(const std::string& path, double hz, double seconds,
                            double amplitude = 0.5, double total = 0.0)
{
    const size_t on = size_t(seconds * 48000.0);
    const size_t n = std::max(on, size_t(total * 48000.0));
    std::vector<float> x(n, 0.0f);
    for (size_t i = 0; i < on; ++i)
        x[i] = float(amplitude * std::sin(2.0 * M_PI * hz * double(i) / 48000.0));
    EXPECT_TRUE(vesk::writeWav(path, x, x, 48000.0)) << path;
    return path;
}

// A state made by vesk-kit from a kit description, in the run's folder.
inline std::string kitState(HostRun& run, const std::string& kitJson)
{
    const std::string kit = run.path("kit.json");
    std::ofstream(kit) << kitJson;
    const std::string state = run.path("kit.vesk-state");
    EXPECT_EQ(runProgram({kitPath(), "build", kit, state}), 0);
    return state;
}

// A saved state as the kit JSON vesk-kit prints for it.
inline Json stateJson(HostRun& run, const std::string& state)
{
    const std::string out = run.path("printed.json");
    EXPECT_EQ(runProgram({kitPath(), "print", state, out}), 0);
    std::string error;
    Json j = Json::parse(readText(out), &error);
    EXPECT_TRUE(error.empty()) << error;
    return j;
}

// Starts vesk-host with `args` and waits until the editor is shown and has drawn itself (the
// body of an FX bus panel at (900, 300) in its design size). Returns the editor's window, or 0
// with the reason recorded as a failure.
inline WindowId showEditor(HostRun& host, const std::vector<std::string>& args,
                           const std::vector<std::string>& env = {})
{
    constexpr uint32_t kLaneBody = 0x282a2d;
    if (!host.start(args, env)) {
        ADD_FAILURE() << "vesk-host did not start";
        return 0;
    }
    if (!host.waitReady()) {
        ADD_FAILURE() << "the editor did not show";
        return 0;
    }
    const WindowId w = host.window();
    if (!waitForPixel(w, 900, 300, kLaneBody)) {
        ADD_FAILURE() << "the editor did not draw itself";
        return 0;
    }
    return w;
}

// Lets the host run on for a while.
inline void pause(double seconds)
{
    waitFor([] { return false; }, seconds);
}

} // namespace vesk::editor_test
