#include "VeskKeyRouting.h"

namespace vesk::gui {

RootKey routeRootKey(const juce::KeyPress& key, bool textFieldFocused)
{
    if (textFieldFocused)
        return RootKey::None;
    const auto mods = key.getModifiers();
    if (mods.isAnyModifierKeyDown())
        return RootKey::None;
    const int code = key.getKeyCode();
    if (code == juce::KeyPress::escapeKey)
        return RootKey::Escape;
    if (code == juce::KeyPress::spaceKey)
        return RootKey::Space;
    if (code == 'R' || code == 'r')
        return RootKey::Random;
    return RootKey::None;
}

bool isInsideTextEditor(const juce::Component* component)
{
    for (auto* c = component; c != nullptr; c = c->getParentComponent())
        if (dynamic_cast<const juce::TextEditor*>(c) != nullptr)
            return true;
    return false;
}

} // namespace vesk::gui
