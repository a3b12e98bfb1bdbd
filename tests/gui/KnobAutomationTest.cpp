// What a pool knob's edits tell the host: one gesture per parameter a drag moves, values in
// order, and single edits as a gesture of their own.
#include "gui/VeskKnobAutomation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vesk::gui::KnobAutomation;

struct Recorder
{
    std::vector<std::string> events;
    void attach(KnobAutomation& a)
    {
        a.begin = [this](uint32_t id) { events.push_back("begin " + std::to_string(id)); };
        a.value = [this](uint32_t id, double v) {
            events.push_back("value " + std::to_string(id) + " " + std::to_string(int(v * 10)));
        };
        a.end = [this](uint32_t id) { events.push_back("end " + std::to_string(id)); };
    }
};

enum
{
    kVol,
    kPan,
    kPitch,
    kDelay,
    kStart,
    kRev
};

TEST(KnobAutomationGui, ADragIsOneGesturePerPartItMoves)
{
    struct Case
    {
        const char* name;
        int pool, knob;
        std::vector<std::pair<double, double>> edits; // base, spread percent
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"value",
         0,
         kPitch,
         {{1.0, 0.0}, {2.5, 0.0}},
         {"begin 1004", "value 1004 10", "value 1004 25", "end 1004"}},
        {"outer ring",
         2,
         kVol,
         {{0.0, 10.0}, {0.0, 30.0}},
         {"begin 1201", "value 1201 100", "value 1201 300", "end 1201"}},
        {"a repeated value",
         7,
         kRev,
         {{5.0, 0.0}, {5.0, 0.0}},
         {"begin 1709", "value 1709 50", "end 1709"}},
        {"nothing moved", 1, kPan, {{0.0, 0.0}}, {}},
        {"no parameter", 0, kDelay, {{100.0, 0.0}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KnobAutomation a;
        Recorder r;
        r.attach(a);
        a.dragStarted(c.pool, c.knob, 0.0, 0.0);
        for (const auto& [base, spread] : c.edits)
            a.changed(c.pool, c.knob, base, spread);
        a.dragEnded(c.pool, c.knob);
        EXPECT_EQ(r.events, c.expected);
    }
}

TEST(KnobAutomationGui, AnEditOutsideADragIsAGestureOfItsOwn)
{
    KnobAutomation a;
    Recorder r;
    r.attach(a);
    a.changed(0, kStart, 40.0, 0.0); // a double click or a typed value: Start has no spread
    EXPECT_EQ(r.events, (std::vector<std::string>{"begin 1006", "value 1006 400", "end 1006"}));
    // An end without its start, or for another knob, sends nothing.
    r.events.clear();
    a.dragEnded(0, kStart);
    a.dragStarted(0, kPitch, 0.0, 0.0);
    a.changed(0, kPitch, 1.0, 0.0);
    a.dragEnded(0, kVol);
    EXPECT_EQ(r.events, (std::vector<std::string>{"begin 1004", "value 1004 10"}));
    a.dragEnded(0, kPitch);
    EXPECT_EQ(r.events.back(), "end 1004");
}

} // namespace
