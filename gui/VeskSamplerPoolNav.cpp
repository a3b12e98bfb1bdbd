#include "VeskSamplerPoolNav.h"

#include "VeskGuiLayout.h"

namespace {

namespace nl = vesk::gui::layout::poolnav;

constexpr uint32_t kSoloBody = 0xff2a4a6a;
constexpr uint32_t kSelectedOutline = 0xff6496c8;
constexpr uint32_t kSoloDot = 0xff4caf50;
constexpr uint32_t kMuteDot = 0xfff44336;
constexpr uint32_t kPadlock = 0xffa0a0a0;

juce::Colour windowBackground(const juce::Component& c)
{
    return c.getLookAndFeel().findColour(juce::ResizableWindow::backgroundColourId);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// One card

VeskSamplerPoolNavCard::VeskSamplerPoolNavCard(int pool) : pool_(pool)
{
    setTooltip("Pool " + juce::String(pool + 1) +
               ": click to show, Alt-click to solo, right click for lock, clear and remove");
}

juce::Rectangle<int> VeskSamplerPoolNavCard::soloDot()
{
    return {nl::kSoloDotX, nl::kSoloDotY, nl::kDotSize, nl::kDotSize};
}

juce::Rectangle<int> VeskSamplerPoolNavCard::muteDot()
{
    return {nl::kMuteDotX, nl::kMuteDotY, nl::kDotSize, nl::kDotSize};
}

bool VeskSamplerPoolNavCard::setPoolState(const juce::String& name, bool hasSamples)
{
    if (name == name_ && hasSamples == hasSamples_)
        return false;
    name_ = name;
    hasSamples_ = hasSamples;
    repaint();
    return true;
}

bool VeskSamplerPoolNavCard::setFlags(bool solo, bool mute, bool locked)
{
    if (solo == solo_ && mute == mute_ && locked == locked_)
        return false;
    solo_ = solo;
    mute_ = mute;
    locked_ = locked;
    repaint();
    return true;
}

void VeskSamplerPoolNavCard::setSelected(bool selected)
{
    if (selected == selected_)
        return;
    selected_ = selected;
    repaint();
}

juce::PopupMenu VeskSamplerPoolNavCard::buildMenu() const
{
    juce::PopupMenu menu;
    menu.addItem(1, locked_ ? "Unlock Pool" : "Lock Pool");
    menu.addSeparator();
    menu.addItem(2, "Clear Pool");
    menu.addItem(3, "Remove Pool");
    return menu;
}

void VeskSamplerPoolNavCard::menuChosen(int id)
{
    const auto fire = [this](const std::function<void(int)>& f) {
        if (f)
            f(pool_);
    };
    switch (id) {
    case 1:
        fire(onLock);
        break;
    case 2:
        fire(onClear);
        break;
    case 3:
        fire(onRemove);
        break;
    default: // 0: dismissed, or the card went away with its menu open
        break;
    }
}

void VeskSamplerPoolNavCard::showMenu()
{
    juce::Component::SafePointer<VeskSamplerPoolNavCard> self(this);
    buildMenu().showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this), [self](int id) {
        if (self != nullptr)
            self->menuChosen(id);
    });
}

bool VeskSamplerPoolNavCard::opensMenu(const juce::ModifierKeys& mods)
{
    return mods.isPopupMenu() || mods.isCtrlDown();
}

void VeskSamplerPoolNavCard::mouseDown(const juce::MouseEvent& e)
{
    if (opensMenu(e.mods)) {
        showMenu();
        return;
    }
    if (e.mods.isAltDown())
        return; // solo on release
    const juce::Point<int> p = e.getPosition();
    if (soloDot().contains(p) || muteDot().contains(p))
        return;
    if (onSelect)
        onSelect(pool_);
}

void VeskSamplerPoolNavCard::mouseUp(const juce::MouseEvent& e)
{
    if (opensMenu(e.mods))
        return;
    if (e.mods.isAltDown()) {
        if (onSolo)
            onSolo(pool_);
        return;
    }
    const juce::Point<int> p = e.getPosition();
    if (soloDot().contains(p)) {
        if (onSolo)
            onSolo(pool_);
    } else if (muteDot().contains(p)) {
        if (onMute)
            onMute(pool_);
    }
}

