// The main window's geometry, at its design unit (twips: 1/1440 inch, 15 per
// pixel at 96 DPI), and the one function that scales it to pixels. No
// <windows.h> here: the table is checked by the native tests too.
#pragma once

#include <cstddef>

namespace app {

enum class Control { Image1, lblabout, Frame1, lbladv, cmdBak, cmdRestore, cmdExit, lblcount };
enum class Kind { Picture, Label, Frame, Button };

struct ControlLayout {
    Control id;
    Kind kind;
    bool inFrame1;                // positioned inside Frame1 rather than the window
    int left, top, width, height; // twips
    int tabIndex;
};

inline constexpr int clientWidthTwips = 6990;
inline constexpr int clientHeightTwips = 3105;

// In tab order: the window creates its controls in this order, which is
// the order Tab moves the focus in.
inline constexpr ControlLayout layoutTable[] = {
    {Control::cmdRestore, Kind::Button, false, 1680, 2400, 975, 375, 0},
    {Control::cmdBak, Kind::Button, false, 360, 2400, 975, 375, 1},
    {Control::cmdExit, Kind::Button, false, 5640, 2400, 975, 375, 2},
    {Control::lblabout, Kind::Label, false, 2520, 240, 4335, 615, 3},
    {Control::Frame1, Kind::Frame, false, 360, 840, 6255, 1335, 4},
    {Control::lbladv, Kind::Label, true, 120, 240, 6015, 975, 5},
    {Control::lblcount, Kind::Label, false, 0, 2880, 6495, 255, 8},
    {Control::Image1, Kind::Picture, false, 0, 0, 2415, 780, -1},
};
inline constexpr std::size_t controlCount = sizeof(layoutTable) / sizeof(layoutTable[0]);

struct PixelRect {
    int left, top, width, height;
};

// pixels = twips x DPI / 1440, rounded to the nearest pixel.
int twipsToPixels(int twips, int dpi);

const ControlLayout& layoutOf(Control id);

// A control's rectangle in the window's client area at `dpi`.
PixelRect clientRect(Control id, int dpi);

} // namespace app
