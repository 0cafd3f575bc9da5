// The restore on real files: the Win32 services with the system folders
// moved into a temporary folder, so the copies, attributes and locks are
// the platform's own.
#pragma once

#include "../native/fake_window.h"
#include "cache/backup.h"
#include "cache/folders.h"
#include "cache/program_files.h"
#include "cache/restore.h"
#include "platform/handles.h"
#include "platform/win32_services.h"
#include "moved_system.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace testing_win {

// Opens a file with no sharing, as another program holding it would.
struct Lock {
    HANDLE h;
    explicit Lock(const std::wstring& path)
        : h(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr)) {}
    ~Lock() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

struct RealRestore : ::testing::Test {
    TempDir temp;
    TempDir programFilesHolder; // only for its unique name
    testing_win::MovedSystem services;
    fake::Window window;
    cache::DirList Dir1{services};
    std::wstring sys, windows, cacheDir, programFiles, pfTest;

    void SetUp() override {
        services.root = temp.path();
        windows = temp / L"WINDOWS";
        sys = windows + L"\\system32";
        cacheDir = sys + L"\\dllcache";
        for (const std::wstring& d :
             {windows, sys, cacheDir, windows + L"\\system", sys + L"\\drivers", temp / L"tools"})
            ::CreateDirectoryW(d.c_str(), nullptr);
        // The program-files folder is the real one of the test system's
        // drive; the test works in a sub-folder of its own there.
        programFiles = windows.substr(0, 2) + L"\\program files";
        ::CreateDirectoryW(programFiles.c_str(), nullptr);
        const std::wstring unique =
            programFilesHolder.path().substr(programFilesHolder.path().find_last_of(L'\\') + 1);
        pfTest = programFiles + L"\\" + unique;
        ::CreateDirectoryW(pfTest.c_str(), nullptr);
    }
    void TearDown() override { TempDir::removeTree(pfTest); }

    void list(const std::string& bytes) { writeFile(temp / L"tools\\filelist.kdl", bytes); }
    void run() { cache::runRestore(services, window, Dir1); }
    std::string cached(const std::wstring& name) { return readFile(cacheDir + L"\\" + name); }
};

} // namespace testing_win
