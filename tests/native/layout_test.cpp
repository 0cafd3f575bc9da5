#include "app/layout.h"

#include <gtest/gtest.h>

namespace {

using app::Control;

struct Expected {
    Control id;
    app::PixelRect rect;
};

TEST(Layout, At96DpiEveryControlSitsOnThePixelTable) {
    const Expected table[] = {
        {Control::Image1, {0, 0, 161, 52}},     {Control::lblabout, {168, 16, 289, 41}},
        {Control::Frame1, {24, 56, 417, 89}},   {Control::lbladv, {24 + 8, 56 + 16, 401, 65}},
        {Control::cmdBak, {24, 160, 65, 25}},   {Control::cmdRestore, {112, 160, 65, 25}},
        {Control::cmdExit, {376, 160, 65, 25}}, {Control::lblcount, {0, 192, 433, 17}},
    };
    for (const Expected& e : table) {
        const app::PixelRect r = app::clientRect(e.id, 96);
        EXPECT_EQ(r.left, e.rect.left) << static_cast<int>(e.id);
        EXPECT_EQ(r.top, e.rect.top) << static_cast<int>(e.id);
        EXPECT_EQ(r.width, e.rect.width) << static_cast<int>(e.id);
        EXPECT_EQ(r.height, e.rect.height) << static_cast<int>(e.id);
    }
    EXPECT_EQ(app::twipsToPixels(app::clientWidthTwips, 96), 466);
    EXPECT_EQ(app::twipsToPixels(app::clientHeightTwips, 96), 207);
}

TEST(Layout, At144DpiEverythingIsHalfAgainAsLarge) {
    EXPECT_EQ(app::twipsToPixels(app::clientWidthTwips, 144), 699);
    const app::PixelRect bak = app::clientRect(Control::cmdBak, 144);
    EXPECT_EQ(bak.left, 36);
    EXPECT_EQ(bak.top, 240);
    const app::PixelRect frame = app::clientRect(Control::Frame1, 144);
    EXPECT_EQ(frame.left, 36);
    EXPECT_EQ(frame.top, 84);
}

TEST(Layout, ButtonRowLinesUpWithTheFrameAtAnyDpi) {
    for (int dpi : {96, 120, 144, 192, 200}) {
        const app::PixelRect frame = app::clientRect(Control::Frame1, dpi);
        const app::PixelRect bak = app::clientRect(Control::cmdBak, dpi);
        const app::PixelRect exit = app::clientRect(Control::cmdExit, dpi);
        EXPECT_EQ(bak.left, frame.left) << dpi;
        EXPECT_EQ(exit.left + exit.width, frame.left + frame.width) << dpi;
    }
}

TEST(Layout, TableIsInTabOrderWithTheButtonsFirst) {
    EXPECT_EQ(app::layoutTable[0].id, Control::cmdRestore);
    EXPECT_EQ(app::layoutTable[1].id, Control::cmdBak);
    EXPECT_EQ(app::layoutTable[2].id, Control::cmdExit);
    int last = -1;
    for (const app::ControlLayout& c : app::layoutTable) {
        if (c.tabIndex < 0) continue;
        EXPECT_GT(c.tabIndex, last);
        last = c.tabIndex;
    }
}

} // namespace
