// The real window, read back through Win32: its layout, looks and own
// behaviours.
#include "window_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace testing_win;
using app::Control;

TEST_F(Window, CaptionFixedBorderAndClientSize) {
    HWND hwnd = frmdll.hwnd();
    EXPECT_EQ(textOf(hwnd), L"Kestrum管理软件 V1.0");
    const LONG style = ::GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU); // keeps its close box
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    RECT client = {};
    ::GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, app::twipsToPixels(app::clientWidthTwips, frmdll.dpi()));
    EXPECT_EQ(client.bottom, app::twipsToPixels(app::clientHeightTwips, frmdll.dpi()));
    if (frmdll.dpi() == 96) {
        EXPECT_EQ(client.right, 466);
        EXPECT_EQ(client.bottom, 207);
    }
}

TEST_F(Window, RunsAtTheDpiTheTestAskedFor) {
    const char* wanted = std::getenv("KESTRUM_EXPECT_DPI");
    if (wanted != nullptr) {
        EXPECT_EQ(frmdll.dpi(), std::atoi(wanted));
    }
}

TEST_F(Window, OpensCentredOnTheScreen) {
    RECT work = {};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT r = {};
    ::GetWindowRect(frmdll.hwnd(), &r);
    EXPECT_LE(std::abs((r.left + r.right) - (work.left + work.right)), 1);
    EXPECT_LE(std::abs((r.top + r.bottom) - (work.top + work.bottom)), 1);
}

TEST_F(Window, EveryControlSitsWhereTheLayoutTableSays) {
    for (const app::ControlLayout& c : app::layoutTable) {
        const RECT r = clientRectOf(c.id);
        const app::PixelRect want = app::clientRect(c.id, frmdll.dpi());
        EXPECT_EQ(r.left, want.left) << static_cast<int>(c.id);
        EXPECT_EQ(r.top, want.top) << static_cast<int>(c.id);
        if (c.kind == app::Kind::Picture) continue; // natural size, checked below
        EXPECT_EQ(r.right - r.left, want.width) << static_cast<int>(c.id);
        EXPECT_EQ(r.bottom - r.top, want.height) << static_cast<int>(c.id);
    }
    const RECT logo = clientRectOf(Control::Image1);
    EXPECT_EQ(logo.right - logo.left, 161);
    EXPECT_EQ(logo.bottom - logo.top, 52);
}

TEST_F(Window, TextsKindsAndInitialStates) {
    EXPECT_EQ(textOf(frmdll.control(Control::cmdBak)), L"备份");
    EXPECT_EQ(textOf(frmdll.control(Control::cmdRestore)), L"还原");
    EXPECT_EQ(textOf(frmdll.control(Control::cmdExit)), L"退出");
    EXPECT_EQ(textOf(frmdll.control(Control::lblabout)),
              L"用法介绍:本软件用于备份与还原windows系统的dllcache功能。-R 自动还原  -D\u3000自毁");
    EXPECT_EQ(textOf(frmdll.control(Control::Frame1)), L"");
    EXPECT_EQ(textOf(frmdll.control(Control::lblcount)), L"");
    EXPECT_EQ(classOf(frmdll.control(Control::cmdBak)), L"Button");
    EXPECT_EQ(classOf(frmdll.control(Control::lblabout)), L"Static");
    EXPECT_EQ(::GetWindowLongW(frmdll.control(Control::Frame1), GWL_STYLE) & BS_TYPEMASK,
              BS_GROUPBOX);

    for (const app::ControlLayout& c : app::layoutTable) {
        EXPECT_TRUE(::IsWindowVisible(frmdll.control(c.id))) << static_cast<int>(c.id);
        EXPECT_EQ(::IsWindowEnabled(frmdll.control(c.id)) != FALSE, c.id != Control::lblcount)
            << static_cast<int>(c.id);
    }
    EXPECT_FALSE(frmdll.Dir1.enabled());
}

