// The real window, read back through Win32.
#include "app/frmdll.h"
#include "platform/win32_services.h"
#include "resources/resource.h"
#include "moved_system.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <thread>

namespace {

using app::Control;

// Records what is asked of the shell instead of opening a browser. The
// system folders are moved (a test that runs a command gives them a root),
// and a test can act from inside the command's first listing or copy.
class RecordingServices : public testing_win::BatchPathSystem {
  public:
    std::vector<std::string> opened;
    std::vector<int> shownAs;
    void shellOpen(const std::string& address, int showCommand) override {
        opened.push_back(address);
        shownAs.push_back(showCommand);
    }
    std::function<void()> duringListing, duringCopy, duringWrite; // each runs once
    platform::ErrorCode listFolder(const std::wstring& folder, bool directories,
                                   std::vector<platform::FolderEntry>& entries) override {
        once(duringListing);
        return BatchPathSystem::listFolder(folder, directories, entries);
    }
    platform::ErrorCode copyFile(const std::wstring& from, const std::wstring& to,
                                 std::unique_ptr<platform::OpenCopy>& copy,
                                 platform::CopySide& side) override {
        once(duringCopy);
        return BatchPathSystem::copyFile(from, to, copy, side);
    }
    platform::ErrorCode writeNewFile(const std::wstring& path, const std::string& bytes) override {
        once(duringWrite);
        return BatchPathSystem::writeNewFile(path, bytes);
    }

  private:
    static void once(std::function<void()>& f) {
        if (!f) return;
        const std::function<void()> run = std::move(f);
        f = nullptr;
        run();
    }
};

// Records the boxes the commands ask for instead of showing them, answering
// Cancel unless told otherwise.
class RecordingFrmdll : public app::Frmdll {
  public:
    using Frmdll::Frmdll;
    std::vector<std::wstring> boxes;
    std::deque<cache::Answer> answers;
    std::function<void()> duringBox; // runs while each box would be open
    cache::Answer messageBox(const std::wstring& text, const std::wstring& title,
                             cache::Buttons buttons, cache::Icon icon) override {
        (void)title, (void)buttons, (void)icon;
        // What the real box does before it shows.
        beforeBox();
        if (duringBox) duringBox();
        boxes.push_back(text);
        if (answers.empty()) return cache::Answer::Cancel;
        const cache::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

// Another program's messages: sent from a second thread, each answered
// while the command pumps, which `pumping` does until they are all through.
void fromAnotherProgram(const std::function<void()>& send, const std::function<void()>& pumping) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        send();
        done = true;
    });
    while (!done) {
        pumping();
        ::Sleep(1);
    }
    other.join();
}

// The system folders moved into `root`, for a command to run on.
void movedSystemIn(const testing_win::TempDir& root, RecordingServices& services) {
    services.root = root.path();
    for (const wchar_t* d :
         {L"WINDOWS", L"WINDOWS\\system32", L"WINDOWS\\system32\\dllcache", L"tools"})
        ::CreateDirectoryW((root / d).c_str(), nullptr);
}

