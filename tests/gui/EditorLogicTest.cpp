// The editor's logic that needs no drawing: key routing, banner texts, text from the engine and
// the bulk edits of the random ranges.
#include "gui/VeskBulkEdits.h"
#include "gui/VeskHealthBanner.h"
#include "gui/VeskKeyRouting.h"
#include "gui/VeskText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

using vesk::gui::BulkEdit;
using vesk::gui::RangedParam;
using vesk::gui::RootKey;

TEST(RootKeys, OnlyPlainKeysOutsideTextFields)
{
    using KP = juce::KeyPress;
    const juce::ModifierKeys none, shift(juce::ModifierKeys::shiftModifier),
        ctrl(juce::ModifierKeys::ctrlModifier), alt(juce::ModifierKeys::altModifier);
    struct Case
    {
        KP key;
        bool inText;
        RootKey expected;
    };
    const Case cases[] = {
        {KP(KP::escapeKey, none, 0), false, RootKey::Escape},
        {KP(KP::spaceKey, none, ' '), false, RootKey::Space},
        {KP('R', none, 'r'), false, RootKey::Random},
        {KP('r', none, 'r'), false, RootKey::Random},
        {KP(KP::spaceKey, none, ' '), true, RootKey::None}, // types a space into the name
        {KP('R', none, 'r'), true, RootKey::None},
        {KP(KP::escapeKey, none, 0), true, RootKey::None},
        {KP('R', shift, 'R'), false, RootKey::None},
        {KP('R', ctrl, 0), false, RootKey::None},
        {KP(KP::spaceKey, alt, ' '), false, RootKey::None},
        {KP('Q', none, 'q'), false, RootKey::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vesk::gui::routeRootKey(c.key, c.inText), c.expected)
            << c.key.getTextDescription() << (c.inText ? " in text" : "");
}

TEST(RootKeys, TextFieldsAreFoundThroughParents)
{
    juce::TextEditor editor;
    juce::Component inner;
    editor.addAndMakeVisible(inner);
    juce::Component plain;
    EXPECT_TRUE(vesk::gui::isInsideTextEditor(&editor));
    EXPECT_TRUE(vesk::gui::isInsideTextEditor(&inner));
    EXPECT_FALSE(vesk::gui::isInsideTextEditor(&plain));
    EXPECT_FALSE(vesk::gui::isInsideTextEditor(nullptr));
}

TEST(HealthBanner, MessagesInOrderJoinedByBars)
{
    using vesk::gui::healthBannerText;
    EXPECT_TRUE(healthBannerText(false, 0, 0).isEmpty());
    const juce::String missing = healthBannerText(false, 2, 0);
    EXPECT_EQ(missing,
              juce::String::fromUTF8("有 2 个采样文件读不到（在 Pool "
                                     "的采样列表里已标出）。路径已保留，把文件放回原处重开工"
                                     "程即可恢复。"));
    EXPECT_EQ(healthBannerText(false, 0, 70),
              juce::String::fromUTF8("有 70 个操作没能送达（队列满），请重做一遍并检查参数。"));
    const juce::String all = healthBannerText(true, 3, 5);
    juce::StringArray parts;
    parts.addTokens(all, "|", "");
    ASSERT_EQ(parts.size(), 3);
    EXPECT_TRUE(all.startsWith(juce::String::fromUTF8("本实例的工程数据没能读出来")));
    EXPECT_TRUE(all.contains(juce::String::fromUTF8("。    |    有 3 个采样文件")));
    EXPECT_TRUE(all.endsWith(
        juce::String::fromUTF8("有 5 个操作没能送达（队列满），请重做一遍并检查参数。")));
}

TEST(EngineText, Utf8WithACutCharacterDropped)
{
    struct Case
    {
        std::string bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"Kick", "Kick"},
        {"Tr\xc3\xa4ume", "Tr\xc3\xa4ume"},       // whole two-byte character
        {"Tr\xc3", "Tr"},                         // cut after its first byte
        {"\xe9\x9b\xa8\xe9\x9b", "\xe9\x9b\xa8"}, // a CJK character cut at the end
        {"a\xff"
         "b",
         "a\xef\xbf\xbd"
         "b"}, // an invalid byte shows as U+FFFD
        {"a\xc3"
         "b",
         "a\xef\xbf\xbd"
         "b"}, // a lead byte without continuation
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}, // a surrogate is not text
    };
    for (const Case& c : cases) {
        char field[32] = {};
        std::memcpy(field, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(vesk::gui::textFromEngine(field, sizeof field),
                  juce::String::fromUTF8(c.expected))
            << c.bytes;
    }
    // A field filled to its last byte with no terminator stops at its end.
    char full[4] = {'a', 'b', 'c', '\xc3'};
    EXPECT_EQ(vesk::gui::textFromEngine(full, sizeof full), "abc");
}

