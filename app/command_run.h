// The machinery of a running command on the window's one thread: one
// command at a time (in the window, and on the whole machine while files
// may change), the window kept answering the system while input is
// dropped, logoff refused while files change, the program ended after a
// command the end of the session stopped, and a WM_QUIT met on the way
// kept for the main loop.
#pragma once

#include <windows.h>

namespace app {

// One command that may change files at a time on the whole machine,
// whichever user or session runs it: a named mutex in the global
// namespace (Windows 2000 without terminal services ignores the prefix).
// A holder that is killed leaves it abandoned, which counts as free.
class MachineGuard {
  public:
    MachineGuard() = default;
    ~MachineGuard() { release(); }
    MachineGuard(const MachineGuard&) = delete;
    MachineGuard& operator=(const MachineGuard&) = delete;

    // False when another program holds it. Never waits.
    bool take();
    void release();

    static constexpr const wchar_t* name = L"Global\\Kestrum.DllCacheCommand";

  private:
    HANDLE mutex_ = nullptr;
};

class CommandRun {
  public:
    CommandRun() = default;
    CommandRun(const CommandRun&) = delete;
    CommandRun& operator=(const CommandRun&) = delete;

    void attach(HWND window) { window_ = window; }

    // The span of one click handler, from its question to its last box.
    // Entered only when no other command runs.
    class Scope {
      public:
        explicit Scope(CommandRun& run);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        bool entered() const { return entered_; }

      private:
        CommandRun& run_;
        bool entered_;
    };
    bool running() const { return running_; }
    bool working() const { return working_; }

    // The part of the command that may change files: the machine-wide
    // guard is held and logoff refused, with `reason` on Vista and later.
    // False, and nothing begun, when another program holds the guard. Ends
    // at its result box or at the end of the command.
    bool beginWork(const wchar_t* reason);
    void endWork();

    // Called by the window procedure before its own handling. True when
    // the message was answered here (`result`) because a command runs:
    // close requests and commands are refused, and an end-session request
    // is refused while files change.
    bool filter(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Lets the system's sent messages through and repaints, acting on no
    // input.
    void pump();
    // True every few tens of milliseconds: painting every line would cost
    // more than the copies, and that pace still reads as continuous
    // progress and as a window that answers.
    bool dueForPump();
    void restartPace() { lastPump_ = ::GetTickCount(); }
    // Drops the input queued for the window: keys, mouse, IME.
    void dropInput();

    // The user's session ends (WM_ENDSESSION came during a command).
    bool sessionEnding() const { return sessionEnding_; }

  private:
    // Removes the posted messages in [first, last]; a WM_QUIT is kept.
    void drop(UINT first, UINT last);
    // Closes the message box the command waits on, if any.
    void closeOpenBox();

    HWND window_ = nullptr;
    MachineGuard guard_;
    bool running_ = false;
    bool working_ = false;
    bool blockReason_ = false;
    bool sessionEnding_ = false;
    bool quit_ = false;
    int quitCode_ = 0;
    DWORD lastPump_ = 0;
};

} // namespace app
