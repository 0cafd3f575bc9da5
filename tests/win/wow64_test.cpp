// Run by run_wow64.sh in a 64-bit Wine prefix: the 32-bit program works on
// the real system folder's dllcache, not the 32-bit copy the system shows
// it, and only inside its own file calls.
#include "cache/folders.h"
#include "platform/win32_services.h"
#include "temp_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::wstring systemFolder() {
    wchar_t buffer[MAX_PATH] = {};
    ::GetSystemDirectoryW(buffer, MAX_PATH);
    return buffer;
}

bool lists(platform::Services& services, const std::wstring& folder, const std::wstring& name) {
    std::vector<platform::FolderEntry> entries;
    if (services.listFolder(folder, false, entries) != 0) return false;
    return std::any_of(entries.begin(), entries.end(),
                       [&](const platform::FolderEntry& e) { return e.name == name; });
}

TEST(Wow64, RunsAsA32BitProgramOn64BitWindows) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
    ASSERT_TRUE(wow64);
}

TEST(Wow64, SystemFolderIsShownAsThePlatformReportsIt) {
    platform::Win32Services services;
    platform::ErrorCode error = 1;
    EXPECT_EQ(services.systemDirectory(error), systemFolder());
    EXPECT_EQ(error, 0u);
}

TEST(Wow64, CommandsSeeTheRealDllcache) {
    platform::Win32Services services;
    const std::wstring cache = systemFolder() + L"\\dllcache";
    // The heartbeat inside a listing or a copy (where the window answers
    // the system) sees the folders as the rest of the process does.
    int beats = 0, redirected = 0;
    services.setHeartbeat([&] {
        ++beats;
        if (::GetFileAttributesW((cache + L"\\kestrum-wow32.dll").c_str()) !=
            INVALID_FILE_ATTRIBUTES)
            ++redirected;
    });
    // Seeded from the Linux side: one file in each of the two folders.
    EXPECT_TRUE(lists(services, cache, L"kestrum-real64.dll"));
    EXPECT_FALSE(lists(services, cache, L"kestrum-wow32.dll"));
    EXPECT_TRUE(services.attributes(systemFolder() + L"\\kestrum-real64.dll").exists);
    EXPECT_GT(beats, 0);
    EXPECT_EQ(redirected, beats);
}

TEST(Wow64, CopiesLandInTheRealFolderAndNothingElseIsUnredirected) {
    platform::Win32Services services;
    const std::wstring sys = systemFolder();
    std::unique_ptr<platform::Folder> cache;
    ASSERT_EQ(services.holdFolder(sys + L"\\dllcache", cache), 0u);
    std::unique_ptr<platform::OpenCopy> copy;
    platform::CopySide side;
    ASSERT_EQ(
        services.copyFile(sys + L"\\kestrum-real64.dll", *cache, L"kestrum-copied.tmp", copy, side),
        0u);
    EXPECT_EQ(copy->moveTo(L"kestrum-copied.dll"), 0u);
    EXPECT_FALSE(lists(services, sys + L"\\dllcache", L"kestrum-copied.tmp"));
    EXPECT_TRUE(lists(services, sys + L"\\dllcache", L"kestrum-copied.dll"));
    // The guard is taken in the real folder too.
    std::unique_ptr<platform::Held> lock;
    ASSERT_EQ(services.lockFile(*cache, L"kestrum.lock", lock), 0u);
    EXPECT_TRUE(lists(services, sys + L"\\dllcache", L"kestrum.lock"));
    lock.reset();
    EXPECT_FALSE(lists(services, sys + L"\\dllcache", L"kestrum.lock"));
    // Outside the services the process still sees the 32-bit folder.
    EXPECT_EQ(::GetFileAttributesW((sys + L"\\dllcache\\kestrum-copied.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(::GetFileAttributesW((sys + L"\\dllcache\\kestrum-wow32.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(services.deleteFile(sys + L"\\dllcache\\kestrum-copied.dll"), 0u);
}

TEST(Wow64, TheCachesPlaceIsReadInTheSystemsOwnRegistryView) {
    const wchar_t* const winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const testing_win::MachineValue shown(winlogon, L"SFCDllCacheDir", REG_SZ, L"C:\\view32",
                                          KEY_WOW64_32KEY);
    const testing_win::MachineValue own(winlogon, L"SFCDllCacheDir", REG_SZ, L"C:\\view64",
                                        KEY_WOW64_64KEY);
    ASSERT_TRUE(shown.set());
    ASSERT_TRUE(own.set());
    platform::Win32Services services;
    cache::Folders folders;
    ASSERT_EQ(cache::resolveFolders(services, folders), 0u);
    EXPECT_EQ(folders.cache, L"C:\\view64");
}

} // namespace
