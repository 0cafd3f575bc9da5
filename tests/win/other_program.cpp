// Another program, for the window tests: sends and posts messages to the
// window under test and answers its message boxes, so that the test program
// itself never needs a second thread (under qemu's emulation a second thread
// corrupts the first one). Its answers go, one line each, to a report file:
//   other_program.exe REPORT ACTION...
//   send:HWND:MESSAGE:WPARAM:LPARAM    SendMessageTimeout, 10 s; its result
//   post:HWND:MESSAGE:WPARAM:LPARAM
//   answer:TITLE:COMMAND:WAIT          waits for a message box of that title,
//                                      reports its text, waits WAIT ms,
//                                      reports whether it stayed, posts
//                                      WM_COMMAND COMMAND to it
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> fields(const std::wstring& action) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t colon; (colon = action.find(L':', start)) != std::wstring::npos;
         start = colon + 1)
        parts.push_back(action.substr(start, colon - start));
    parts.push_back(action.substr(start));
    return parts;
}

ULONG_PTR number(const std::wstring& text) {
    return static_cast<ULONG_PTR>(std::wcstoull(text.c_str(), nullptr, 0));
}

// One line of the report, in UTF-8.
void line(HANDLE report, const std::wstring& text) {
    const std::wstring withEnd = text + L"\n";
    std::string bytes(withEnd.size() * 3, '\0');
    bytes.resize(static_cast<std::size_t>(
        ::WideCharToMultiByte(CP_UTF8, 0, withEnd.data(), static_cast<int>(withEnd.size()),
                              &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr)));
    DWORD written = 0;
    ::WriteFile(report, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

HWND waitForBox(const std::wstring& title) {
    for (int i = 0; i < 400; ++i) {
        if (HWND box = ::FindWindowW(L"#32770", title.c_str())) return box;
        ::Sleep(25);
    }
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const HANDLE report =
        ::CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (report == INVALID_HANDLE_VALUE) return 2;
    for (int i = 2; i < argc; ++i) {
        const std::vector<std::wstring> f = fields(argv[i]);
        if (f[0] == L"send" && f.size() == 5) {
            DWORD_PTR result = 0xBAD;
            ::SendMessageTimeoutW(reinterpret_cast<HWND>(number(f[1])),
                                  static_cast<UINT>(number(f[2])), number(f[3]),
                                  static_cast<LPARAM>(number(f[4])), SMTO_NORMAL, 10000, &result);
            line(report, std::to_wstring(result));
        } else if (f[0] == L"post" && f.size() == 5) {
            ::PostMessageW(reinterpret_cast<HWND>(number(f[1])), static_cast<UINT>(number(f[2])),
                           number(f[3]), static_cast<LPARAM>(number(f[4])));
        } else if (f[0] == L"answer" && f.size() == 4) {
            HWND box = waitForBox(f[1]);
            wchar_t text[512] = {};
            if (box != nullptr) ::GetWindowTextW(::GetDlgItem(box, 0xFFFF), text, 512);
            ::Sleep(static_cast<DWORD>(number(f[3])));
            line(report, box != nullptr ? text : L"<no box>");
            line(report, box != nullptr && ::IsWindow(box) ? L"stayed" : L"gone");
            if (box != nullptr) ::PostMessageW(box, WM_COMMAND, number(f[2]), 0);
        } else {
            line(report, L"<unknown action " + std::wstring(argv[i]) + L">");
        }
    }
    ::CloseHandle(report);
    return 0;
}
