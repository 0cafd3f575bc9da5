// The restore and the program-files lookup on real files.
#include "real_restore.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace testing_win;

TEST_F(RealRestore, CopiesFromTheFirstFolderHoldingEachName) {
    writeFile(sys + L"\\both.dll", "system");
    writeFile(windows + L"\\both.dll", "windows");
    writeFile(windows + L"\\win.dll", "windows");
    writeFile(windows + L"\\system\\old16.drv", "16-bit");
    writeFile(sys + L"\\drivers\\drv.sys", "drivers");
    writeFile(sys + L"\\hidden.dll", "hidden system",
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    // Written in 2001: the cache file keeps that date, as CopyFile kept it.
    FILETIME written{0x1D5A0000u, 0x01C0C6A1u};
    {
        HANDLE h = ::CreateFileW((sys + L"\\hidden.dll").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &written));
        ::CloseHandle(h);
    }
    ::CreateDirectoryW((pfTest + L"\\Accessories").c_str(), nullptr);
    writeFile(pfTest + L"\\Accessories\\kestrum-pf-test.exe", "program files");
    list("both.dll\r\nwin.dll\r\nold16.drv\r\ndrv.sys\r\nhidden.dll\r\nkestrum-pf-test.exe\r\n"
         "nowhere.dll\r\n");
    run();
    EXPECT_EQ(cached(L"both.dll"), "system");
    EXPECT_EQ(cached(L"win.dll"), "windows");
    EXPECT_EQ(cached(L"old16.drv"), "16-bit");
    EXPECT_EQ(cached(L"drv.sys"), "drivers");
    EXPECT_EQ(cached(L"hidden.dll"), "hidden system");
    WIN32_FILE_ATTRIBUTE_DATA copy = {};
    ASSERT_TRUE(
        ::GetFileAttributesExW((cacheDir + L"\\hidden.dll").c_str(), GetFileExInfoStandard, &copy));
    EXPECT_EQ(copy.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
    EXPECT_EQ(::CompareFileTime(&copy.ftLastWriteTime, &written), 0);
    EXPECT_EQ(cached(L"kestrum-pf-test.exe"), "program files");
    EXPECT_EQ(cached(L"nowhere.dll"), "<missing>");
    EXPECT_EQ(window.countText, L"已还原6个文件.文件还原成功.");
    EXPECT_EQ(window.boxes.back().text, L"DllCache(6) Restored Successfully");
}

TEST_F(RealRestore, DeletedCacheFolderIsRecreatedAndFilled) {
    ::RemoveDirectoryW(cacheDir.c_str());
    writeFile(sys + L"\\a.dll", "A");
    list("a.dll\r\n");
    run();
    EXPECT_EQ(cached(L"a.dll"), "A");
}

// Moved by the Winlogon value (expanded with the system's variables, not
// the program's own) and then by the policy (a plain string): both commands
// work where Windows keeps the cache, never in system32\dllcache.
TEST_F(RealRestore, AMovedCacheIsListedAndFilledWhereWindowsKeepsIt) {
    const testing_win::MachineValue systemVariable(
        L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", L"KESTRUM_SPARE",
        REG_SZ, temp.path());
    ASSERT_TRUE(systemVariable.set());
    ::SetEnvironmentVariableW(L"KESTRUM_SPARE", L"C:\\not-the-system's");
    const std::wstring moved = temp / L"spare\\dllcache", byPolicy = temp / L"policy";
    ::CreateDirectoryW((temp / L"spare").c_str(), nullptr);
    writeFile(cacheDir + L"\\usual.dll", "usual");
    writeFile(sys + L"\\a.dll", "A");
    list("a.dll\r\n");
    {
        const testing_win::MachineValue winlogon(
            L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"SFCDllCacheDir",
            REG_EXPAND_SZ, L"%KESTRUM_SPARE%\\spare\\dllcache\\");
        ASSERT_TRUE(winlogon.set());
        run();
        EXPECT_EQ(readFile(moved + L"\\a.dll"), "A");
        cache::FileList File1{services};
        cache::runBackup(services, window, File1);
        EXPECT_EQ(readFile(temp / L"tools\\filelist.kdl"), "a.dll\r\n");

        const testing_win::MachineValue policy(
            L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Windows File Protection",
            L"SFCDllCacheDir", REG_SZ, byPolicy);
        ASSERT_TRUE(policy.set());
        run();
        EXPECT_EQ(readFile(byPolicy + L"\\a.dll"), "A");
    }
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");
    std::vector<platform::FolderEntry> usual;
    ASSERT_EQ(services.listFolder(cacheDir, false, usual), 0u);
    ASSERT_EQ(usual.size(), 1u);
    EXPECT_EQ(usual[0].name, L"usual.dll");
    // Without the values the usual folder is back.
    run();
    EXPECT_EQ(cached(L"a.dll"), "A");
}

// Another program renames the cache folder, then the folder above it,
// while a restore fills it. The folder is held: the first is refused.
// Windows refuses the second too; Wine lets it through (and then renames
// no file whose path changed). Either way every file restored is in the
// folder the restore began with, every other one is reported, and nothing
// lands in the folder another program put in its place.
TEST_F(RealRestore, AHeldCacheFolderCannotBeSwappedMidway) {
    const std::wstring above = temp / L"kv", moved = above + L"\\cache";
    ::CreateDirectoryW(above.c_str(), nullptr);
    ::CreateDirectoryW(moved.c_str(), nullptr);
    const testing_win::MachineValue winlogon(
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"SFCDllCacheDir", REG_SZ,
        moved);
    ASSERT_TRUE(winlogon.set());
    std::string names;
    for (int i = 0; i < 100; ++i) {
        writeFile(sys + L"\\s" + std::to_wstring(i) + L".dll", "new");
        names += "s" + std::to_string(i) + ".dll\r\n";
    }
    list(names);
    testing_win::MovedSystem swapping;
    swapping.root = temp.path();
    int copies = 0;
    BOOL folderMoved = FALSE, aboveMoved = FALSE;
    std::vector<platform::FolderEntry> began, put; // put: ever in the folder put in its place
    swapping.beforeCopy = [&] {
        if (++copies == 40) {
            folderMoved = ::MoveFileExW(moved.c_str(), (moved + L"2").c_str(), 0);
            aboveMoved = ::MoveFileExW(above.c_str(), (above + L"2").c_str(), 0);
            ::CreateDirectoryW(above.c_str(), nullptr); // of another's choosing
            ::CreateDirectoryW(moved.c_str(), nullptr);
        }
        if (aboveMoved) swapping.listFolder(moved, false, put);
    };
    cache::DirList dir{swapping};
    cache::runRestore(swapping, window, dir);
    swapping.beforeCopy();
    EXPECT_FALSE(folderMoved);
    EXPECT_EQ(::GetFileAttributesW((moved + L"2").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(put.size(), 0u) << "nothing in the folder put in its place";
    ASSERT_EQ(swapping.listFolder(aboveMoved ? above + L"2\\cache" : moved, false, began), 0u);
    std::size_t restored = 0;
    for (const platform::FolderEntry& e : began)
        restored += e.name.rfind(L"kestrum", 0) != 0;
    const std::wstring& box = window.boxes.back().text;
    EXPECT_EQ(box.rfind(L"DllCache(" + std::to_wstring(restored) + L") Restored", 0), 0u) << box;
    EXPECT_TRUE(aboveMoved || box == L"DllCache(100) Restored Successfully") << box;
    EXPECT_GE(restored, 32u) << "the first batch, moved before the swap";
}

TEST_F(RealRestore, LockedSourceOrDestinationIsAFailure) {
    writeFile(sys + L"\\src-locked.dll", "new");
    writeFile(sys + L"\\dst-locked.dll", "new");
    writeFile(cacheDir + L"\\dst-locked.dll", "old");
    writeFile(sys + L"\\fine.dll", "fine");
    list("src-locked.dll\r\ndst-locked.dll\r\nfine.dll\r\n");
    {
        Lock a(sys + L"\\src-locked.dll");
        Lock b(cacheDir + L"\\dst-locked.dll", 7); // an indexer's
        ASSERT_NE(a.h, INVALID_HANDLE_VALUE);
        ASSERT_NE(b.h, INVALID_HANDLE_VALUE);
        run();
    }
    EXPECT_EQ(cached(L"dst-locked.dll"), "old");
    EXPECT_EQ(cached(L"fine.dll"), "fine");
    EXPECT_EQ(cached(cache::restoreTempName(0)), "<missing>");
    EXPECT_EQ(window.countText, L"已还原1个文件,2个文件还原失败.");
    // Both named, in list order, as in use: the copy cannot read the
    // source, and the move over the held destination is refused.
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored, 2 Failed\r\n\r\n" +
                                            services.errorReason(ERROR_SHARING_VIOLATION) +
                                            L" (2): src-locked.dll, dst-locked.dll");
}

// A read-only source is restored into a cache file the next restore can
// replace; a read-only cache file, refused as Windows refuses a move over
// it, is replaced all the same.
TEST_F(RealRestore, ReadOnlyFilesNeverBlockALaterRestore) {
    writeFile(sys + L"\\cd.dll", "from a CD", FILE_ATTRIBUTE_READONLY);
    list("cd.dll\r\n");
    run();
    EXPECT_EQ(cached(L"cd.dll"), "from a CD");
    EXPECT_EQ(::GetFileAttributesW((cacheDir + L"\\cd.dll").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    run();
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");

    // Refused as Windows refuses a move over a read-only file: on NTFS, and
    // on FAT by a file system that refuses the flag that follows no link.
    testing_win::WindowsAnswers<testing_win::MovedSystem> windows;
    windows.root = temp.path();
    cache::DirList dir{windows};
    for (const bool fat : {false, true}) {
        windows.fat = windows.noLinks = fat;
        writeFile(cacheDir + L"\\cd.dll", "old", FILE_ATTRIBUTE_READONLY);
        cache::runRestore(windows, window, dir);
        EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully") << fat;
        EXPECT_EQ(cached(L"cd.dll"), "from a CD");
        EXPECT_EQ(::GetFileAttributesW((cacheDir + L"\\cd.dll").c_str()) & FILE_ATTRIBUTE_READONLY,
                  0u);
    }
}

// Hard and symbolic links to a read-only file outside the cache, planted at
// temporary names before the restore and again while it runs, and a
// read-only hidden leftover: each is left as it is and its name skipped.
// Nothing outside the cache is written or changed.
TEST_F(RealRestore, LinksAtTheTemporaryNamesNeverReachOutside) {
    const std::wstring outside = temp / L"outside.dll", writable = temp / L"writable.dll";
    writeFile(outside, "outside", FILE_ATTRIBUTE_READONLY);
    writeFile(writable, "writable");
    const auto slot = [&](std::size_t n) { return cacheDir + L"\\" + cache::restoreTempName(n); };
    ASSERT_TRUE(plantLink(slot(0), outside, false));
    ASSERT_TRUE(plantLink(slot(6), writable, false));
    ASSERT_TRUE(plantLink(slot(1), outside, true));
    writeFile(slot(2), "left", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    // Leftovers another program holds: unshared, and shared for deleting
    // (removed, but its name kept until it lets go).
    writeFile(slot(3), "held");
    writeFile(slot(5), "held, shared");
    const Lock held(slot(3));
    platform::FileHandle shared(
        ::CreateFileW(slot(5).c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(shared);
    testing_win::MovedSystem planting;
    planting.root = temp.path();
    int planted = 0;
    planting.beforeCopy = [&] {
        if (::GetFileAttributesW(slot(4).c_str()) == INVALID_FILE_ATTRIBUTES)
            plantLink(slot(4), outside, planted++ % 2 == 0);
    };
    std::string names;
    for (int i = 0; i < 100; ++i) {
        writeFile(sys + L"\\p" + std::to_wstring(i) + L".dll", "new " + std::to_string(i));
        names += "p" + std::to_string(i) + ".dll\r\n";
    }
    list(names);
    cache::DirList dir{planting};
    cache::runRestore(planting, window, dir);
    EXPECT_EQ(window.boxes.back().text, L"DllCache(100) Restored Successfully");
    EXPECT_EQ(cached(L"p99.dll"), "new 99");
    EXPECT_EQ(readFile(outside), "outside");
    EXPECT_EQ(readFile(writable), "writable");
    EXPECT_NE(::GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    for (const std::size_t n : {0, 1, 2, 3, 4, 6})
        EXPECT_NE(::GetFileAttributesW(slot(n).c_str()), INVALID_FILE_ATTRIBUTES) << n;
    shared.reset();
    EXPECT_EQ(::GetFileAttributesW(slot(5).c_str()), INVALID_FILE_ATTRIBUTES) << "gone once let go";
}

TEST_F(RealRestore, TraversalAndDeviceEntriesTouchNothingOutside) {
    writeFile(temp / L"outside.dll", "outside");
    writeFile(sys + L"\\ok.dll", "ok");
    list("..\\..\\outside.dll\r\n..\\outside.dll\r\n" +
         std::string("C:\\outside.dll\r\nCON\r\nNUL.dll\r\nLPT1\r\nok.dll\r\n"));
    run();
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");
    std::vector<platform::FolderEntry> entries;
    ASSERT_EQ(services.listFolder(cacheDir, false, entries), 0u);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, L"ok.dll");
    // Nothing was written beside the system folders either.
    entries.clear();
    ASSERT_EQ(services.listFolder(temp.path(), false, entries), 0u);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, L"outside.dll");
}

TEST_F(RealRestore, UnreadableListEndsTheRunWithItsReason) {
    writeFile(sys + L"\\a.dll", "A");
    list("a.dll\r\n");
    Lock held(temp / L"tools\\filelist.kdl");
    run();
    EXPECT_EQ(cached(L"a.dll"), "<missing>");
    EXPECT_EQ(window.boxes.back().icon, cache::Icon::Exclamation);
    EXPECT_NE(window.boxes.back().text.find(temp / L"tools\\filelist.kdl"), std::wstring::npos);
    EXPECT_TRUE(window.restoreEnabled);
}

TEST_F(RealRestore, SearchedFileFollowsTheAttributeRule) {
    cache::ProgramFilesSearch search(services, Dir1);
    writeFile(pfTest + L"\\ro.dll", "x", FILE_ATTRIBUTE_READONLY);
    writeFile(pfTest + L"\\hid.dll", "x", FILE_ATTRIBUTE_HIDDEN);
    writeFile(pfTest + L"\\sys.dll", "x", FILE_ATTRIBUTE_SYSTEM);
    writeFile(pfTest + L"\\arc.dll", "x", FILE_ATTRIBUTE_ARCHIVE);
    ::CreateDirectoryW((pfTest + L"\\dir.dll").c_str(), nullptr);
    ::CreateDirectoryW((pfTest + L"\\Sub").c_str(), nullptr);
    writeFile(pfTest + L"\\Sub\\inner.dll", "x");
    writeFile(pfTest + L"\\Sub\\hidinner.dll", "x", FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(search.SearchedFile(L"RO.dll", pfTest), pfTest + L"\\RO.dll");
    EXPECT_EQ(search.SearchedFile(L"arc.dll", pfTest + L"\\"), pfTest + L"\\arc.dll");
    EXPECT_EQ(search.SearchedFile(L"hid.dll", pfTest), L"");
    EXPECT_EQ(search.SearchedFile(L"sys.dll", pfTest), L"");
    EXPECT_EQ(search.SearchedFile(L"dir.dll", pfTest), L"");
    EXPECT_EQ(search.SearchedFile(L"inner.dll", pfTest), pfTest + L"\\Sub\\inner.dll");
    EXPECT_EQ(search.SearchedFile(L"hidinner.dll", pfTest), L"");
}

} // namespace