// A snapshot with samples in pools 0 and 2 only.
std::unique_ptr<vesk::VeskState> kitState()
{
    auto s = std::make_unique<vesk::VeskState>();
    for (int i : {0, 2}) {
        vesk::PoolState& p = s->pools[i];
        p.sampleCount = 3;
        p.volume = {-6.0f, 0.05f, true};
        p.pan = {20.0f, 0.5f, false};
        p.pitch = {11.5f, 0.4f, true};
        p.delay = {100.0f, 0.0f, true};
        p.start = {50.0f, 1.0f, true};
        p.reverseChance = 30.0f;
    }
    return s;
}

TEST(BulkEdits, QuickEnableTouchesOnlyTheGroupOfPoolsWithSamples)
{
    const auto s = kitState();
    const auto pan = vesk::gui::quickEnableEdits(*s, 3, true);
    ASSERT_EQ(pan.size(), 2u);
    for (size_t k = 0; k < pan.size(); ++k) {
        EXPECT_EQ(pan[k].param, RangedParam::Pan);
        EXPECT_EQ(pan[k].pool, k == 0 ? 0u : 2u);
        EXPECT_EQ(pan[k].base, 20.0f);
        EXPECT_EQ(pan[k].range, 0.5f);
        EXPECT_TRUE(pan[k].enabled);
    }
    const auto all = vesk::gui::quickEnableEdits(*s, 1, false);
    ASSERT_EQ(all.size(), 10u);
    const RangedParam order[] = {RangedParam::Volume, RangedParam::Pan, RangedParam::Pitch,
                                 RangedParam::Delay, RangedParam::Start};
    for (size_t k = 0; k < all.size(); ++k) {
        EXPECT_EQ(all[k].param, order[k % 5]);
        EXPECT_FALSE(all[k].enabled);
    }
    EXPECT_TRUE(vesk::gui::quickEnableEdits(*s, 0, true).empty());
    EXPECT_TRUE(vesk::gui::quickEnableEdits(*s, 7, true).empty());
}

TEST(BulkEdits, ResetOfAllRangesAlsoClearsTheReverseChance)
{
    const auto s = kitState();
    const auto all = vesk::gui::resetEdits(*s, 1);
    ASSERT_EQ(all.size(), 12u); // five ranges and the reverse chance, for two pools
    for (const BulkEdit& e : all) {
        if (e.kind == BulkEdit::Kind::Range) {
            EXPECT_EQ(e.base, 0.0f);
            EXPECT_EQ(e.range, 0.0f);
            EXPECT_FALSE(e.enabled);
        }
    }
    EXPECT_EQ(all[5].kind, BulkEdit::Kind::ReverseChanceOff);
    EXPECT_EQ(all[11].kind, BulkEdit::Kind::ReverseChanceOff);
    EXPECT_EQ(all[11].pool, 2u);
    const auto delay = vesk::gui::resetEdits(*s, 5);
    ASSERT_EQ(delay.size(), 2u);
    EXPECT_EQ(delay[0].param, RangedParam::Delay);
}

TEST(BulkEdits, DiceDrawsWithinTheLimitsFromASeededGenerator)
{
    const auto s = kitState();
    juce::Random random(1234);
    const auto edits = vesk::gui::diceEdits(*s, random);
    // Pan is disabled: four parameters in each of two pools.
    ASSERT_EQ(edits.size(), 8u);
    for (const BulkEdit& e : edits) {
        EXPECT_NE(e.param, RangedParam::Pan);
        EXPECT_TRUE(e.enabled);
        EXPECT_GE(e.range, 0.1f);
        EXPECT_LE(e.range, 1.0f);
        switch (e.param) {
        case RangedParam::Volume:
            EXPECT_GE(e.base, -14.0f);
            EXPECT_LT(e.base, 6.0f);
            // 0.05 + 0.2 (2u - 1) is at most 0.25 and is held at 0.1 from below.
            EXPECT_LE(e.range, 0.25f);
            break;
        case RangedParam::Pitch:
            // 11.5 +- 0.4 * 12, held at 12.
            EXPECT_GE(e.base, 11.5f - 4.8f);
            EXPECT_LE(e.base, 12.0f);
            break;
        case RangedParam::Delay:
            // A range below 0.1 steps by a tenth of the span: 100 +- 300, held at 0.
            EXPECT_GE(e.base, 0.0f);
            EXPECT_LE(e.base, 400.0f);
            break;
        default:
            EXPECT_GE(e.base, 0.0f);
            EXPECT_LE(e.base, 100.0f);
            break;
        }
    }
    // The same seed draws the same edits.
    juce::Random again(1234);
    const auto repeat = vesk::gui::diceEdits(*s, again);
    ASSERT_EQ(repeat.size(), edits.size());
    for (size_t k = 0; k < edits.size(); ++k) {
        EXPECT_EQ(repeat[k].base, edits[k].base);
        EXPECT_EQ(repeat[k].range, edits[k].range);
    }
}

} // namespace
