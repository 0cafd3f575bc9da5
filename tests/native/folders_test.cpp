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

} // namespace
