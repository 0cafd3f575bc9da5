// Texts shown to the user by the commands, in one place.
#pragma once

#include "platform/services.h"

#include <string>

namespace cache {

// "<what>:\r\n<path>\r\n\r\n<system's reason>" for a failed step.
std::wstring failureText(const std::wstring& what, const std::wstring& path,
                         platform::Services& services, platform::ErrorCode error);

} // namespace cache
