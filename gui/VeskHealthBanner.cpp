#include "VeskHealthBanner.h"

#include "VeskGuiLayout.h"

namespace vesk::gui {

juce::String healthBannerText(bool stateUnread, int missingFiles, int droppedCommands)
{
    juce::StringArray messages;
    if (stateUnread)
        messages.add(juce::String::fromUTF8(
            "本实例的工程数据没能读出来（版本不符或文件损坏）。原始数据已保留，保存工程不会覆盖它"
            " —— 但你一旦在这里做任何修改，保留的那份就会被你现在看到的内容顶掉。"));
    if (missingFiles != 0)
        messages.add(juce::String::fromUTF8("有 ") + juce::String(missingFiles) +
                     juce::String::fromUTF8(" 个采样文件读不到（在 Pool "
                                            "的采样列表里已标出）。路径已保留，把文件放回原处重开"
                                            "工程即可恢复。"));
    if (droppedCommands != 0)
        messages.add(juce::String::fromUTF8("有 ") + juce::String(droppedCommands) +
                     juce::String::fromUTF8(" 个操作没能送达（队列满），请重做一遍并检查参数。"));
    return messages.joinIntoString("    |    ");
}

} // namespace vesk::gui

VeskHealthBanner::VeskHealthBanner()
{
    setInterceptsMouseClicks(false, false);
}

bool VeskHealthBanner::setText(const juce::String& text)
{
    if (text == text_)
        return false;
    text_ = text;
    repaint();
    return true;
}

void VeskHealthBanner::paint(juce::Graphics& g)
{
    if (text_.isEmpty())
        return;
    g.fillAll(juce::Colour(vesk::gui::colours::kBanner));
    g.setColour(juce::Colour(vesk::gui::colours::kBannerText));
    g.setFont(juce::Font(13.0f, juce::Font::bold));
    g.drawText(text_, getLocalBounds().reduced(10, 0), juce::Justification::centredLeft, true);
}
