#include "app/command_run.h"

#include "platform/win32_services.h"

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
    {0x0200, 0x020E}, // WM_MOUSEMOVE .. WM_MOUSEHWHEEL
    {0x0286, 0x0286}, // WM_IME_CHAR
    {0x0290, 0x0291}, // WM_IME_KEYDOWN, WM_IME_KEYUP
};
// What asks the window to close or to act, posted by another program.
constexpr Range requestRanges[] = {
    {WM_CLOSE, WM_CLOSE},
    {BM_CLICK, BM_CLICK},
    {WM_COMMAND, WM_SYSCOMMAND},
};

using ReasonCreateFn = BOOL(WINAPI*)(HWND, LPCWSTR);
using ReasonDestroyFn = BOOL(WINAPI*)(HWND);

} // namespace

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
    run_.running_ = false;
    if (run_.quit_) {
        run_.quit_ = false;
        ::PostQuitMessage(run_.quitCode_);
    }
}

void CommandRun::beginWork(const wchar_t* reason) {
    if (!running_ || working_) return;
    working_ = true;
    // Vista and later ask the user about a program that refuses logoff and
    // show its reason; earlier systems have no such call.
    static const auto create =
        platform::systemFunction<ReasonCreateFn>(L"user32.dll", "ShutdownBlockReasonCreate");
    blockReason_ = create != nullptr && window_ != nullptr && create(window_, reason) != FALSE;
}

void CommandRun::endWork() {
    if (!working_) return;
    working_ = false;
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
        // Ending anyway: the command stops at its next heartbeat.
        if (wParam != FALSE) sessionEnding_ = true;
        result = 0;
        return true;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != SC_CLOSE) return false;
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
