#include "fx/FXModuleSupport.h"

namespace vesk::fxsupport {

const float* parabolicGrainEnvelope()
{
    static const auto table = [] {
        struct Table
        {
            float v[257];
        } t{};
        for (int i = 0; i < 256; ++i) {
            const double x = i / 256.0;
            t.v[i] = static_cast<float>(4.0 * x * (1.0 - x));
        }
        t.v[256] = 0.0f;
        return t;
    }();
    return table.v;
}

} // namespace vesk::fxsupport
