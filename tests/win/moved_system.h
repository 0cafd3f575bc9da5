// The Win32 services with the system folders moved under `root`, so the
// commands work on real files without touching the test system's own.
#pragma once

#include "platform/handles.h"
#include "platform/win32_services.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace testing_win {

class MovedSystem : public platform::Win32Services {
  public:
    std::wstring root;
    std::wstring systemDirectory(platform::ErrorCode& error) override {
        error = 0;
        return root + L"\\WINDOWS\\system32";
    }
    std::wstring windowsDirectory(platform::ErrorCode& error) override {
        error = 0;
        return root + L"\\WINDOWS";
    }
    std::wstring modulePath() override { return root + L"\\tools\\Kestrum.exe"; }
    // What another program does just before each copy; the folder held last.
    std::function<void()> beforeCopy;
    std::wstring held;
    platform::ErrorCode holdFolder(const std::wstring& path,
                                   std::unique_ptr<platform::Folder>& folder) override {
        held = path;
        return Win32Services::holdFolder(path, folder);
    }
    platform::ErrorCode copyFile(const std::wstring& from, platform::Folder& folder,
                                 const std::wstring& name,
                                 std::unique_ptr<platform::OpenCopy>& copy,
                                 platform::CopySide& side) override {
        if (beforeCopy) beforeCopy();
        return Win32Services::copyFile(from, folder, name, copy, side);
    }
};

// The volume flush answered as an administrator's on Windows XP answers it,
// where Wine refuses it: the restore then takes its batch path. It puts
// nothing on the disk itself; `delay` makes it as slow as a busy disk's.
class AnsweredVolume : public platform::Volume {
  public:
    AnsweredVolume(std::uint32_t serial, DWORD delay, std::atomic<int>& count)
        : serial_(serial), delay_(delay), count_(count) {}
    std::uint32_t serial() const override { return serial_; }
    platform::ErrorCode flush() override {
        if (delay_ != 0) ::Sleep(delay_);
        ++count_;
        return 0;
    }

  private:
    std::uint32_t serial_;
    DWORD delay_;
    std::atomic<int>& count_;
};

class BatchPathSystem : public MovedSystem {
  public:
    DWORD flushDelay = 0;
    std::atomic<int> volumeFlushes{0};
    platform::ErrorCode openVolume(const std::wstring& path,
                                   std::unique_ptr<platform::Volume>& volume) override {
        // The volume the folder's files go to, as their handles report it.
        const platform::FileHandle folder(::CreateFileW(
            path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info;
        if (!folder || !::GetFileInformationByHandle(folder.get(), &info)) return ::GetLastError();
        volume = std::make_unique<AnsweredVolume>(info.dwVolumeSerialNumber, flushDelay,
                                                  volumeFlushes);
        return 0;
    }
};

} // namespace testing_win
