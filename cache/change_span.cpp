#include "cache/change_span.h"

#include "cache/messages.h"

namespace cache {

void runChanging(platform::Services& services, WindowPort& window, const ChangeSpan& span,
                 const std::function<void(const Folders&)>& work) {
    Folders folders;
    if (const platform::ErrorCode error = resolveFolders(services, folders)) {
        span.refuse(L"无法取得系统文件夹", std::wstring(), error);
        return;
    }
    {
        // Large listings, the program-files walk, copies and flushes take a
        // while.
        const platform::HeartbeatWhile alive(
            services, [&window] { window.keepAlive(); },
            [&window] { return !window.sessionEnding(); });
        work(folders);
    }
    window.endChanges();
}

bool beginChanges(platform::Services& services, WindowPort& window, const Folders& folders,
                  const ChangeSpan& span, std::unique_ptr<platform::Folder>& folder) {
    // Held from here to the end of the command: what it writes lands in
    // this folder, whatever another program does to its path meanwhile.
    if (const platform::ErrorCode error = services.holdFolder(folders.cache, folder)) {
        span.refuse(L"无法使用dllcache文件夹", folders.cache, error);
        return false;
    }
    // A file in the cache folder, where only administrators and the system
    // may create files: no object a limited user can make stops a command
    // or lets two run at once, and a killed program's lock goes with it.
    std::unique_ptr<platform::Held> lock;
    const platform::ErrorCode locked = services.lockFile(*folder, lockName, lock);
    if (locked == platform::errorSharingViolation) {
        window.messageBox(busyElsewhere, span.title, Buttons::Ok, Icon::Exclamation);
        return false;
    }
    if (locked != 0 && !(platform::cannotWrite(locked) && !span.writesCache)) {
        span.refuse(L"无法使用dllcache文件夹", folders.cache, locked);
        return false;
    }
    window.beginChanges(span.reason, std::move(lock));
    return true;
}

} // namespace cache
