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
#include "platform/own_files.h"
#include "platform/win32_services.h"
#include "moved_system.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace testing_win {

// Opens a file as another program holding it would: with no sharing, or
// sharing everything as an indexer does.
struct Lock {
    HANDLE h;
    explicit Lock(const std::wstring& path, DWORD share = 0)
        : h(::CreateFileW(path.c_str(), GENERIC_READ | (share == 0 ? GENERIC_WRITE : 0), share,
                          nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~Lock() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};

// The services with Windows' answers where Wine answers otherwise: a move
// over a read-only file is refused (Wine lets root through), as access
// denied, or on FAT as "already exists"; and, where `noLinks`, the open
// flag that follows no link is refused as invalid, as some network
// redirectors refuse it.
template <typename Base> struct WindowsAnswers : Base {
    bool fat = false, noLinks = false;
    struct Copy : platform::OpenCopy {
        std::unique_ptr<platform::OpenCopy> real;
        std::wstring folder;
        bool fat = false;
        std::uint64_t size() const override { return real->size(); }
        std::uint32_t volumeSerial() const override { return real->volumeSerial(); }
        platform::ErrorCode flush() override { return real->flush(); }
        platform::ErrorCode moveTo(const std::wstring& name) override {
            const DWORD bits = ::GetFileAttributesW((folder + L"\\" + name).c_str());
            if (bits != INVALID_FILE_ATTRIBUTES && (bits & FILE_ATTRIBUTE_READONLY) != 0)
                return fat ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
            return real->moveTo(name);
        }
        platform::ErrorCode discard() override { return real->discard(); }
    };
    platform::ErrorCode copyFile(const std::wstring& from, platform::Folder& folder,
                                 const std::wstring& name,
                                 std::unique_ptr<platform::OpenCopy>& copy,
                                 platform::CopySide& side) override {
        auto answering = std::make_unique<Copy>();
        answering->folder = this->held;
        answering->fat = fat;
        const platform::ErrorCode error = Base::copyFile(from, folder, name, answering->real, side);
        if (error == 0) copy = std::move(answering);
        return error;
    }

  protected:
    platform::ErrorCode openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                                     ULONG share, ULONG disposition, ULONG options,
                                     ULONG attributes, platform::FileHandle& file) override {
        if (noLinks && (options & platform::open_options::noFollow) != 0)
            return ERROR_INVALID_PARAMETER;
        return Base::openRelative(folder, name, access, share, disposition, options, attributes,
                                  file);
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
