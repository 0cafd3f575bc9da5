// The Win32 services with the system folders moved under `root`, so the
// commands work on real files without touching the test system's own.
#pragma once

#include "platform/win32_services.h"

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
};

} // namespace testing_win
