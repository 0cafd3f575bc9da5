#include "cache/messages.h"

namespace cache {

std::wstring failureText(const std::wstring& what, const std::wstring& path,
                         platform::Services& services, platform::ErrorCode error) {
    std::wstring text = what;
    if (!path.empty()) text += L":\r\n" + path;
    text += L"\r\n\r\n" + services.errorText(error);
    return text;
}

} // namespace cache
