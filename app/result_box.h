// The commands' message boxes: modal on the window, with the program's
// name as the title when they have none, and Ctrl+C copying their text
// where the system's own box does not.
#pragma once

#include "cache/window_port.h"

#include <windows.h>

#include <string>

namespace app {

inline constexpr const wchar_t* programName = L"Kestrum";

cache::Answer showMessageBox(HWND owner, const std::wstring& text, const std::wstring& title,
                             cache::Buttons buttons, cache::Icon icon);

} // namespace app
