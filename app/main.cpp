// Program start: safe DLL search, the one window, the message loop.
#include "app/frmdll.h"
#include "platform/win32_services.h"

#include <windows.h>

#include <commctrl.h>

namespace {

// Nothing planted beside the executable or in the current folder is loaded
// as a system DLL. Windows 8 (and 7 with KB2533623) can limit the search to
// the system folder; XP SP1 and later can at least drop the current folder;
// Windows 2000 has neither and keeps its own search order.
void restrictDllSearch() {
    constexpr DWORD searchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    const auto setDefault = platform::systemFunction<SetDefaultDllDirectoriesFn>(
        L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(searchSystem32)) return;
    const auto setDirectory =
        platform::systemFunction<SetDllDirectoryFn>(L"kernel32.dll", "SetDllDirectoryW");
    if (setDirectory != nullptr) setDirectory(L"");
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    restrictDllSearch();

    // Loads the version 6 common controls that the manifest asks for, so the
    // buttons follow the user's visual style.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    platform::Win32Services services;
    app::Frmdll frmdll(services);
    if (!frmdll.create(instance)) return 1;
    frmdll.show(showCommand);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (frmdll.preTranslateMessage(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
