#include "cache/folders.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

TEST(Folders, SystemFolderIsTerminatedOnceWhateverTheSystemReports) {
    EXPECT_EQ(cache::foldersFrom(L"C:\\WINDOWS\\system32", L"C:\\WINDOWS").system,
              L"C:\\WINDOWS\\system32\\");
    EXPECT_EQ(cache::foldersFrom(L"C:\\WINDOWS\\system32\\", L"C:\\WINDOWS\\").system,
              L"C:\\WINDOWS\\system32\\");
}

TEST(Folders, DerivedFoldersOnAStandardInstallation) {
    const cache::Folders f = cache::foldersFrom(L"C:\\WINDOWS\\system32", L"C:\\WINDOWS");
    EXPECT_EQ(f.windows, L"C:\\WINDOWS\\");
    EXPECT_EQ(f.cache, L"C:\\WINDOWS\\system32\\dllcache");
    EXPECT_EQ(f.system16, L"C:\\WINDOWS\\system\\");
    EXPECT_EQ(f.drivers, L"C:\\WINDOWS\\system32\\drivers\\");
    EXPECT_EQ(f.programFiles, L"C:\\program files");
    EXPECT_EQ(cache::cacheEntry(f, L"a.dll"), L"C:\\WINDOWS\\system32\\dllcache\\a.dll");
}

TEST(Folders, ProgramFilesComesFromTheWindowsDrive) {
    const cache::Folders f = cache::foldersFrom(L"C:\\WINNT\\system32", L"D:\\WINNT\\");
    EXPECT_EQ(f.programFiles, L"D:\\program files");
}

TEST(Folders, ListFileBesideTheExecutable) {
    EXPECT_EQ(cache::programFolder(L"D:\\tools\\Kestrum.exe"), L"D:\\tools");
    EXPECT_EQ(cache::listFilePath(cache::programFolder(L"D:\\tools\\Kestrum.exe")),
              L"D:\\tools\\filelist.kdl");
    // A drive root keeps its one separator.
    EXPECT_EQ(cache::programFolder(L"E:\\Kestrum.exe"), L"E:\\");
    EXPECT_EQ(cache::listFilePath(cache::programFolder(L"E:\\Kestrum.exe")), L"E:\\filelist.kdl");
    EXPECT_EQ(cache::listFilePath(cache::programFolder(L"\\\\host\\share\\Kestrum.exe")),
              L"\\\\host\\share\\filelist.kdl");
}

TEST(Folders, ResolveAsksTheSystemAndReportsItsFailure) {
    fake::Services services;
    services.systemDir = L"E:\\OS\\sys";
    services.windowsDir = L"E:\\OS";
    cache::Folders f;
    ASSERT_EQ(cache::resolveFolders(services, f), 0u);
    EXPECT_EQ(f.system, L"E:\\OS\\sys\\");
    EXPECT_EQ(f.programFiles, L"E:\\program files");

    services.systemDirError = 1234;
    EXPECT_EQ(cache::resolveFolders(services, f), 1234u);
}

