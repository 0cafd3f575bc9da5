// The part of a command that may change files, the same for both commands.
#pragma once

#include "cache/folders.h"
#include "cache/window_port.h"
#include "platform/services.h"

#include <functional>
#include <memory>
#include <string>

namespace cache {

struct ChangeSpan {
    std::wstring reason; // what logoff may show
    std::wstring title;  // of the box that says another command runs
    // Whether the command writes into the cache folder. One that only reads
    // it goes on without the lock where the lock cannot be made there (no
    // rights, a read-only share, no room): it changes nothing there.
    bool writesCache = true;
    // Shows that the command cannot start: what failed, where, and why.
    std::function<void(const std::wstring& what, const std::wstring& path,
                       platform::ErrorCode error)>
        refuse;
};

// Resolves the folders and runs `work`, the window answering the system
// during long calls; the span that `work` may begin ends with it.
void runChanging(platform::Services& services, WindowPort& window, const ChangeSpan& span,
                 const std::function<void(const Folders&)>& work);

// Begins the span that may change files: holds the cache folder in
// `folder` for the rest of the command, and takes the lock in it, which
// keeps every other program's command out whoever runs it. False, having
// said why, when the folder cannot be held, while another program's
// command holds the lock, or when that cannot be taken for another reason:
// the command then changes nothing. A command that does not write into the
// cache goes on without the lock where only writing there is refused.
bool beginChanges(platform::Services& services, WindowPort& window, const Folders& folders,
                  const ChangeSpan& span, std::unique_ptr<platform::Folder>& folder);

} // namespace cache
