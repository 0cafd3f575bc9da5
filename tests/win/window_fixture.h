// The real window under test: its services and boxes recorded, and the
// fixture that creates it.
#pragma once

#include "app/frmdll.h"
#include "platform/win32_services.h"
#include "resources/resource.h"
#include "moved_system.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace testing_win {

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
    RecordingServices() {
        beforeCopy = [this] { once(duringCopy); };
    }
    platform::ErrorCode listFolder(const std::wstring& folder, bool directories,
                                   std::vector<platform::FolderEntry>& entries) override {
        once(duringListing);
        return BatchPathSystem::listFolder(folder, directories, entries);
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

// The system folders moved into `root`, for a command to run on.
inline void movedSystemIn(const testing_win::TempDir& root, RecordingServices& services) {
    services.root = root.path();
    for (const wchar_t* d :
         {L"WINDOWS", L"WINDOWS\\system32", L"WINDOWS\\system32\\dllcache", L"tools"})
        ::CreateDirectoryW((root / d).c_str(), nullptr);
}

inline std::wstring textOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(hwnd, buffer, 512);
    return buffer;
}

inline std::wstring classOf(HWND hwnd) {
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

} // namespace testing_win
