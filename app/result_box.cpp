#include "app/result_box.h"

#include <algorithm>

namespace app {

namespace {

UINT iconFlag(cache::Icon icon) {
    switch (icon) {
    case cache::Icon::Information:
        return MB_ICONINFORMATION;
    case cache::Icon::Question:
        return MB_ICONQUESTION;
    case cache::Icon::Exclamation:
        return MB_ICONEXCLAMATION;
    }
    return 0;
}

std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(::GetWindowTextW(hwnd, &text[0], static_cast<int>(text.size()))));
    return text;
}

// Ctrl+C (or Ctrl+Insert) copies a message box's title, text and buttons,
// in the form Windows itself uses, so the names of failed files can be
// pasted elsewhere. Done here as well because not every system's message
// box does it (Wine's does not).
LRESULT CALLBACK copyBoxText(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (code != MSGF_DIALOGBOX || msg->message != WM_KEYDOWN ||
        (msg->wParam != 'C' && msg->wParam != VK_INSERT) || ::GetKeyState(VK_CONTROL) >= 0)
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    const HWND box = ::GetAncestor(msg->hwnd, GA_ROOT);
    const std::wstring line = L"---------------------------\r\n";
    std::wstring copy = line + windowText(box) + L"\r\n" + line +
                        windowText(::GetDlgItem(box, 0xFFFF)) + L"\r\n" + line;
    for (HWND b = ::FindWindowExW(box, nullptr, L"Button", nullptr); b != nullptr;
         b = ::FindWindowExW(box, b, L"Button", nullptr))
        copy += windowText(b) + L"   ";
    copy += L"\r\n" + line;
    const std::size_t bytes = (copy.size() + 1) * sizeof(wchar_t);
    if (::OpenClipboard(box)) {
        ::EmptyClipboard();
        if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
            std::copy(copy.c_str(), copy.c_str() + copy.size() + 1,
                      static_cast<wchar_t*>(::GlobalLock(memory)));
            ::GlobalUnlock(memory);
            if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) ::GlobalFree(memory);
        }
        ::CloseClipboard();
    }
    return TRUE;
}

} // namespace

cache::Answer showMessageBox(HWND owner, const std::wstring& text, const std::wstring& title,
                             cache::Buttons buttons, cache::Icon icon) {
    const UINT type = (buttons == cache::Buttons::OkCancel ? MB_OKCANCEL : MB_OK) | iconFlag(icon);
    const HHOOK copier =
        ::SetWindowsHookExW(WH_MSGFILTER, &copyBoxText, nullptr, ::GetCurrentThreadId());
    const int chosen =
        ::MessageBoxW(owner, text.c_str(), title.empty() ? programName : title.c_str(), type);
    if (copier != nullptr) ::UnhookWindowsHookEx(copier);
    return chosen == IDOK ? cache::Answer::Ok : cache::Answer::Cancel;
}

} // namespace app
