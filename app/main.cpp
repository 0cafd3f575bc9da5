// Program start: safe DLL search, the one window, the message loop.
#include "app/frmdll.h"
#include "platform/win32_services.h"

#include <windows.h>

#include <commctrl.h>

namespace {

// Only the system folder is searched for DLLs, so nothing planted beside
// the executable is loaded. Looked up at run time: older systems lack it.
void restrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
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
