// How the end-to-end test works the real program as a user would: real
// mouse clicks and key presses through SendInput, answers read off the
// screen.
#pragma once

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

namespace e2e {

inline const wchar_t caption[] = L"Kestrum管理软件 V1.0";

// The build hands over a Linux path; Wine shows the Linux root as Z:.
inline std::wstring kestrumExe() {
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

inline std::wstring textOf(HWND hwnd) {
    wchar_t buffer[1024] = {};
    ::GetWindowTextW(hwnd, buffer, 1024);
    return buffer;
}

inline INPUT mouseInput(POINT p, DWORD flags) {
    const int w = ::GetSystemMetrics(SM_CXSCREEN);
    const int h = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT i = {};
    i.type = INPUT_MOUSE;
    i.mi.dx = (p.x * 65535 + w / 2) / (w - 1);
    i.mi.dy = (p.y * 65535 + h / 2) / (h - 1);
    i.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return i;
}

// Moves the pointer and waits until it has stayed there a moment. Wine
// warps the X pointer for injected moves, and motion still queued from the
// old place can pull it back; a press sent then lands somewhere else.
inline bool moveMouse(POINT p) {
    int settled = 0;
    for (int poll = 0; poll < 80; ++poll) {
        if (poll % 10 == 0 && settled == 0) {
            INPUT move = mouseInput(p, MOUSEEVENTF_MOVE);
            ::SendInput(1, &move, sizeof(INPUT));
        }
        ::Sleep(50);
        POINT now = {};
        const bool there = ::GetCursorPos(&now) && std::abs(now.x - p.x) <= 1 &&
                           std::abs(now.y - p.y) <= 1; // absolute units round
        settled = there ? settled + 1 : 0;
        if (settled == 3) return true;
    }
    return false;
}

inline void clickAt(POINT p) {
    EXPECT_TRUE(moveMouse(p)) << "the pointer did not reach " << p.x << "," << p.y;
    INPUT press[2] = {mouseInput(p, MOUSEEVENTF_LEFTDOWN), mouseInput(p, MOUSEEVENTF_LEFTUP)};
    ::SendInput(2, press, sizeof(INPUT));
}

inline void clickButton(HWND button) {
    RECT r = {};
    ::GetWindowRect(button, &r);
    ::SetForegroundWindow(::GetAncestor(button, GA_ROOT));
    ::Sleep(100);
    clickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

inline void pressKey(WORD vk) {
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = vk;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

// Modifiers held down around one key, released in reverse order.
inline void pressCombo(std::initializer_list<WORD> modifiers, WORD vk) {
    std::vector<INPUT> in;
    auto add = [&](WORD k, DWORD flags) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = flags;
        in.push_back(i);
    };
    for (WORD m : modifiers)
        add(m, 0);
    add(vk, 0);
    add(vk, KEYEVENTF_KEYUP);
    for (auto m = std::rbegin(modifiers); m != std::rend(modifiers); ++m)
        add(*m, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// How many pixels on screen inside `control` are tinted like `rgb` (pure
// red or pure blue): that channel clearly above the other two, so the
// anti-aliased edges of thin strokes count too.
inline int pixelsNear(HWND control, COLORREF rgb) {
    RECT r = {};
    ::GetWindowRect(control, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP dib = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, dib);
    ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    int n = 0;
    const auto* px = static_cast<const unsigned char*>(bits); // B, G, R, x
    const bool red = GetRValue(rgb) > GetBValue(rgb);
    for (int i = 0; i < w * h; ++i, px += 4) {
        const int tint = red ? px[2] - std::max(px[1], px[0]) : px[0] - std::max(px[1], px[2]);
        if (tint > 80) ++n;
    }
    ::SelectObject(memory, old);
    ::DeleteObject(dib);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return n;
}

struct Box {
    HWND hwnd = nullptr;
    std::wstring text;
};

// A message box of the program's with this title.
inline Box waitForBox(const wchar_t* title, int milliseconds = 20000) {
    Box box;
    box.hwnd = waitFor([&] { return ::FindWindowW(L"#32770", title); }, milliseconds);
    if (box.hwnd != nullptr) box.text = textOf(::GetDlgItem(box.hwnd, 0xFFFF));
    return box;
}

// Clicks a button of the main window as a user would, and again if nothing
// answers: on a loaded machine an injected click can still go astray. A
// click on a window whose modal box is already up is ignored, so a retry
// cannot act twice.
inline Box clickForBox(HWND button, const wchar_t* title) {
    Box box;
    for (int attempt = 0; attempt < 3 && box.hwnd == nullptr; ++attempt) {
        if (attempt > 0) std::cerr << "click " << attempt << " was not answered; clicking again\n";
        clickButton(button);
        box = waitForBox(title, 8000);
    }
    return box;
}

// Answers a box with the keyboard, as a user pressing Enter on its default button.
inline void answerWithEnter(HWND box) {
    ::SetForegroundWindow(box);
    ::Sleep(100);
    pressKey(VK_RETURN);
    waitFor([&] { return ::IsWindow(box) ? nullptr : box; });
}

inline std::vector<std::string> linesOf(const std::string& bytes) {
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

} // namespace e2e
