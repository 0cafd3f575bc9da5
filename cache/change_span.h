// The part of a command that may change files, the same for both commands.
#pragma once

#include "cache/window_port.h"
#include "platform/services.h"

#include <functional>
#include <string>

namespace cache {

// Runs `work` in the span that may change files (`reason` is what logoff
// may show), the window answering the system during long calls. When
// another program's command holds the span, says so in a box titled
// `title` and changes nothing.
void runChanging(platform::Services& services, WindowPort& window, const std::wstring& reason,
                 const std::wstring& title, const std::function<void()>& work);

} // namespace cache
