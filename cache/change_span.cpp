#include "cache/change_span.h"

#include "cache/messages.h"

namespace cache {

void runChanging(platform::Services& services, WindowPort& window, const std::wstring& reason,
                 const std::wstring& title, const std::function<void()>& work) {
    if (!window.beginChanges(reason)) {
        window.messageBox(busyElsewhere, title, Buttons::Ok, Icon::Exclamation);
        return;
    }
    {
        // Large listings, the program-files walk and copies take a while.
        const platform::HeartbeatWhile alive(
            services, [&window] { window.keepAlive(); },
            [&window] { return !window.sessionEnding(); });
        work();
    }
    window.endChanges();
}

} // namespace cache