TEST(Folders, CacheFolderIsWhereWindowsKeepsIt) {
    using platform::ValueKind;
    const std::wstring usual = L"C:\\WINDOWS\\system32\\dllcache";
    const std::wstring longest = L"D:\\" + std::wstring(256, L'x'); // MAX_PATH with its null
    const struct {
        ValueKind kind;
        std::wstring value, cache;
    } cases[] = {
        {ValueKind::Missing, L"", usual},
        {ValueKind::Text, L"", usual},
        {ValueKind::Text, L"D:\\cache", L"D:\\cache"},
        {ValueKind::Text, L"%SystemRoot%\\moved\\dllcache", L"C:\\WINDOWS\\moved\\dllcache"},
        {ValueKind::Text, L"D:\\cache\\\\", L"D:\\cache"},
        {ValueKind::Text, L"d:\\", L"d:\\"},
        {ValueKind::Text, L"\\\\server\\share\\cache\\", L"\\\\server\\share\\cache"},
        {ValueKind::Text, L"\\\\server\\share", L"\\\\server\\share"},
        {ValueKind::Text, longest, longest},
        // The system's own variables, never the user's or a 32-bit view's.
        {ValueKind::Text, L"%SystemDrive%\\cache", L"C:\\cache"},
        {ValueKind::Text, L"%Spare%\\dllcache", L"C:\\WINDOWS\\spare\\dllcache"},
        {ValueKind::Text, L"D:\\100%\\cache", L"D:\\100%\\cache"},
        {ValueKind::Text, L"D:\\%NoSuchVariable%\\cache", L"D:\\%NoSuchVariable%\\cache"},
        // In normal form, as every later call, Win32 or native, takes it.
        {ValueKind::Text, L"C:\\kodd2\\.\\cache", L"C:\\kodd2\\cache"},
        {ValueKind::Text, L"C:\\kx\\..\\kodd3\\", L"C:\\kodd3"},
        {ValueKind::Text, L"C:\\kodd4/cache", L"C:\\kodd4\\cache"},
        {ValueKind::Text, L"C:\\\\kfat", L"C:\\kfat"},
        {ValueKind::Text, L"%ProgramFiles%\\cache", usual},
        {ValueKind::Text, L"%Loop%\\cache", usual},
        // Not a full path, or too long for one: as if not set.
        {ValueKind::Text, L"cache", usual},
        {ValueKind::Text, L"D:cache", usual},
        {ValueKind::Text, L"\\cache", usual},
        {ValueKind::Text, L"%NoSuchVariable%\\cache", usual},
        {ValueKind::Text, L"\\\\server", usual},
        {ValueKind::Text, L"\\\\server\\", usual},
        {ValueKind::Text, L"\\\\\\share\\cache", usual},
        {ValueKind::Text, L"\\\\?\\D:\\cache", usual},
        {ValueKind::Text, longest + L"x", usual},
        {ValueKind::Other, L"D:\\cache", usual},
    };
    fake::Services services;
    services.registry[services.systemVariable(L"SPARE")] = {ValueKind::Text,
                                                            L"%SystemRoot%\\spare"};
    services.registry[services.systemVariable(L"Loop")] = {ValueKind::Text, L"%Loop%"};
    cache::Folders f;
    for (const auto& c : cases) {
        services.registry[services.winlogonValue()] = {c.kind, c.value};
        ASSERT_EQ(cache::resolveFolders(services, f), 0u);
        EXPECT_EQ(f.cache, c.cache) << c.value;
    }
    EXPECT_EQ(f.system, L"C:\\WINDOWS\\system32\\") << "the system folder stays";

    EXPECT_EQ(cache::cacheEntry(f, L"a.dll"), usual + L"\\a.dll");
    // Where Windows started from, as the system keeps it, even where this
    // session's Windows folder is another (a terminal server's own).
    services.registry[L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion|SystemRoot"] = {
        ValueKind::Text, L"E:\\WINNT"};
    services.moveCache(L"%SystemRoot%\\cache");
    cache::resolveFolders(services, f);
    EXPECT_EQ(f.cache, L"E:\\WINNT\\cache");

    // The policy wins; a policy value that is empty or no full path does not.
    services.moveCache(L"D:\\logon");
    services.registry[services.policyValue()] = {ValueKind::Text, L"E:\\"};
    cache::resolveFolders(services, f);
    EXPECT_EQ(f.cache, L"E:\\");
    EXPECT_EQ(cache::cacheEntry(f, L"a.dll"), L"E:\\a.dll");
    for (const wchar_t* unusable : {L"", L"policy"}) {
        services.registry[services.policyValue()] = {ValueKind::Text, unusable};
        cache::resolveFolders(services, f);
        EXPECT_EQ(f.cache, L"D:\\logon") << unusable;
        EXPECT_EQ(cache::cacheEntry(f, L"a.dll"), L"D:\\logon\\a.dll");
    }
}

} // namespace
