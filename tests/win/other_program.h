// The window tests' other program (other_program.cpp), started beside the
// test program and read back when it has ended.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_win {

class OtherProgram {
  public:
    // Starts it with `actions`; it acts while this program goes on.
    explicit OtherProgram(const std::vector<std::wstring>& actions) {
        wchar_t self[MAX_PATH] = {}, temp[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring exe = self;
        exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"other_program.exe";
        ::GetTempPathW(MAX_PATH, temp);
        report_ = std::wstring(temp) + L"kestrum-other-" +
                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(::GetTickCount()) + L".txt";
        std::wstring command = L"\"" + exe + L"\" \"" + report_ + L"\"";
        for (const std::wstring& a : actions)
            command += L" \"" + a + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &process_))
            process_.hProcess = nullptr;
    }
    ~OtherProgram() {
        if (process_.hProcess != nullptr) {
            ::TerminateProcess(process_.hProcess, 1);
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
        }
        ::DeleteFileW(report_.c_str());
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // Waits for it to end, `pumping` meanwhile (the messages it sends are
    // answered only while this thread pumps), and returns its report lines.
    std::vector<std::wstring> wait(const std::function<void()>& pumping = nullptr) {
        if (process_.hProcess == nullptr) return {L"<not started>"};
        while (::WaitForSingleObject(process_.hProcess, 1) == WAIT_TIMEOUT)
            if (pumping) pumping();
        std::vector<std::wstring> lines;
        HANDLE file = ::CreateFileW(report_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return {L"<no report>"};
        std::string bytes(1 << 16, '\0');
        DWORD got = 0;
        ::ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
        ::CloseHandle(file);
        bytes.resize(got);
        if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
        std::wstring text(bytes.size(), L'\0');
        text.resize(static_cast<std::size_t>(
            ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  &text[0], static_cast<int>(text.size()))));
        for (std::size_t start = 0, end; (end = text.find(L'\n', start)) != std::wstring::npos;
             start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    static std::wstring send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        return act(L"send", hwnd, message, wParam, lParam);
    }
    static std::wstring post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        return act(L"post", hwnd, message, wParam, lParam);
    }

  private:
    static std::wstring act(const wchar_t* how, HWND hwnd, UINT message, WPARAM wParam,
                            LPARAM lParam) {
        return std::wstring(how) + L":" + std::to_wstring(reinterpret_cast<ULONG_PTR>(hwnd)) +
               L":" + std::to_wstring(message) + L":" + std::to_wstring(wParam) + L":" +
               std::to_wstring(static_cast<ULONG_PTR>(lParam));
    }
    std::wstring report_;
    PROCESS_INFORMATION process_ = {};
};

} // namespace testing_win
