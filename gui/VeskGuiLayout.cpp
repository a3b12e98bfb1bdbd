#include "VeskGuiLayout.h"

#include <algorithm>

namespace vesk::gui {

EditorLayout computeEditorLayout(int width, int height, bool bannerVisible)
{
    using namespace layout;
    width = std::max(width, 0);
    height = std::max(height, 0);
    EditorLayout l;
    const int t = bannerVisible ? kBannerHeight : 0;
    if (bannerVisible)
        l.banner = {0, 0, width, kBannerHeight};
    const auto nonNegative = [](int v) { return std::max(v, 0); };
    l.topBar = {kMargin, t + kMargin, nonNegative(width - 2 * kMargin), kTopBarHeight};
    l.master = {kMargin, height - kMasterInset, nonNegative(width - 2 * kMargin), kMasterHeight};
    const int y = t + kBandTop;
    const int band = nonNegative(height - t - kBandReserve);
    l.nav = {kMargin, y, kNavWidth, band};
    l.viewport = {kViewportX, y, kPoolRowWidth + kScrollBarThickness, band};
    l.lanes[0] = {width - kLane0Inset, y, kLaneWidth, band};
    l.lanes[1] = {width - kLane1Inset, y, kLaneWidth, band};
    return l;
}

PoolRowsLayout computePoolRowsLayout(uint8_t visibleMask, int viewportWidth)
{
    using namespace layout;
    PoolRowsLayout l;
    int n = 0;
    for (int i = 0; i < 8; ++i) {
        if ((visibleMask >> i) & 1) {
            l.rows[size_t(i)] = {0, n * kPoolRowPitch, kPoolRowWidth, kPoolRowHeight};
            ++n;
        }
    }
    l.containerWidth = std::max(viewportWidth - kScrollBarThickness, 0);
    l.containerHeight = n > 0 ? n * kPoolRowPitch - (kPoolRowPitch - kPoolRowHeight) : 0;
    return l;
}

} // namespace vesk::gui
