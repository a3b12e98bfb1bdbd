// Editor tests without a display: JUCE's message manager and the editor's look-and-feel for the
// whole test program, an in-process instance whose backend the editor talks to, and the messages
// read back out of its rings.
#pragma once

#include "support/InProcessPlugin.h"

#include "gui/VeskSamplerEditor.h"
#include "plugin/Messages.h"
#include "plugin/VeskPlugin.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vesk::test {

// One message as it sits in a ring.
struct RingMessage
{
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

// Takes every message out of both rings (trigger ring first), as their readers would.
std::vector<RingMessage> drainRings(CommandQueues& queues);

// A ring message read back as its record; a failure when it is another message or does not decode.
template <class R> R decoded(const RingMessage& m)
{
    EXPECT_EQ(m.type, R::kId);
    R out{};
    EXPECT_TRUE(R::decode(m.payload.data(), uint32_t(m.payload.size()), out));
    return out;
}

// An initialised instance, destroyed with the fixture.
struct EditorInstance
{
    clap_host_t host = silentHost("gui-test");
    VeskPlugin* plugin = newInitialisedInstance(&host);
    ~EditorInstance() { VeskPlugin::clapDestroy(&plugin->clapPlugin); }
    VeskBackend& backend() { return plugin->backend; }
    // The snapshot buffer the editor reads next.
    VeskState& published() { return plugin->snapshots[plugin->publishedSnapshot.load()]; }
};

// The whole editor at its design size over an instance of its own.
struct EditorTest : ::testing::Test
{
    EditorInstance instance;
    std::unique_ptr<VeskSamplerEditor> editor;

    void SetUp() override
    {
        editor = std::make_unique<VeskSamplerEditor>(instance.backend());
        editor->setSize(1200, 800);
    }
    // What the editor sent since the last call.
    std::vector<RingMessage> sent() { return drainRings(instance.plugin->queues); }
};

// Renders a component into an image of its size at scale 1.
juce::Image render(juce::Component& component);
// Saves an image as PNG under out/gui/ for a person to look at; returns the path.
std::string saveImage(const juce::Image& image, const std::string& name);

} // namespace vesk::test
