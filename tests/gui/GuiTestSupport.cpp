#include "GuiTestSupport.h"

#include "gui/VeskLookAndFeel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace vesk::test {

namespace {

// JUCE without a display: components, images and fonts work; nothing goes on screen.
class JuceEnvironment final : public ::testing::Environment
{
public:
    void SetUp() override
    {
        // No display, whatever runs on this machine: an X server another test started (an
        // editor test's Xvfb on :0, say) must not become ours and then vanish under us.
        setenv("DISPLAY", ":4321", 1);
        juce::initialiseJuce_GUI();
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        lookAndFeel_ = std::make_unique<VeskLookAndFeel>();
        lookAndFeel_->setDefaultSansSerifTypefaceName("Vesk Sans");
        juce::LookAndFeel::setDefaultLookAndFeel(lookAndFeel_.get());
    }
    void TearDown() override
    {
        juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
        juce::Typeface::clearTypefaceCache();
        juce::shutdownJuce_GUI();
        lookAndFeel_.reset();
    }

private:
    std::unique_ptr<VeskLookAndFeel> lookAndFeel_;
};

[[maybe_unused]] ::testing::Environment* const s_environment =
    ::testing::AddGlobalTestEnvironment(new JuceEnvironment);

} // namespace

std::vector<RingMessage> drainRings(CommandQueues& q)
{
    std::vector<RingMessage> out;
    for (uint64_t r = q.triggerRead.load(); r != q.triggerWrite.load(); ++r) {
        const TriggerSlot& s = q.triggerSlots[r % CommandQueues::kTriggerSlots];
        out.push_back({uint8_t(s.type), {s.payload, s.payload + s.size}});
        q.triggerRead.store(r + 1);
    }
    for (uint64_t r = q.commandRead.load(); r != q.commandWrite.load(); ++r) {
        const CommandSlot& s = q.commandSlots[r % CommandQueues::kCommandSlots];
        out.push_back({uint8_t(s.type), {s.payload, s.payload + s.size}});
        q.commandRead.store(r + 1);
    }
    return out;
}

juce::Image render(juce::Component& component)
{
    return component.createComponentSnapshot(component.getLocalBounds(), true, 1.0f);
}

std::string saveImage(const juce::Image& image, const std::string& name)
{
    const juce::File dir = juce::File(VESK_OUT_DIR).getChildFile("gui");
    dir.createDirectory();
    const juce::File file = dir.getChildFile(name + ".png");
    file.deleteFile();
    juce::FileOutputStream stream(file);
    juce::PNGImageFormat png;
    if (stream.openedOk())
        png.writeImageToStream(image, stream);
    return file.getFullPathName().toStdString();
}

} // namespace vesk::test
