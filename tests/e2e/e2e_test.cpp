// Starts the real Kestrum.exe and works it as a user would: real mouse
// clicks and key presses through SendInput, answers read off the screen.
#include "e2e_driver.h"
#include "../win/temp_dir.h"
#include "app/frmdll.h"
#include "platform/win32_services.h"
#include "resources/resource.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace {

using namespace e2e;
using testing_win::TempDir;

class EndToEnd : public ::testing::Test {
  protected:
    TempDir programDir;
    std::wstring systemDir;
    std::wstring cacheDir;
    std::vector<std::wstring> seeded;
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;

    void SetUp() override {
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        systemDir = system;
        // On 64-bit Windows the program works on the real system folder,
        // which this 32-bit test reaches only through Sysnative.
        BOOL wow64 = FALSE;
        if (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) {
            ::GetWindowsDirectoryW(system, MAX_PATH);
            systemDir = std::wstring(system) + L"\\Sysnative";
        }
        cacheDir = systemDir + L"\\dllcache";
        ::CreateDirectoryW(cacheDir.c_str(), nullptr);
        // The pointer waits in a corner, off the window that is about to open.
        if (!moveMouse({2, 2})) {
            POINT now = {};
            ::GetCursorPos(&now);
            std::cerr << "pointer stays at " << now.x << "," << now.y << "\n";
        }

        const std::wstring exe = kestrumExe();
        ASSERT_FALSE(exe.empty()) << "KESTRUM_EXE is not set";
        ASSERT_TRUE(::CopyFileW(exe.c_str(), (programDir / L"Kestrum.exe").c_str(), FALSE));
    }

    void TearDown() override {
        if (process.hProcess != nullptr) {
            if (main != nullptr && ::IsWindow(main)) ::PostMessageW(main, WM_CLOSE, 0, 0);
            if (::WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
                ::TerminateProcess(process.hProcess, 1);
            ::CloseHandle(process.hProcess);
            ::CloseHandle(process.hThread);
        }
        for (const std::wstring& path : seeded) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(path.c_str());
        }
        ::RemoveDirectoryW(cacheDir.c_str());
    }

    void seed(const std::wstring& name, DWORD attributes = 0) {
        seedAt(cacheDir + L"\\" + name, "seed", attributes);
    }
    void seedAt(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
        testing_win::writeFile(path, bytes, attributes);
        seeded.push_back(path);
    }

    void start() {
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        std::wstring exe = programDir / L"Kestrum.exe";
        std::wstring commandLine = L"\"" + exe + L"\"";
        ASSERT_TRUE(::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                     nullptr, programDir.path().c_str(), &si, &process));
        main = waitFor([] { return ::FindWindowW(L"KestrumFrmdll", caption); });
        ASSERT_NE(main, nullptr) << "the window did not open";
        // The window is found as soon as it exists, before it is centred and
        // shown; it is ready once "还原" has the focus.
        ::WaitForInputIdle(process.hProcess, 10000);
        HWND restore = button(L"还原");
        const HWND focused = waitFor([&] {
            GUITHREADINFO gui = {};
            gui.cbSize = sizeof(gui);
            const DWORD thread = ::GetWindowThreadProcessId(main, nullptr);
            return ::IsWindowVisible(main) && ::GetGUIThreadInfo(thread, &gui) &&
                           gui.hwndFocus == restore
                       ? restore
                       : nullptr;
        });
        ASSERT_NE(focused, nullptr) << "the window did not come up with the focus on 还原";
    }

    HWND button(const wchar_t* text) { return ::FindWindowExW(main, nullptr, L"Button", text); }
};