LRESULT sendFromOutside(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0xBAD;
    ::SendMessageTimeoutW(hwnd, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
    return static_cast<LRESULT>(result);
}

std::wstring textOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

std::wstring classOf(HWND hwnd) {
    wchar_t buffer[64] = {};
    ::GetClassNameW(hwnd, buffer, 64);
    return buffer;
}

struct Window : ::testing::Test {
    RecordingServices services;
    RecordingFrmdll frmdll{services};

    void SetUp() override {
        ::SetCursorPos(0, 0); // the real pointer stays off the window
        ASSERT_TRUE(frmdll.create(::GetModuleHandleW(nullptr)));
        frmdll.show(SW_SHOWNORMAL);
        pump();
    }
    bool quit = false; // the program asked to end

    void TearDown() override {
        // Destroying the window posts WM_QUIT; it must not reach the next test.
        if (frmdll.hwnd() != nullptr) ::DestroyWindow(frmdll.hwnd());
        pump();
    }
    void pump() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit = true;
                continue;
            }
            if (frmdll.preTranslateMessage(msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    // A key as the message loop receives it, with the modifiers held.
    void key(UINT vk, bool shift = false, bool ctrl = false, bool alt = false) {
        BYTE state[256] = {};
        ::GetKeyboardState(state);
        state[VK_SHIFT] = shift ? 0x80 : 0;
        state[VK_CONTROL] = ctrl ? 0x80 : 0;
        state[VK_MENU] = alt ? 0x80 : 0;
        ::SetKeyboardState(state);
        MSG msg = {};
        msg.hwnd = ::GetFocus();
        msg.message = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
        msg.wParam = vk;
        msg.lParam = 1;
        if (!frmdll.preTranslateMessage(msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        state[VK_SHIFT] = state[VK_CONTROL] = state[VK_MENU] = 0;
        ::SetKeyboardState(state);
        pump();
    }
    RECT clientRectOf(Control id) {
        RECT r = {};
        ::GetWindowRect(frmdll.control(id), &r);
        ::MapWindowPoints(HWND_DESKTOP, frmdll.hwnd(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

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

// Whatever reaches the window while a command runs, sent or posted by
// another program, starts no second command and closes nothing; logoff is
// refused while files change, not while only a question or a result box is
// open; minimise and restore act at once, and no other system command is
// replayed after; a quit met on the way still ends the program.
TEST_F(Window, NothingReachingTheWindowDuringACommandStartsOrEndsAnything) {
    testing_win::TempDir root;
    movedSystemIn(root, services);
    testing_win::writeFile(root / L"WINDOWS\\system32\\dllcache\\a.dll", "x");
    HWND hwnd = frmdll.hwnd();
    HWND bak = frmdll.control(Control::cmdBak);
    HWND restore = frmdll.control(Control::cmdRestore);
    LRESULT logoff = 0xBAD;
    std::vector<LRESULT> logoffAtBoxes;
    frmdll.duringBox = [&] {
        logoffAtBoxes.push_back(::SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF));
    };
    bool minimisedAtOnce = false, restoredAtOnce = false;
    const UINT dropped[] = {0x0119u, 0x0240u, 0x0242u, 0x0246u}; // gesture, touch, pen, pointer
    services.duringListing = [&] {
        fromAnotherProgram(
            [&] {
                logoff = sendFromOutside(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
                sendFromOutside(hwnd, WM_ENDSESSION, FALSE, 0); // the session goes on
                sendFromOutside(hwnd, WM_CLOSE, 0, 0);
                sendFromOutside(restore, BM_CLICK, 0, 0);
                sendFromOutside(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CMDEXIT, BN_CLICKED), 0);
                sendFromOutside(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
                ::PostMessageW(restore, BM_CLICK, 0, 0);
                ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                ::PostMessageW(bak, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
                ::PostMessageW(bak, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
                ::PostMessageW(bak, WM_KEYDOWN, VK_ESCAPE, 1);
                for (UINT input : dropped)
                    ::PostMessageW(bak, input, 0, 0);
                ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
                ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0); // a drag
                ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            },
            [&] { frmdll.showProgress(L"已还原7个文件..."); });
        EXPECT_EQ(textOf(frmdll.control(Control::lblcount)), L"已还原7个文件...");
        ::Sleep(50);
        frmdll.keepAlive();
        minimisedAtOnce = ::IsIconic(hwnd) != FALSE;
        ::PostMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0);
        ::Sleep(50);
        frmdll.keepAlive();
        restoredAtOnce = ::IsIconic(hwnd) == FALSE;
        ::PostQuitMessage(3);
    };
    frmdll.answers = {cache::Answer::Ok};
    frmdll.cmdBak_Click();

    EXPECT_EQ(logoff, FALSE);
    EXPECT_EQ(logoffAtBoxes, (std::vector<LRESULT>{TRUE, TRUE})) << "the question, the result";
    EXPECT_TRUE(minimisedAtOnce);
    EXPECT_TRUE(restoredAtOnce);
    EXPECT_EQ(frmdll.boxes, (std::vector<std::wstring>{L"您确定要重新备份一次吗?", L"finished!"}));
    EXPECT_EQ(testing_win::readFile(root / L"tools\\filelist.kdl"), "a.dll\r\n");
    MSG msg;
    for (UINT input : dropped) // any range also finds the kept WM_QUIT
        if (::PeekMessageW(&msg, nullptr, input, input, PM_NOREMOVE)) {
            EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT)) << input;
        }
    if (::PeekMessageW(&msg, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_NOREMOVE)) {
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT)) << "replayed: " << msg.wParam;
    }
    pump();
    EXPECT_TRUE(quit);
    ASSERT_NE(frmdll.hwnd(), nullptr);
    EXPECT_FALSE(::IsIconic(hwnd));
    EXPECT_EQ(frmdll.boxes.size(), 2u);
    // After the command, logoff and closing are as before.
    EXPECT_NE(::SendMessageW(hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(frmdll.hwnd(), nullptr);
}

// Each volume flush takes seconds, as on a busy disk; the window still
// answers within a second throughout the restore, the flushes running on
// a second thread.
TEST_F(Window, ASlowFlushNeverFreezesTheWindow) {
    if (::GetEnvironmentVariableW(L"KESTRUM_FLUSH_ON_WINDOW_THREAD", nullptr, 0) != 0) {
        std::printf("skipped: Window.ASlowFlushNeverFreezesTheWindow: under qemu's emulation the "
                    "flushes stay on the window's thread\n");
        return;
    }
    testing_win::TempDir root;
    movedSystemIn(root, services);
    std::string names;
    for (int i = 0; i < 40; ++i) {
        testing_win::writeFile(root / (L"WINDOWS\\system32\\s" + std::to_wstring(i) + L".dll"),
                               "s");
        names += "s" + std::to_string(i) + ".dll\r\n";
    }
    testing_win::writeFile(root / L"tools\\filelist.kdl", names);
    services.flushDelay = 1500;
    HWND hwnd = frmdll.hwnd();
    std::atomic<bool> done{false};
    std::atomic<int> pings{0}, unanswered{0};
    std::thread watcher([&] {
        while (!done) {
            DWORD_PTR ignored = 0;
            if (!::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored))
                ++unanswered;
            ++pings;
            ::Sleep(100);
        }
    });
    frmdll.answers = {cache::Answer::Ok};
    frmdll.cmdRestore_Click();
    done = true;
    watcher.join();
    EXPECT_EQ(frmdll.boxes.back(), L"DllCache(40) Restored Successfully");
    EXPECT_EQ(services.volumeFlushes, 2);
    EXPECT_GE(pings, 10);
    EXPECT_EQ(unanswered, 0);
}

// The session ends anyway during a restore: it stops at once, shows
// nothing more, every cache file is whole, and the program ends.
TEST_F(Window, AnEndingSessionStopsARestoreWithNothingCutShort) {
    testing_win::TempDir root;
    movedSystemIn(root, services);
    const std::wstring sys = root / L"WINDOWS\\system32";
    testing_win::writeFile(sys + L"\\a.dll", std::string(1 << 20, 'n'));
    testing_win::writeFile(sys + L"\\b.dll", "new b");
    testing_win::writeFile(sys + L"\\dllcache\\a.dll", "old a");
    testing_win::writeFile(root / L"tools\\filelist.kdl", "a.dll\r\nb.dll\r\n");
    // ENDSESSION_CLOSEAPP: the Restart Manager closes the program, the
    // session itself goes on.
    services.duringCopy = [&] {
        fromAnotherProgram([&] { sendFromOutside(frmdll.hwnd(), WM_ENDSESSION, TRUE, 0x1); },
                           [&] { frmdll.keepAlive(); });
    };
    frmdll.answers = {cache::Answer::Ok};
    frmdll.cmdRestore_Click();

    EXPECT_EQ(frmdll.boxes, std::vector<std::wstring>{L"Are you sure?"});
    const std::string a = testing_win::readFile(sys + L"\\dllcache\\a.dll");
    EXPECT_TRUE(a == "old a" || a == std::string(1 << 20, 'n')) << a.size() << " bytes";
    EXPECT_EQ(testing_win::readFile(sys + L"\\dllcache\\b.dll"), "<missing>");
    EXPECT_EQ(testing_win::readFile(sys + L"\\dllcache\\kestrum-restore.tmp"), "<missing>");
    // Then the program ends.
    EXPECT_EQ(frmdll.hwnd(), nullptr);
    pump();
    EXPECT_TRUE(quit);
}

// A real message box: without a title of its own it shows the program's name.
TEST(WindowMessageBox, UntitledBoxShowsTheProgramsName) {
    platform::Win32Services services;
    app::Frmdll frmdll(services);
    ASSERT_TRUE(frmdll.create(::GetModuleHandleW(nullptr)));
    std::wstring seenText;
    std::thread answer([&] {
        for (int i = 0; i < 200; ++i) {
            HWND box = ::FindWindowW(L"#32770", L"Kestrum");
            if (box != nullptr) {
                seenText = textOf(::GetDlgItem(box, 0xFFFF));
                ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
                return;
            }
            ::Sleep(50);
        }
    });
    const cache::Answer a =
        frmdll.messageBox(L"Are you sure?", L"", cache::Buttons::OkCancel, cache::Icon::Question);
    answer.join();
    ::DestroyWindow(frmdll.hwnd());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(seenText, L"Are you sure?");
    EXPECT_EQ(a, cache::Answer::Cancel);
}

// Keys typed while a command works are not taken as the answer to its
// result box: real input, read by the box's own loop.
TEST(WindowMessageBox, KeysTypedDuringTheWorkDoNotAnswerTheResultBox) {
    testing_win::TempDir root;
    RecordingServices services;
    movedSystemIn(root, services);
    testing_win::writeFile(root / L"WINDOWS\\system32\\dllcache\\a.dll", "x");
    app::Frmdll frmdll(services);
    ASSERT_TRUE(frmdll.create(::GetModuleHandleW(nullptr)));
    frmdll.show(SW_SHOWNORMAL);
    ::SetForegroundWindow(frmdll.hwnd());
    // Typed while the list is written, after the last heartbeat.
    services.duringWrite = [] {
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_RETURN;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, keys, sizeof(INPUT));
    };
    bool resultBoxStayed = false;
    std::thread answer([&] {
        auto waitFor = [](const wchar_t* title) {
            for (int i = 0; i < 200; ++i) {
                if (HWND box = ::FindWindowW(L"#32770", title)) return box;
                ::Sleep(50);
            }
            return HWND{};
        };
        if (HWND confirm = waitFor(L"选择")) ::PostMessageW(confirm, WM_COMMAND, IDOK, 0);
        if (HWND result = waitFor(L"backup")) {
            ::Sleep(300);
            resultBoxStayed = ::IsWindow(result) != FALSE;
            ::PostMessageW(result, WM_COMMAND, IDOK, 0);
        }
    });
    frmdll.cmdBak_Click();
    answer.join();
    ::DestroyWindow(frmdll.hwnd());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_TRUE(resultBoxStayed);
    EXPECT_EQ(testing_win::readFile(root / L"tools\\filelist.kdl"), "a.dll\r\n");
}

} // namespace
