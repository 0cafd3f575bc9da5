// Starts the real Kestrum.exe and works it as a user would: real mouse
// clicks and key presses through SendInput, answers read off the screen.
#include "../win/temp_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

using testing_win::TempDir;

const wchar_t caption[] = L"Kestrum管理软件 V1.0";

// The build hands over a Linux path; Wine shows the Linux root as Z:.
std::wstring kestrumExe() {
    const char* raw = std::getenv("KESTRUM_EXE");
    if (raw == nullptr) return std::wstring();
    std::wstring path(raw, raw + std::strlen(raw));
    if (!path.empty() && path[0] == L'/') {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    return path;
}

template <typename Find> HWND waitFor(Find find, int milliseconds = 20000) {
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (HWND hwnd = find()) return hwnd;
        ::Sleep(50);
    }
    return nullptr;
}

std::wstring textOf(HWND hwnd) {
    wchar_t buffer[1024] = {};
    ::GetWindowTextW(hwnd, buffer, 1024);
    return buffer;
}

void clickAt(POINT p) {
    const int w = ::GetSystemMetrics(SM_CXSCREEN);
    const int h = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT in[3] = {};
    for (INPUT& i : in) {
        i.type = INPUT_MOUSE;
        i.mi.dx = (p.x * 65535 + w / 2) / (w - 1);
        i.mi.dy = (p.y * 65535 + h / 2) / (h - 1);
    }
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &in[0], sizeof(INPUT));
    ::Sleep(100);
    ::SendInput(2, &in[1], sizeof(INPUT));
}

void clickButton(HWND button) {
    RECT r = {};
    ::GetWindowRect(button, &r);
    ::SetForegroundWindow(::GetAncestor(button, GA_ROOT));
    ::Sleep(100);
    clickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void pressKey(WORD vk) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

struct Box {
    HWND hwnd = nullptr;
    std::wstring text;
};

// A message box of the program's with this title.
Box waitForBox(const wchar_t* title) {
    Box box;
    box.hwnd = waitFor([&] { return ::FindWindowW(L"#32770", title); });
    if (box.hwnd != nullptr) box.text = textOf(::GetDlgItem(box.hwnd, 0xFFFF));
    return box;
}

// Answers a box with the keyboard, as a user pressing Enter on its default button.
void answerWithEnter(HWND box) {
    ::SetForegroundWindow(box);
    ::Sleep(100);
    pressKey(VK_RETURN);
    waitFor([&] { return ::IsWindow(box) ? nullptr : box; });
}

std::vector<std::string> linesOf(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back("<unterminated>" + bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

class EndToEnd : public ::testing::Test {
protected:
    TempDir programDir;
    std::wstring cacheDir;
    std::vector<std::wstring> seeded;
    bool createdCache = false;
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;

    void SetUp() override {
        wchar_t system[MAX_PATH] = {};
        ::GetSystemDirectoryW(system, MAX_PATH);
        cacheDir = std::wstring(system) + L"\\dllcache";
        createdCache = ::CreateDirectoryW(cacheDir.c_str(), nullptr) != FALSE;

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
        if (createdCache) ::RemoveDirectoryW(cacheDir.c_str());
    }

    void seed(const std::wstring& name, DWORD attributes = 0) {
        const std::wstring path = cacheDir + L"\\" + name;
        testing_win::writeFile(path, "seed", attributes);
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
        ::WaitForInputIdle(process.hProcess, 10000);
    }

    HWND button(const wchar_t* text) { return ::FindWindowExW(main, nullptr, L"Button", text); }
};

TEST_F(EndToEnd, BackupWritesTheListAndSaysFinished) {
    seed(L"e2e-a.dll");
    seed(L"e2e-\u4E2D\u6587.dll");
    seed(L"e2e-hidden.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    seed(L"E2E-NOEXT");
    start();

    clickButton(button(L"备份"));
    const Box confirm = waitForBox(L"选择");
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

    clickButton(button(L"备份"));
    const Box confirm = waitForBox(L"选择");
    ASSERT_NE(confirm.hwnd, nullptr);
    ::SetForegroundWindow(confirm.hwnd);
    ::Sleep(100);
    pressKey(VK_ESCAPE);
    waitFor([&] { return ::IsWindow(confirm.hwnd) ? nullptr : confirm.hwnd; });
    EXPECT_FALSE(::IsWindow(confirm.hwnd));
    EXPECT_EQ(testing_win::readFile(programDir / L"filelist.kdl"), "old.dll\r\n");
    EXPECT_TRUE(::IsWindowEnabled(button(L"备份")));
}

} // namespace
