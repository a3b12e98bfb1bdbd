// Mouse gestures on a component without a display: the events a click or a drag would deliver,
// handed to the component's own handlers.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace juce {
// JUCE's dispatcher of one pending message (juce_linux_Messaging.cpp); not in its headers.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace vesk::test {

// Delivers the messages posted so far (button clicks, asynchronous updates, callAsync).
inline void pumpMessages(int rounds = 4)
{
    for (int r = 0; r < rounds; ++r)
        for (int i = 0; i < 1000 && juce::dispatchNextMessageOnSystemQueue(true); ++i) {
        }
}

inline juce::MouseEvent mouseEvent(juce::Component& c, juce::Point<float> at,
                                   juce::ModifierKeys mods, juce::Point<float> downAt,
                                   int clicks = 1, bool dragged = false)
{
    const juce::Time now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), at, mods,
                            juce::MouseInputSource::defaultPressure, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c,
                            now, downAt, now, clicks, dragged);
}

inline const juce::ModifierKeys kLeft{juce::ModifierKeys::leftButtonModifier};
inline const juce::ModifierKeys kRight{juce::ModifierKeys::rightButtonModifier};

// Press and release at (x, y) with the button and modifier keys in mods.
inline void clickAt(juce::Component& c, int x, int y, juce::ModifierKeys mods = kLeft)
{
    const juce::Point<float> p{float(x), float(y)};
    c.mouseDown(mouseEvent(c, p, mods, p));
    c.mouseUp(mouseEvent(c, p, mods, p));
}

// Press at `from`, move to `to` in steps, release there.
inline void dragFromTo(juce::Component& c, juce::Point<int> from, juce::Point<int> to,
                       juce::ModifierKeys mods = kLeft, int steps = 4)
{
    const juce::Point<float> a = from.toFloat(), b = to.toFloat();
    c.mouseDown(mouseEvent(c, a, mods, a));
    for (int i = 1; i <= steps; ++i) {
        const juce::Point<float> p = a + (b - a) * (float(i) / float(steps));
        c.mouseDrag(mouseEvent(c, p, mods, a, 1, true));
    }
    c.mouseUp(mouseEvent(c, b, mods, a, 1, true));
}

} // namespace vesk::test
