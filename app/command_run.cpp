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
    {0x0240, 0x0243}, // WM_TOUCH, WM_NCPOINTERUPDATE .. WM_NCPOINTERUP
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

// What the window menu and the taskbar ask for, acted on during a command as
// when it is idle. A move by dragging the caption (SC_MOVE plus the hit
// test) comes from input the command drops.
bool actsDuringCommand(WPARAM sysCommand) {
    return sysCommand == SC_MINIMIZE || sysCommand == SC_RESTORE || sysCommand == SC_MOVE;
}

constexpr UINT popupSystemMenu = 0x0313; // the taskbar's request for the window menu
constexpr UINT gestureMessage = 0x0119; // WM_GESTURE
constexpr UINT touchMessage = 0x0240;   // WM_TOUCH
using CloseInfoFn = BOOL(WINAPI*)(HANDLE);

// A dropped gesture or touch message still owns the information handle in
// its lParam, which only these calls (or DefWindowProc) free.
void closeInputHandle(const MSG& msg) {
    static const auto closeGesture =
        platform::systemFunction<CloseInfoFn>(L"user32.dll", "CloseGestureInfoHandle");
    static const auto closeTouch =
        platform::systemFunction<CloseInfoFn>(L"user32.dll", "CloseTouchInputHandle");
    const auto close = msg.message == gestureMessage ? closeGesture
                       : msg.message == touchMessage ? closeTouch
                                                     : nullptr;
    if (close != nullptr && msg.lParam != 0) close(reinterpret_cast<HANDLE>(msg.lParam));
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
    run_.systemCommands();
    run_.running_ = false;
    if (run_.quit_) {
        run_.quit_ = false;
        ::PostQuitMessage(run_.quitCode_);
    }
    // The session ends (or the Restart Manager closes the program): the
    // command stopped, and the program ends too.
    if (run_.sessionEnding_ && run_.window_ != nullptr) ::DestroyWindow(run_.window_);
}

void CommandRun::beginWork(const wchar_t* reason, std::unique_ptr<platform::Held> guard) {
    if (!running_ || working_) return;
    guard_ = std::move(guard);
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
    guard_.reset();
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
        } else {
            closeInputHandle(msg);
        }
    }
}

void CommandRun::systemCommands() {
    std::vector<MSG> now;
    MSG msg;
    for (const UINT kind : {UINT{WM_SYSCOMMAND}, popupSystemMenu}) {
        while (::PeekMessageW(&msg, nullptr, kind, kind, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_ = true;
                quitCode_ = static_cast<int>(msg.wParam);
            } else if (msg.message == popupSystemMenu || actsDuringCommand(msg.wParam)) {
                now.push_back(msg);
            }
        }
    }
    // After the peeking: a move's own loop dispatches what is still queued.
    for (const MSG& m : now)
        ::DispatchMessageW(&m);
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
    systemCommands();
    if (window_ != nullptr)
        ::RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

} // namespace app
