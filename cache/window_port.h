// What the commands need from the main window, kept narrow so the commands
// can be driven by a fake window in tests.
#pragma once

#include "platform/services.h"

#include <memory>
#include <string>

namespace cache {

enum class Icon { Information, Question, Exclamation };
enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

class WindowPort {
  public:
    virtual ~WindowPort() = default;

    // A modal message box. An empty title shows the program's name. Closing
    // a box that offers Cancel answers Cancel.
    virtual Answer messageBox(const std::wstring& text, const std::wstring& title, Buttons buttons,
                              Icon icon) = 0;
    virtual void setBackupEnabled(bool enabled) = 0;
    // The span in which a command may change files, from its start to its
    // result: logoff waits for it (`reason` is what the system may show).
    // The window keeps `guard`, which keeps other programs' commands out,
    // until the span ends.
    virtual void beginChanges(const std::wstring& reason, std::unique_ptr<platform::Held> guard) = 0;
    virtual void endChanges() = 0;
    virtual void setRestoreEnabled(bool enabled) = 0;
    virtual void setCountEnabled(bool enabled) = 0;
    virtual void setCountText(const std::wstring& text) = 0;
    // Called often during a long command: at most every few tens of
    // milliseconds the window repaints and answers the system, acting on
    // no input.
    virtual void keepAlive() = 0;
    // Progress during a long command, shown at the same pace.
    virtual void showProgress(const std::wstring& text) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    // True once the user's session is ending: the command stops at once
    // and shows nothing more.
    virtual bool sessionEnding() const = 0;
};

} // namespace cache
