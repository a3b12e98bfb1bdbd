// What a pool knob's drag tells the host, so the host records automation from the editor.
//
// A knob edits two host parameters at once: its value (the base) and its outer ring (the random
// spread, in percent). A drag sends the host a gesture begin for each parameter the drag actually
// moves, at its first move, then every new value, and the gesture ends at the release. An edit
// outside a drag (a double click back to the default, a typed value) is begin, value and end at
// once. Nothing here changes the engine: the editor's commands still do that, so a value the host
// plays back is never echoed as a new edit.
#pragma once

#include <cstdint>
#include <functional>

namespace vesk::gui {

class KnobAutomation
{
public:
    // The host's side: the plug-in's gesture ring (see plugin/VeskParamGestures.h).
    std::function<void(uint32_t id)> begin;
    std::function<void(uint32_t id, double value)> value;
    std::function<void(uint32_t id)> end;

    // The parameter ids of pool `pool`'s knob `knob` (the row's knob order: Vol, Pan, Pitch,
    // Delay, Start, Rev); false for a part no parameter stands for.
    static bool baseId(int pool, int knob, uint32_t& id);
    static bool spreadId(int pool, int knob, uint32_t& id);

    // At the press, with the knob's value and outer ring as they stand.
    void dragStarted(int pool, int knob, double base, double spreadPercent);
    // Every edit of the knob: its value and its outer ring in percent.
    void changed(int pool, int knob, double base, double spreadPercent);
    void dragEnded(int pool, int knob);

private:
    struct Part
    {
        bool begun = false;
        bool known = false;
        double last = 0.0;
    };
    void move(Part& part, bool has, uint32_t id, double v, bool inDrag);

    bool dragging_ = false;
    int pool_ = -1, knob_ = -1;
    Part base_, spread_;
};

} // namespace vesk::gui
