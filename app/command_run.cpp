#include "app/command_run.h"

#include "platform/win32_services.h"

#include <vector>

namespace app {

namespace {

// Input messages by number: the Windows 2000 headers' WM_KEYLAST and
// WM_MOUSELAST stop short of WM_UNICHAR, WM_MOUSEHWHEEL and the X buttons.
struct Range {
    UINT first, last;
};
constexpr Range inputRanges[] = {
    {0x00A0, 0x00AD}, // WM_NCMOUSEMOVE .. WM_NCXBUTTONDBLCLK
    {0x0100, 0x0109}, // WM_KEYDOWN .. WM_UNICHAR
    {0x010D, 0x010F}, // WM_IME_STARTCOMPOSITION .. WM_IME_COMPOSITION
    // Touch and pen, which the system would turn into a click afterwards.
    {0x0119, 0x0119}, // WM_GESTURE
    {0x0200, 0x020E}, // WM_MOUSEMOVE .. WM_MOUSEHWHEEL
    {0x0240, 0x0240}, // WM_TOUCH
    {0x0245, 0x0257}, // WM_POINTERUPDATE .. WM_POINTERHWHEEL
    {0x0286, 0x0286}, // WM_IME_CHAR
    {0x0290, 0x0291}, // WM_IME_KEYDOWN, WM_IME_KEYUP
};
// What asks the window to close or to act, posted by another program
// (WM_SYSCOMMAND's close apart: minimise, move and the like still count).
constexpr Range requestRanges[] = {
    {WM_CLOSE, WM_CLOSE},
    {BM_CLICK, BM_CLICK},
    {WM_COMMAND, WM_COMMAND},
};

bool isClose(WPARAM sysCommand) {
    return (sysCommand & 0xFFF0) == SC_CLOSE;
}

// A message box of this thread owned by the window in `*found`, put there
// in its place.
BOOL CALLBACK findBox(HWND hwnd, LPARAM found) {
    auto* box = reinterpret_cast<HWND*>(found);
    wchar_t name[16] = {};
    ::GetClassNameW(hwnd, name, 16);
    if (::GetWindow(hwnd, GW_OWNER) != *box || ::lstrcmpW(name, L"#32770") != 0) return TRUE;
    *box = hwnd;
    return FALSE;
}

using ReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ReasonDestroyFn = BOOL(WINAPI*)(HWND);

} // namespace

bool MachineGuard::take() {
    if (mutex_ != nullptr) return true;
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) {
        // Another user's program made it and we may not open it: it is in
        // use. Any other failure leaves nothing to guard with, and must not
        // stop the program's only purpose.
        return ::GetLastError() != ERROR_ACCESS_DENIED;
    }
    const DWORD got = ::WaitForSingleObject(mutex, 0);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
        ::CloseHandle(mutex);
        return false;
    }
    mutex_ = mutex;
    return true;
}

void MachineGuard::release() {
    if (mutex_ == nullptr) return;
    ::ReleaseMutex(mutex_);
    ::CloseHandle(mutex_);
    mutex_ = nullptr;
}

CommandRun::Scope::Scope(CommandRun& run) : run_(run), entered_(!run.running_) {
    if (!entered_) return;
    run_.running_ = true;
    run_.sessionEnding_ = false;
}

CommandRun::Scope::~Scope() {
    if (!entered_) return;
    run_.endWork();
    // What reached the window while the command ran is not acted on after it.
    run_.dropInput();
    for (const Range& r : requestRanges)
        run_.drop(r.first, r.last);
    // Minimise, move and the like, posted meanwhile, are acted on now.
    std::vector<MSG> later;
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            run_.quit_ = true;
            run_.quitCode_ = static_cast<int>(msg.wParam);
        } else if (!isClose(msg.wParam)) {
            later.push_back(msg);
        }
    }
    for (const MSG& m : later)
        ::PostMessageW(m.hwnd, m.message, m.wParam, m.lParam);
    run_.running_ = false;
    if (run_.quit_) {
        run_.quit_ = false;
        ::PostQuitMessage(run_.quitCode_);
    }
    // The session ends (or the Restart Manager closes the program): the
    // command stopped, and the program ends too.
    if (run_.sessionEnding_ && run_.window_ != nullptr) ::DestroyWindow(run_.window_);
}

bool CommandRun::beginWork(const wchar_t* reason) {
    if (!running_ || working_) return working_;
    if (!guard_.take()) return false;
    working_ = true;
    // Vista and later ask the user about a program that refuses logoff and
    // show its reason; earlier systems have no such call.
    static const auto create =
        platform::systemFunction<ReasonCreateFn>(L"user32.dll", "ShutdownBlockReasonCreate");
    blockReason_ = create != nullptr && window_ != nullptr && create(window_, reason) != FALSE;
    return true;
}

void CommandRun::endWork() {
    if (!working_) return;
    working_ = false;
    guard_.release();
    if (blockReason_) {
        static const auto destroy =
            platform::systemFunction<ReasonDestroyFn>(L"user32.dll", "ShutdownBlockReasonDestroy");
        if (destroy != nullptr) destroy(window_);
        blockReason_ = false;
    }
}

bool CommandRun::filter(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    if (!running_) return false;
    switch (message) {
    case WM_QUERYENDSESSION:
        if (!working_) return false;
        result = FALSE; // a copy cut short would stay in the cache
        return true;
    case WM_ENDSESSION:
        // Ending anyway: the command stops at its next heartbeat, or at
        // once if it waits on a box; the program then ends. FALSE: the
        // session goes on after all, and so does the command.
        if (wParam != FALSE) {
            sessionEnding_ = true;
            closeOpenBox();
        }
        result = 0;
        return true;
    case WM_SYSCOMMAND:
        if (!isClose(wParam)) return false;
        result = 0;
        return true;
    case WM_CLOSE:
    case WM_COMMAND:
        result = 0;
        return true;
    default:
        return false;
    }
}

void CommandRun::drop(UINT first, UINT last) {
    MSG msg;
    // PeekMessage hands out WM_QUIT whatever the range asked for.
    while (::PeekMessageW(&msg, nullptr, first, last, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit_ = true;
            quitCode_ = static_cast<int>(msg.wParam);
        }
    }
}

void CommandRun::closeOpenBox() {
    HWND box = window_;
    if (box == nullptr) return;
    ::EnumThreadWindows(::GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
    if (box != window_) ::PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
}

void CommandRun::dropInput() {
    for (const Range& r : inputRanges)
        drop(r.first, r.last);
}

bool CommandRun::dueForPump() {
    constexpr DWORD interval = 40;
    const DWORD now = ::GetTickCount();
    if (now - lastPump_ < interval) return false;
    lastPump_ = now;
    return true;
}

void CommandRun::pump() {
    dropInput();
    if (window_ != nullptr)
        ::RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

} // namespace app
