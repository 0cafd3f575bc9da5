// What the file calls of the Win32 services share: the real system folder
// for a 32-bit program on 64-bit Windows, and the removal of a file
// whatever its attributes.
#pragma once

#include "platform/win32_services.h"

#include <string>

#include <windows.h>

namespace platform {

// A 32-bit program on 64-bit Windows sees the 32-bit system folder in place
// of the real one. The commands work on the real system folder and its
// dllcache, so redirection is off for the span of each of their file calls
// and nowhere else: the heartbeat inside a long call (which lets the window
// answer the system, and with it hooks, IMEs and sent messages) runs with
// redirection back on. Elsewhere the calls fail and change nothing.
class RedirectionOff {
  public:
    RedirectionOff() : functions_(load()) { off(); }
    ~RedirectionOff() { on(); }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

    // Redirection as usual for the span of a call that is not a file call.
    class BackOn {
      public:
        explicit BackOn(RedirectionOff& r) : r_(r) { r_.on(); }
        ~BackOn() { r_.off(); }
        BackOn(const BackOn&) = delete;
        BackOn& operator=(const BackOn&) = delete;

      private:
        RedirectionOff& r_;
    };

  private:
    using Disable = BOOL(WINAPI*)(PVOID*);
    using Revert = BOOL(WINAPI*)(PVOID);
    struct Functions {
        Disable disable = nullptr;
        Revert revert = nullptr;
    };
    void off() { active_ = functions_.disable != nullptr && functions_.disable(&old_) != FALSE; }
    void on() {
        if (active_) functions_.revert(old_);
        active_ = false;
    }
    static const Functions& load() {
        static const Functions f = find();
        return f;
    }
    static Functions find() {
        // 32-bit XP has none of the redirection calls: there is nothing to
        // switch off there.
        Functions f;
        if (!onWow64()) return f;
        f.disable = systemFunction<Disable>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
        f.revert = systemFunction<Revert>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
        if (f.revert == nullptr) f.disable = nullptr;
        return f;
    }
    const Functions& functions_;
    PVOID old_ = nullptr;
    bool active_ = false;
};

// DeleteFile refuses a read-only file; a temporary file of ours may have
// taken that attribute from its source.
inline ErrorCode removeFile(const std::wstring& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return ::DeleteFileW(path.c_str()) ? 0 : ::GetLastError();
}

} // namespace platform
