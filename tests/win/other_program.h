// The window tests' other program (other_program.cpp), started beside the
// test program and read back when it has ended.
#pragma once

#include "temp_dir.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testing_win {

class OtherProgram {
  public:
    // Starts it with `actions`; it acts while this program goes on.
    explicit OtherProgram(const std::vector<std::wstring>& actions) {
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring folder(self, std::wcsrchr(self, L'\\') + 1);
        std::wstring command = L"\"" + folder + L"other_program.exe\" \"" + report_.path() + L"\"";
        for (const std::wstring& a : actions)
            command += L" \"" + a + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        if (::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &process_))
            ::CloseHandle(process_.hThread);
    }
    ~OtherProgram() {
        if (process_.hProcess != nullptr) ::CloseHandle(process_.hProcess);
    }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // Waits for it to end, `pumping` meanwhile (the messages it sends are
    // answered only while this thread pumps), and returns its report lines.
    std::vector<std::string> wait(const std::function<void()>& pumping = nullptr) {
        while (process_.hProcess != nullptr &&
               ::WaitForSingleObject(process_.hProcess, 1) == WAIT_TIMEOUT)
            if (pumping) pumping();
        std::vector<std::string> lines;
        const std::string text = readFile(report_.path());
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    // An action: "send" (its result is reported) or "post" a message.
    static std::wstring act(const wchar_t* how, HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        return std::wstring(how) + L":" + std::to_wstring(reinterpret_cast<ULONG_PTR>(hwnd)) +
               L":" + std::to_wstring(message) + L":" + std::to_wstring(w) + L":" +
               std::to_wstring(static_cast<ULONG_PTR>(l));
    }

  private:
    struct Report {
        TempDir folder;
        std::wstring path() const { return folder / L"report.txt"; }
    } report_;
    PROCESS_INFORMATION process_ = {};
};

} // namespace testing_win