TEST_F(Window, LogoAndIconAreTheProgramsPictures) {
    auto logo = reinterpret_cast<HBITMAP>(
        ::SendMessageW(frmdll.control(Control::Image1), STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(logo, nullptr);
    BITMAP bm = {};
    ASSERT_NE(::GetObjectW(logo, sizeof(bm), &bm), 0);
    EXPECT_EQ(bm.bmWidth, 161);
    EXPECT_EQ(bm.bmHeight, 52);
    EXPECT_NE(::SendMessageW(frmdll.hwnd(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(frmdll.hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(Window, OpensWithRestoreFocusedAndTabCyclesTheButtons) {
    HWND restore = frmdll.control(Control::cmdRestore);
    HWND bak = frmdll.control(Control::cmdBak);
    HWND exit = frmdll.control(Control::cmdExit);
    EXPECT_EQ(::GetFocus(), restore);
    key(VK_TAB);
    EXPECT_EQ(::GetFocus(), bak);
    key(VK_TAB);
    EXPECT_EQ(::GetFocus(), exit);
    key(VK_TAB);
    EXPECT_EQ(::GetFocus(), restore);
    key(VK_TAB, true);
    EXPECT_EQ(::GetFocus(), exit);
    key(VK_TAB, true);
    EXPECT_EQ(::GetFocus(), bak);
}

TEST_F(Window, EnterClicksTheFocusedButton) {
    key(VK_TAB); // to 备份
    key(VK_RETURN);
    ASSERT_EQ(frmdll.boxes.size(), 1u);
    EXPECT_EQ(frmdll.boxes[0], L"您确定要重新备份一次吗?");
    EXPECT_TRUE(::IsWindowEnabled(frmdll.control(Control::cmdBak)));
}

TEST_F(Window, EscapeClicksExitAndEndsTheProgram) {
    key(VK_ESCAPE);
    EXPECT_EQ(frmdll.hwnd(), nullptr);
    EXPECT_TRUE(quit);
}

TEST_F(Window, ClosingTheWindowEndsTheProgram) {
    ::SendMessageW(frmdll.hwnd(), WM_CLOSE, 0, 0);
    pump();
    EXPECT_EQ(frmdll.hwnd(), nullptr);
    EXPECT_TRUE(quit);
}

TEST_F(Window, CommandsDriveTheButtonsAndTheCountLabel) {
    frmdll.setBackupEnabled(false);
    EXPECT_FALSE(::IsWindowEnabled(frmdll.control(Control::cmdBak)));
    frmdll.setBackupEnabled(true);
    frmdll.setRestoreEnabled(false);
    EXPECT_FALSE(::IsWindowEnabled(frmdll.control(Control::cmdRestore)));
    frmdll.setRestoreEnabled(true);
    frmdll.setCountEnabled(true);
    frmdll.setCountText(L"已还原12个文件...");
    EXPECT_TRUE(::IsWindowEnabled(frmdll.control(Control::lblcount)));
    EXPECT_EQ(textOf(frmdll.control(Control::lblcount)), L"已还原12个文件...");
}

TEST_F(Window, AdvertisementLabelIsFilledAtLoad) {
    const std::wstring text = textOf(frmdll.control(Control::lbladv));
    EXPECT_EQ(text, app::advertisementText());
    EXPECT_EQ(text.rfind(L"  ", 0), 0u);
    const std::wstring middle = std::wstring(10, L' ') + L"咨询电话:555-0100  QQ\uFF1A5550100\r\n" +
                                std::wstring(23, L' ') + L"E-mail:kestrum@example.com\r\n\r\n" +
                                std::wstring(4, L' ') + L"更多详情\uFF0C请点击网站:";
    const std::size_t at = text.find(middle);
    ASSERT_NE(at, std::wstring::npos);
    EXPECT_NE(text[2], L' '); // exactly two spaces before the sentence
    EXPECT_NE(text[at - 1], L' ');
    const std::string web = app::makerWebAddress;
    EXPECT_EQ(text.substr(at + middle.size()), std::wstring(web.begin(), web.end()));

    // All of it fits the label in the window's font, the web address too.
    HWND adv = frmdll.control(Control::lbladv);
    RECT label = {};
    ::GetClientRect(adv, &label);
    RECT needed = label;
    HDC dc = ::GetDC(adv);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(adv, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(adv, dc);
    EXPECT_LE(needed.bottom, label.bottom) << "the text needs " << needed.bottom << " px";
}

TEST_F(Window, CtrlShiftF12AppendsTheNoticeWhateverHasTheFocus) {
    const std::wstring caption = L"Kestrum管理软件 V1.0";
    for (Control focus : {Control::cmdRestore, Control::cmdBak, Control::cmdExit}) {
        ::SetFocus(frmdll.control(focus));
        ::SetWindowTextW(frmdll.hwnd(), caption.c_str());
        key(VK_F12, true, false, false);
        key(VK_F12, false, true, false);
        key(VK_F12, true, true, true);
        key(VK_F11, true, true, false);
        EXPECT_EQ(textOf(frmdll.hwnd()), caption);
        key(VK_F12, true, true, false);
        EXPECT_EQ(textOf(frmdll.hwnd()), caption + app::captionSuffix);
        key(VK_F12, true, true, false);
        EXPECT_EQ(textOf(frmdll.hwnd()), caption + app::captionSuffix + app::captionSuffix);
        EXPECT_EQ(::GetFocus(), frmdll.control(focus));
    }
    EXPECT_EQ(std::wstring(app::captionSuffix).rfind(L" | ", 0), 0u);
    EXPECT_TRUE(frmdll.boxes.empty());
}

TEST_F(Window, LabelColourFollowsTheMouse) {
    EXPECT_EQ(frmdll.advTextColor(), ::GetSysColor(COLOR_HIGHLIGHT));
    ::SendMessageW(frmdll.control(Control::lbladv), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(frmdll.advTextColor(), 0x000000FFu);
    // Other controls and the frame leave it as it is.
    ::SendMessageW(frmdll.control(Control::Frame1), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    ::SendMessageW(frmdll.control(Control::cmdBak), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(frmdll.advTextColor(), 0x000000FFu);
    ::SendMessageW(frmdll.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(460, 5));
    EXPECT_EQ(frmdll.advTextColor(), 0x00FF0000u);
}

TEST_F(Window, OnlyBareSurfaceIsTheWindowsOwnUnderTheMouse) {
    // Points given at 96 DPI, scaled to the window's.
    auto at = [&](int x, int y) {
        POINT p = {app::twipsToPixels(x * 15, frmdll.dpi()),
                   app::twipsToPixels(y * 15, frmdll.dpi())};
        ::ClientToScreen(frmdll.hwnd(), &p);
        return ::WindowFromPoint(p);
    };
    const app::PixelRect frame = app::clientRect(Control::Frame1, frmdll.dpi());
    const app::PixelRect adv = app::clientRect(Control::lbladv, frmdll.dpi());
    auto atPixel = [&](int x, int y) {
        POINT p = {x, y};
        ::ClientToScreen(frmdll.hwnd(), &p);
        return ::WindowFromPoint(p);
    };
    EXPECT_EQ(atPixel(frame.left + 2, frame.top + frame.height - 3),
              frmdll.control(Control::Frame1));
    EXPECT_EQ(atPixel(adv.left + 10, adv.top + 10), frmdll.control(Control::lbladv));
    EXPECT_EQ(at(200, 20), frmdll.control(Control::lblabout));
    EXPECT_EQ(at(20, 20), frmdll.control(Control::Image1));
    EXPECT_EQ(at(462, 5), frmdll.hwnd());
    EXPECT_EQ(at(300, 170), frmdll.hwnd());
}

TEST_F(Window, LinkCursorOverTheLabelOrdinaryPointerOverTheFrame) {
    HCURSOR link = ::LoadCursorW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDC_LINK));
    ASSERT_NE(link, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(link, &info));
    // The system scales the 32-pixel cursor to its own cursor size.
    const double scale = ::GetSystemMetrics(SM_CXCURSOR) / 32.0;
    EXPECT_NEAR(info.xHotspot, 12 * scale, 1.0);
    EXPECT_NEAR(info.yHotspot, 1 * scale, 1.0);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);

    const LPARAM over = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    HWND adv = frmdll.control(Control::lbladv);
    // While busy the hourglass shows everywhere, the label too.
    frmdll.setBusyCursor(true);
    for (HWND under : {adv, frmdll.control(Control::Frame1), frmdll.control(Control::cmdBak)}) {
        ::SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), over);
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_WAIT));
    }
    frmdll.setBusyCursor(false);
    HWND frame = frmdll.control(Control::Frame1);
    ::SendMessageW(frame, WM_SETCURSOR, reinterpret_cast<WPARAM>(frame), over);
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
    ::SendMessageW(adv, WM_SETCURSOR, reinterpret_cast<WPARAM>(adv), over);
    EXPECT_EQ(::GetCursor(), link);
    ::SendMessageW(frmdll.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(460, 5));
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(Window, AnyButtonOnTheLabelOpensTheWebSite) {
    HWND adv = frmdll.control(Control::lbladv);
    for (UINT message : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN})
        ::SendMessageW(adv, message, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(services.opened, std::vector<std::string>(3, "http://www.example.com/kestrum"));
    // Shown, not hidden: a browser not yet running would otherwise start unseen.
    EXPECT_EQ(services.shownAs, std::vector<int>(3, SW_SHOWNORMAL));
    const std::wstring text = textOf(adv);
    EXPECT_EQ(text.substr(text.size() - 30), L"http://www.example.com/kestrum");
}

} // namespace