void VeskSamplerPoolNavCard::paint(juce::Graphics& g)
{
    const juce::Colour bg = windowBackground(*this);
    const juce::Rectangle<float> body = getLocalBounds().toFloat().reduced(2.0f);
    g.setColour(solo_ ? juce::Colour(kSoloBody) : bg.brighter(selected_ ? 0.15f : 0.05f));
    g.fillRoundedRectangle(body, 4.0f);
    if (selected_) {
        g.setColour(juce::Colour(kSelectedOutline));
        g.drawRoundedRectangle(body, 4.0f, 1.5f);
    }

    const float alpha = hasSamples_ ? 1.0f : 0.4f;
    g.setColour(juce::Colours::white.withAlpha(alpha));
    g.setFont(juce::Font(14.0f, juce::Font::bold));
    g.drawText(juce::String(pool_ + 1), 0, 4, getWidth(), 20, juce::Justification::centred, false);
    g.setFont(juce::Font(10.0f));
    const juce::String name = name_.isNotEmpty() ? name_ : "Pool " + juce::String(pool_ + 1);
    g.drawFittedText(name, 2, 24, getWidth() - 4, std::max(0, getHeight() - 32),
                     juce::Justification::centred, 2, 0.8f);

    g.setColour(solo_ ? juce::Colour(kSoloDot) : juce::Colours::white.withAlpha(0.25f));
    g.fillEllipse(soloDot().toFloat());
    g.setColour(mute_ ? juce::Colour(kMuteDot) : juce::Colours::white.withAlpha(0.25f));
    g.fillEllipse(muteDot().toFloat());

    if (locked_) {
        g.setColour(juce::Colour(kPadlock));
        const float ringX = float(getWidth() - 17), ringY = 7.0f;
        g.drawEllipse(ringX, ringY, 6.0f, 6.0f, 1.5f);
        g.fillRoundedRectangle(ringX - 1.0f, ringY + 3.5f, 8.0f, 6.0f, 1.0f);
    }
}

// ---------------------------------------------------------------------------------------------
// The column

VeskSamplerPoolNav::VeskSamplerPoolNav()
{
    setOpaque(true);
    for (int i = 0; i < 8; ++i) {
        auto card = std::make_unique<VeskSamplerPoolNavCard>(i);
        card->onSelect = [this](int pool) {
            setSelectedPool(pool);
            if (onPoolSelected)
                onPoolSelected(pool);
        };
        const auto forward = [](std::function<void(int)>& target) {
            return [&target](int pool) {
                if (target)
                    target(pool);
            };
        };
        card->onSolo = forward(onSoloToggle);
        card->onMute = forward(onMuteToggle);
        card->onClear = forward(onClearPool);
        card->onRemove = forward(onRemovePool);
        card->onLock = forward(onLockToggle);
        addChildComponent(*card);
        cards_[size_t(i)] = std::move(card);
    }
    cards_[0]->setSelected(true);
    add_.setButtonText("+");
    add_.setTooltip("Show the next pool");
    add_.onClick = [this] {
        if (onAddPool)
            onAddPool();
    };
    addAndMakeVisible(add_);
    resized();
}

void VeskSamplerPoolNav::setVisibleMask(uint8_t mask)
{
    if (mask == visibleMask_)
        return;
    visibleMask_ = mask;
    resized();
    repaint();
}

void VeskSamplerPoolNav::updatePoolState(int pool, const juce::String& name, bool hasSamples)
{
    if (pool >= 0 && pool < 8)
        cards_[size_t(pool)]->setPoolState(name, hasSamples);
}

void VeskSamplerPoolNav::updateSoloMuteFreeze(int pool, bool solo, bool mute, bool locked)
{
    if (pool >= 0 && pool < 8)
        cards_[size_t(pool)]->setFlags(solo, mute, locked);
}

void VeskSamplerPoolNav::setSelectedPool(int pool)
{
    if (pool < 0 || pool >= 8)
        return;
    cards_[size_t(selected_)]->setSelected(false);
    selected_ = pool;
    cards_[size_t(pool)]->setSelected(true);
}

void VeskSamplerPoolNav::resized()
{
    const int w = getWidth(), h = getHeight();
    int y = nl::kCardInset;
    for (int i = 0; i < 8; ++i) {
        VeskSamplerPoolNavCard& c = *cards_[size_t(i)];
        const bool visible = ((visibleMask_ >> i) & 1) != 0;
        c.setVisible(visible);
        if (visible) {
            c.setBounds(nl::kCardInset, y, std::max(0, w - 2 * nl::kCardInset), nl::kCardHeight);
            y += nl::kCardPitch;
        }
    }
    add_.setBounds(nl::kCardInset, h - nl::kAddButtonInset, std::max(0, w - 2 * nl::kCardInset),
                   nl::kAddButtonHeight);
    add_.setVisible(visibleMask_ != 0xFF);
}

void VeskSamplerPoolNav::paint(juce::Graphics& g)
{
    g.fillAll(windowBackground(*this).darker(0.1f));
}
