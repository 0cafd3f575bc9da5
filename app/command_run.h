// The machinery of a running command on the window's one thread: one
// command at a time in the window (the command's guard keeps other
// programs' out), the window kept answering the system while input is
// dropped, logoff refused while files change, the program ended after a
// command the end of the session stopped, and a WM_QUIT met on the way
// kept for the main loop.
#pragma once

#include "platform/services.h"

#include <memory>

#include <windows.h>

namespace app {

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

    // The part of the command that may change files: `guard` is kept and
    // logoff refused, with `reason` on Vista and later. Ends at its result
    // box or at the end of the command.
    void beginWork(const wchar_t* reason, std::unique_ptr<platform::Held> guard);
    void endWork();

    // Called by the window procedure before its own handling. True when
    // the message was answered here (`result`) because a command runs:
    // close requests and commands are refused, and an end-session request
    // is refused while files change.
    bool filter(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // Lets the system's sent messages through and repaints, acting on no
    // input; minimise, restore and move from the window menu or the taskbar
    // act at once, as when no command runs.
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
    // Acts on the posted system commands that act when idle too; drops the
    // others, which would be stale after the command.
    void systemCommands();
    // Closes the message box the command waits on, if any.
    void closeOpenBox();

    HWND window_ = nullptr;
    std::unique_ptr<platform::Held> guard_;
    bool running_ = false;
    bool working_ = false;
    bool blockReason_ = false;
    bool sessionEnding_ = false;
    bool quit_ = false;
    int quitCode_ = 0;
    DWORD lastPump_ = 0;
};

} // namespace app