TEST_F(EndToEnd, BackupWritesTheListAndSaysFinished) {
    seed(L"e2e-a.dll");
    seed(L"e2e-\u4E2D\u6587.dll");
    seed(L"e2e-hidden.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    seed(L"E2E-NOEXT");
    start();

    const Box confirm = clickForBox(button(L"备份"), L"选择");
    ASSERT_NE(confirm.hwnd, nullptr) << "no confirmation box";
    EXPECT_EQ(confirm.text, L"您确定要重新备份一次吗?");
    answerWithEnter(confirm.hwnd);

    const Box done = waitForBox(L"backup");
    ASSERT_NE(done.hwnd, nullptr) << "no result box";
    EXPECT_EQ(done.text, L"finished!");
    answerWithEnter(done.hwnd);
    EXPECT_TRUE(::IsWindowEnabled(button(L"备份")));

    const std::string list = testing_win::readFile(programDir / L"filelist.kdl");
    std::vector<std::string> lines = linesOf(list);
    // Only our seeds are in this throwaway prefix's cache folder.
    EXPECT_EQ(lines, (std::vector<std::string>{"E2E-NOEXT", "e2e-a.dll", "e2e-hidden.sys",
                                               "e2e-\xD6\xD0\xCE\xC4.dll"}));
    EXPECT_EQ(list.size() >= 2 ? list.substr(list.size() - 2) : list, "\r\n");
}

TEST_F(EndToEnd, CancelledBackupLeavesTheOldList) {
    seed(L"e2e-a.dll");
    testing_win::writeFile(programDir / L"filelist.kdl", "old.dll\r\n");
    start();

    const Box confirm = clickForBox(button(L"备份"), L"选择");
    ASSERT_NE(confirm.hwnd, nullptr);
    ::SetForegroundWindow(confirm.hwnd);
    ::Sleep(100);
    pressKey(VK_ESCAPE);
    waitFor([&] { return ::IsWindow(confirm.hwnd) ? nullptr : confirm.hwnd; });
    EXPECT_FALSE(::IsWindow(confirm.hwnd));
    EXPECT_EQ(testing_win::readFile(programDir / L"filelist.kdl"), "old.dll\r\n");
    EXPECT_TRUE(::IsWindowEnabled(button(L"备份")));
}

TEST_F(EndToEnd, BackupThenRestoreRefillsADeletedCacheFolder) {
    // Sources in the system folder; older copies in the cache folder.
    for (const wchar_t* name : {L"e2e-r1.dll", L"e2e-r2.sys"}) {
        seedAt(systemDir + L"\\" + name, "from the system folder");
        seed(name);
    }
    start();

    Box box = clickForBox(button(L"备份"), L"选择");
    ASSERT_NE(box.hwnd, nullptr);
    answerWithEnter(box.hwnd);
    box = waitForBox(L"backup");
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, L"finished!");
    answerWithEnter(box.hwnd);

    // The cache folder is lost.
    for (const wchar_t* name : {L"e2e-r1.dll", L"e2e-r2.sys"})
        ::DeleteFileW((cacheDir + L"\\" + name).c_str());
    ASSERT_TRUE(::RemoveDirectoryW(cacheDir.c_str()));

    box = clickForBox(button(L"还原"), L"Kestrum");
    ASSERT_NE(box.hwnd, nullptr) << "no confirmation box";
    EXPECT_EQ(box.text, L"Are you sure?");
    answerWithEnter(box.hwnd);
    box = waitForBox(L"Kestrum");
    ASSERT_NE(box.hwnd, nullptr) << "no result box";
    EXPECT_EQ(box.text, L"DllCache(2) Restored Successfully");
    EXPECT_EQ(textOf(::GetDlgItem(main, IDC_LBLCOUNT)), L"已还原2个文件.文件还原成功.");
    answerWithEnter(box.hwnd);

    for (const wchar_t* name : {L"e2e-r1.dll", L"e2e-r2.sys"})
        EXPECT_EQ(testing_win::readFile(cacheDir + L"\\" + name), "from the system folder") << name;
    EXPECT_TRUE(::IsWindowEnabled(button(L"还原")));

    // Again, with both sources held open by another program: the box names
    // them under the system's reason, Ctrl+C copies its text, and the
    // cache keeps its copies whole with no temporary file beside them.
    std::vector<HANDLE> locks;
    for (const wchar_t* name : {L"e2e-r1.dll", L"e2e-r2.sys"})
        locks.push_back(::CreateFileW((systemDir + L"\\" + name).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    box = clickForBox(button(L"还原"), L"Kestrum");
    ASSERT_NE(box.hwnd, nullptr);
    answerWithEnter(box.hwnd);
    box = waitForBox(L"Kestrum");
    ASSERT_NE(box.hwnd, nullptr);
    const std::wstring reason = platform::errorMessage(ERROR_SHARING_VIOLATION);
    EXPECT_EQ(box.text,
              L"DllCache(0) Restored, 2 Failed\r\n\r\n" + reason + L" (2): e2e-r1.dll, e2e-r2.sys");
    ::SetForegroundWindow(box.hwnd);
    ::Sleep(100);
    pressCombo({VK_CONTROL}, 'C');
    ::Sleep(300);
    std::wstring copied;
    if (::OpenClipboard(nullptr)) {
        if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
            copied = static_cast<const wchar_t*>(::GlobalLock(data));
            ::GlobalUnlock(data);
        }
        ::CloseClipboard();
    }
    EXPECT_NE(copied.find(L"Kestrum\r\n"), std::wstring::npos);
    EXPECT_NE(copied.find(box.text), std::wstring::npos) << "copied: " << copied.size();
    answerWithEnter(box.hwnd);
    for (HANDLE lock : locks)
        ::CloseHandle(lock);
    for (const wchar_t* name : {L"e2e-r1.dll", L"e2e-r2.sys"})
        EXPECT_EQ(testing_win::readFile(cacheDir + L"\\" + name), "from the system folder") << name;
    EXPECT_EQ(::GetFileAttributesW((cacheDir + L"\\kestrum-restore.tmp").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

// A long restore keeps painting its progress and answering the system, and
// a click given meanwhile is not acted on, neither during nor after it. Its
// first name is found nowhere, so it first walks the large program-files
// tree seeded for this test.
TEST_F(EndToEnd, LongRestoreStaysResponsiveAndIgnoresInput) {
    constexpr int lines = 8000;
    seedAt(systemDir + L"\\e2e-many.dll", "many");
    std::string list = "e2e-nowhere.dll\r\n";
    for (int i = 0; i < lines; ++i)
        list += "e2e-many.dll\r\n";
    testing_win::writeFile(programDir / L"filelist.kdl", list);
    seeded.push_back(cacheDir + L"\\e2e-many.dll");
    start();

    Box box = clickForBox(button(L"还原"), L"Kestrum");
    ASSERT_NE(box.hwnd, nullptr);
    answerWithEnter(box.hwnd);

    HWND count = ::GetDlgItem(main, IDC_LBLCOUNT);
    std::vector<std::wstring> seen;
    bool clicked = false;
    int unanswered = 0;
    HWND result = nullptr;
    for (int i = 0; i < 6000 && result == nullptr; ++i) {
        const std::wstring text = textOf(count);
        if (!text.empty() && (seen.empty() || seen.back() != text)) seen.push_back(text);
        DWORD_PTR ignored = 0;
        if (!::SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored))
            ++unanswered;
        if (!clicked && seen.size() >= 2) {
            clickButton(button(L"备份")); // ignored: the restore is running
            pressKey(VK_ESCAPE);          // would end the program
            clicked = true;
        }
        result = ::FindWindowW(L"#32770", L"Kestrum");
        ::Sleep(10);
    }
    ASSERT_NE(result, nullptr) << "the restore did not finish";
    EXPECT_TRUE(clicked) << "no progress was seen while the restore ran";
    EXPECT_GE(seen.size(), 3u) << "progress texts seen: " << seen.size();
    EXPECT_EQ(unanswered, 0);
    box = waitForBox(L"Kestrum");
    EXPECT_EQ(box.text, L"DllCache(" + std::to_wstring(lines) + L") Restored Successfully");
    answerWithEnter(box.hwnd);
    ::Sleep(500);
    EXPECT_EQ(::FindWindowW(L"#32770", L"选择"), nullptr) << "a click from the run was acted on";
    EXPECT_TRUE(::IsWindow(main)) << "a key from the run was acted on";
    EXPECT_EQ(textOf(count), L"已还原" + std::to_wstring(lines) + L"个文件.文件还原成功.");
}

TEST_F(EndToEnd, CaptionKeyAndLabelColourFromRealInput) {
    start();
    ::SetForegroundWindow(main);
    ::Sleep(200);
    const std::wstring caption = L"Kestrum管理软件 V1.0";
    pressCombo({VK_CONTROL}, VK_F12);
    pressCombo({VK_SHIFT}, VK_F12);
    pressCombo({VK_CONTROL, VK_SHIFT, VK_MENU}, VK_F12);
    ::Sleep(300);
    EXPECT_EQ(textOf(main), caption);
    pressCombo({VK_CONTROL, VK_SHIFT}, VK_F12);
    waitFor([&] { return textOf(main) != caption ? main : nullptr; }, 3000);
    EXPECT_EQ(textOf(main), caption + app::captionSuffix);

    HWND adv = ::GetDlgItem(main, IDC_LBLADV);
    RECT r = {};
    ::GetWindowRect(adv, &r);
    moveMouse({r.left + 20, r.top + 8});
    waitFor([&] { return pixelsNear(adv, RGB(255, 0, 0)) > 20 ? adv : nullptr; }, 3000);
    EXPECT_GT(pixelsNear(adv, RGB(255, 0, 0)), 20) << "the label's text did not turn red";

    POINT surface = {300, 175};
    ::ClientToScreen(main, &surface);
    moveMouse(surface);
    waitFor([&] { return pixelsNear(adv, RGB(0, 0, 255)) > 20 ? adv : nullptr; }, 3000);
    EXPECT_GT(pixelsNear(adv, RGB(0, 0, 255)), 20) << "the label's text did not turn blue";
    EXPECT_EQ(pixelsNear(adv, RGB(255, 0, 0)), 0);
}

// The session ends (or the Restart Manager closes the program) while the
// question is open: the box goes, nothing is restored, the program ends.
TEST_F(EndToEnd, AnEndingSessionClosesTheQuestionAndEndsTheProgram) {
    seedAt(systemDir + L"\\e2e-q.dll", "new");
    seed(L"e2e-q.dll");
    testing_win::writeFile(programDir / L"filelist.kdl", "e2e-q.dll\r\n");
    start();
    const Box question = clickForBox(button(L"还原"), L"Kestrum");
    ASSERT_NE(question.hwnd, nullptr);
    EXPECT_EQ(question.text, L"Are you sure?");
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000,
                          &ignored);
    const DWORD ended = ::WaitForSingleObject(process.hProcess, 20000);
    const bool boxOpen = ::IsWindow(question.hwnd) != FALSE;
    // Ended here, should it still run: nothing else may hold it open.
    if (ended != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 1);
    EXPECT_EQ(ended, WAIT_OBJECT_0) << "the program did not end";
    EXPECT_FALSE(boxOpen);
    EXPECT_EQ(testing_win::readFile(cacheDir + L"\\e2e-q.dll"), "seed");
}

TEST_F(EndToEnd, RestoreWithoutABackupSaysSo) {
    start();
    const Box box = clickForBox(button(L"还原"), L"注意");
    ASSERT_NE(box.hwnd, nullptr);
    EXPECT_EQ(box.text, L"对不起,您还没有做过备份!");
    answerWithEnter(box.hwnd);
}

} // namespace
