// "Show the user's edit until the engine reports it": one rule for every control of the editor.
//
// A control sends its new value as a command and the engine reports it back in the snapshot a
// tick or two later. Between the two the snapshot still carries the old value, and a control
// that took it would jump back under the user's hand. So the control keeps its own value as
// pending and ignores the snapshot until the snapshot agrees with it.
//
// Two things make a plain "wait for equality" lose the control for good:
// - values travel in other units than the control shows them (a random range 0..100 % is sent
//   as r / 100 and comes back multiplied by 100), and the round trip is not exact in floats;
//   so agreement is judged within a tolerance in the units sent;
// - an edit the engine never applies (its command dropped by a full ring, or the pool cleared
//   meanwhile) would be waited for forever, and dice, reset, a state load or the host's undo
//   would never show. So an edit expires: after kExpiryMs without confirmation the control
//   follows the engine again.
//
// Plain code without JUCE, so the rule is tested without a display. Times are milliseconds of
// any monotonic clock; pendingClockMs() is the one the editor uses. [main thread]
#pragma once

#include <chrono>
#include <cmath>

namespace vesk::gui {

// Milliseconds of a monotonic clock.
inline double pendingClockMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// True when a and b agree within tolerance; non-finite values agree only when identical.
inline bool nearlyEqual(float a, float b, float tolerance)
{
    if (a == b)
        return true;
    if (!std::isfinite(a) || !std::isfinite(b))
        return false;
    return std::fabs(a - b) <= tolerance;
}

// The tolerance for a control covering min..max: a hundred-thousandth of its span, so that a
// float round trip through another unit agrees, and any step a user can make does not.
inline float spanTolerance(float min, float max)
{
    const float span = std::fabs(max - min);
    return std::isfinite(span) && span > 0.0f ? span * 1.0e-5f : 1.0e-6f;
}

template <typename T> class VeskPendingValue
{
public:
    static constexpr double kExpiryMs = 1000.0;

    // The user's edit, made at nowMs.
    void set(const T& value, double nowMs)
    {
        value_ = value;
        since_ = nowMs;
        active_ = true;
    }

    void clear() { active_ = false; }
    bool active() const { return active_; }
    // The pending value (meaningful only while active).
    const T& value() const { return value_; }

    // Offers the engine's value at nowMs. Clears the pending edit when matches(engine, pending)
    // holds or when it has waited kExpiryMs or more. Returns true while the edit stays pending,
    // that is, while the control must keep showing value() instead of the engine's value.
    template <typename Match> bool offer(const T& engine, double nowMs, Match&& matches)
    {
        if (!active_)
            return false;
        if (matches(engine, value_) || nowMs - since_ >= kExpiryMs || nowMs < since_)
            active_ = false;
        return active_;
    }

    // As above, agreement by ==.
    bool offer(const T& engine, double nowMs)
    {
        return offer(engine, nowMs, [](const T& a, const T& b) { return a == b; });
    }

    // The value to show for the engine's value at nowMs: the pending one while it stays pending.
    template <typename Match> const T& resolve(const T& engine, double nowMs, Match&& matches)
    {
        return offer(engine, nowMs, matches) ? value_ : engine;
    }
    const T& resolve(const T& engine, double nowMs)
    {
        return offer(engine, nowMs) ? value_ : engine;
    }

private:
    T value_{};
    double since_ = 0.0;
    bool active_ = false;
};

} // namespace vesk::gui
