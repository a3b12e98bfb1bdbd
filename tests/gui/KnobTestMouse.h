// Mouse gestures delivered straight to a component's handlers, without a display: a press, a
// drag to a point, a release, a double click, with modifiers.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace vesk::test {

class Mouse
{
public:
    explicit Mouse(juce::Component& target) : target_(target) {}

    juce::MouseEvent event(juce::Point<float> p, juce::ModifierKeys mods, int clicks = 1) const
    {
        return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), p, mods, 1.0f,
                                0.0f, 0.0f, 0.0f, 0.0f, &target_, &target_,
                                juce::Time::getCurrentTime(), down_, juce::Time::getCurrentTime(),
                                clicks, dragged_);
    }

    void press(juce::Point<float> p, juce::ModifierKeys mods = leftButton())
    {
        down_ = p;
        dragged_ = false;
        mods_ = mods;
        target_.mouseDown(event(p, mods));
    }
    void dragTo(juce::Point<float> p, juce::ModifierKeys extra = {})
    {
        dragged_ = true;
        target_.mouseDrag(event(p, juce::ModifierKeys(mods_.getRawFlags() | extra.getRawFlags())));
    }
    void release(juce::Point<float> p)
    {
        const auto up =
            juce::ModifierKeys(mods_.getRawFlags() & ~juce::ModifierKeys::allMouseButtonModifiers);
        // Handlers see the button that went up in the event's modifiers, as JUCE delivers it.
        target_.mouseUp(event(p, mods_.getRawFlags() != 0 ? mods_ : up));
    }
    void click(juce::Point<float> p, juce::ModifierKeys mods = leftButton())
    {
        press(p, mods);
        release(p);
    }
    void doubleClick(juce::Point<float> p, juce::ModifierKeys mods = leftButton())
    {
        click(p, mods);
        press(p, mods);
        target_.mouseDoubleClick(event(p, mods, 2));
        release(p);
    }
    // A vertical drag of dy pixels (negative: upwards) from p, released at the end.
    void dragBy(juce::Point<float> p, float dy, juce::ModifierKeys extra = {})
    {
        press(p);
        for (int i = 1; i <= 4; ++i)
            dragTo({p.x, p.y + dy * float(i) / 4.0f}, extra);
        release({p.x, p.y + dy});
    }
    void wheel(juce::Point<float> p, float deltaY, juce::ModifierKeys mods = {})
    {
        juce::MouseWheelDetails w{};
        w.deltaY = deltaY;
        target_.mouseWheelMove(event(p, mods), w);
    }

    static juce::ModifierKeys leftButton()
    {
        return juce::ModifierKeys(juce::ModifierKeys::leftButtonModifier);
    }
    static juce::ModifierKeys rightButton()
    {
        return juce::ModifierKeys(juce::ModifierKeys::rightButtonModifier);
    }
    static juce::ModifierKeys shift()
    {
        return juce::ModifierKeys(juce::ModifierKeys::shiftModifier);
    }
    static juce::ModifierKeys alt() { return juce::ModifierKeys(juce::ModifierKeys::altModifier); }

private:
    juce::Component& target_;
    juce::Point<float> down_;
    juce::ModifierKeys mods_;
    bool dragged_ = false;
};

} // namespace vesk::test
