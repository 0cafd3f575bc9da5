// The real window while a command runs: what reaches it from other
// programs and the system, its boxes, and the end of the session.
#include "other_program.h"
#include "window_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace testing_win;
using app::Control;

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
        std::vector<std::wstring> acts = {
            OtherProgram::act(L"send", hwnd, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF),
            OtherProgram::act(L"send", hwnd, WM_ENDSESSION, FALSE, 0), // the session goes on
            OtherProgram::act(L"send", hwnd, WM_CLOSE, 0, 0),
            OtherProgram::act(L"send", restore, BM_CLICK, 0, 0),
            OtherProgram::act(L"send", hwnd, WM_COMMAND, MAKEWPARAM(IDC_CMDEXIT, BN_CLICKED), 0),
            OtherProgram::act(L"send", hwnd, WM_SYSCOMMAND, SC_CLOSE, 0),
            OtherProgram::act(L"post", hwnd, WM_CLOSE, 0, 0),
            OtherProgram::act(L"post", restore, BM_CLICK, 0, 0),
            OtherProgram::act(L"post", hwnd, WM_SYSCOMMAND, SC_CLOSE, 0),
            OtherProgram::act(L"post", bak, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5)),
            OtherProgram::act(L"post", bak, WM_LBUTTONUP, 0, MAKELPARAM(5, 5)),
            OtherProgram::act(L"post", bak, WM_KEYDOWN, VK_ESCAPE, 1)};
        for (UINT input : dropped)
            acts.push_back(OtherProgram::act(L"post", bak, input, 0, 0));
        acts.push_back(OtherProgram::act(L"post", hwnd, WM_SYSCOMMAND, SC_SCREENSAVE, 0));
        acts.push_back(
            OtherProgram::act(L"post", hwnd, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0)); // a drag
        acts.push_back(OtherProgram::act(L"post", hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0));
        OtherProgram other(acts);
        const std::vector<std::string> answers =
            other.wait([&] { frmdll.showProgress(L"已还原7个文件..."); });
        logoff = answers.empty() ? 0xBAD : std::stoi(answers[0]);
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
    if (::GetEnvironmentVariableW(L"KESTRUM_FLUSH_ON_WINDOW_THREAD", nullptr, 0) != 0)
        GTEST_SKIP() << "under qemu's emulation the flushes stay on the window's thread";
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
        OtherProgram other({OtherProgram::act(L"send", frmdll.hwnd(), WM_ENDSESSION, TRUE, 0x1)});
        other.wait([&] { frmdll.keepAlive(); });
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
    OtherProgram other({L"answer:Kestrum:" + std::to_wstring(IDCANCEL) + L":0"});
    const cache::Answer a =
        frmdll.messageBox(L"Are you sure?", L"", cache::Buttons::OkCancel, cache::Icon::Question);
    const std::vector<std::string> seen = other.wait();
    ::DestroyWindow(frmdll.hwnd());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    const std::string seenText = seen.empty() ? "" : seen[0];
    EXPECT_EQ(seenText, "Are you sure?");
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
    OtherProgram other({L"answer:选择:" + std::to_wstring(IDOK) + L":0",
                        L"answer:backup:" + std::to_wstring(IDOK) + L":300"});
    frmdll.cmdBak_Click();
    const std::vector<std::string> seen = other.wait();
    ::DestroyWindow(frmdll.hwnd());
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    const bool resultBoxStayed = seen.size() == 4 && seen[3] == "stayed";
    EXPECT_TRUE(resultBoxStayed);
    EXPECT_EQ(testing_win::readFile(root / L"tools\\filelist.kdl"), "a.dll\r\n");
}

} // namespace
