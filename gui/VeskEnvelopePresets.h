// The envelope editor's shape presets: a constant table, points normalised (x 0..1 across the
// voice's run, y 0..1 from the tab's minimum to its maximum; on the filter tabs 0 is 0 Hz and 1
// is 20000 Hz). Consecutive presets of one category form one submenu.
#pragma once

#include <cstdint>

namespace vesk::gui {

struct EnvelopePresetPoint
{
    float x, y;
};

struct EnvelopePreset
{
    static constexpr int kMaxPoints = 18;
    const char* name;
    const char* category;
    uint32_t count;
    EnvelopePresetPoint points[kMaxPoints];
};

inline constexpr int kNumEnvelopePresets = 28;
extern const EnvelopePreset kEnvelopePresets[kNumEnvelopePresets];

} // namespace vesk::gui
