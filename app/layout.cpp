#include "app/layout.h"

namespace app {

int twipsToPixels(int twips, int dpi) {
    const long long scaled = static_cast<long long>(twips) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440));
}

const ControlLayout& layoutOf(Control id) {
    for (const ControlLayout& c : layoutTable)
        if (c.id == id) return c;
    return layoutTable[0];
}

PixelRect clientRect(Control id, int dpi) {
    const ControlLayout& c = layoutOf(id);
    int left = c.left;
    int top = c.top;
    if (c.inFrame1) {
        const ControlLayout& frame = layoutOf(Control::Frame1);
        left += frame.left;
        top += frame.top;
    }
    // Edges are scaled rather than sizes, so neighbouring controls that meet
    // at 96 DPI still meet at any other DPI.
    const int x0 = twipsToPixels(left, dpi);
    const int y0 = twipsToPixels(top, dpi);
    return {x0, y0, twipsToPixels(left + c.width, dpi) - x0,
            twipsToPixels(top + c.height, dpi) - y0};
}

} // namespace app
