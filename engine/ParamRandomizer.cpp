#include "SamplePool.h"

namespace vesk {

namespace {

// Picks the quarter of the spread for the next draw and remembers it. Never the same quarter
// twice in a row once a first draw has happened. One generator step.
int pickQuadrant(XS64Rand& rng, int32_t& lastQuadrant)
{
    int q;
    if (lastQuadrant < 0 || lastQuadrant > 3) {
        rng.next();
        q = static_cast<int>(rng.state & 3u); // low bits of the state itself, not of the output
    } else {
        int others[3];
        int n = 0;
        for (int i = 0; i < 4; ++i)
            if (i != lastQuadrant)
                others[n++] = i;
        q = others[rng.next() % 3u];
    }
    lastQuadrant = q;
    return q;
}

// Position in [0, 1) inside a freshly chosen quarter. Two generator steps.
double drawPosition(XS64Rand& rng, int32_t& lastQuadrant)
{
    const int q = pickQuadrant(rng, lastQuadrant);
    const double u = rng.uniform();
    return (q + u) * 0.25;
}

} // namespace

float ParamRandomizer::evaluate(XS64Rand& rng, float scale)
{
    if (!enabled || !(range > 0.0f))
        return base;
    const double position = drawPosition(rng, lastQuadrant);
    return static_cast<float>(double(base) +
                              double(scale) * double(range) * (2.0 * position - 1.0));
}

float ParamRandomizer::evaluateUnipolar(XS64Rand& rng, float scale)
{
    if (!enabled || !(range > 0.0f))
        return base;
    const double position = drawPosition(rng, lastQuadrant);
    return static_cast<float>(double(base) + double(scale) * double(range) * position);
}

} // namespace vesk
