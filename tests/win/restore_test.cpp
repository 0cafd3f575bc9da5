// The restore and the program-files lookup on real files: the Win32
// services with the system folders moved into a temporary folder, so the
// copies, attributes and locks are the platform's own.
#include "../native/fakes.h"
#include "cache/backup.h"
#include "cache/folders.h"
#include "cache/program_files.h"
#include "cache/restore.h"
#include "platform/handles.h"
#include "platform/win32_services.h"
#include "moved_system.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using testing_win::readFile;
using testing_win::TempDir;
using testing_win::writeFile;

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

// Moved by the Winlogon value (expanded) and then by the policy (a plain
// string): both commands work where Windows keeps the cache, never in
// system32\dllcache.
TEST_F(RealRestore, AMovedCacheIsListedAndFilledWhereWindowsKeepsIt) {
    ::SetEnvironmentVariableW(L"KESTRUM_SPARE", temp.path().c_str());
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

TEST_F(RealRestore, LockedSourceOrDestinationIsAFailure) {
    writeFile(sys + L"\\src-locked.dll", "new");
    writeFile(sys + L"\\dst-locked.dll", "new");
    writeFile(cacheDir + L"\\dst-locked.dll", "old");
    writeFile(sys + L"\\fine.dll", "fine");
    list("src-locked.dll\r\ndst-locked.dll\r\nfine.dll\r\n");
    {
        Lock a(sys + L"\\src-locked.dll");
        Lock b(cacheDir + L"\\dst-locked.dll");
        ASSERT_NE(a.h, INVALID_HANDLE_VALUE);
        ASSERT_NE(b.h, INVALID_HANDLE_VALUE);
        run();
    }
    EXPECT_EQ(cached(L"dst-locked.dll"), "old");
    EXPECT_EQ(cached(L"fine.dll"), "fine");
    EXPECT_EQ(cached(cache::restoreTempName(0)), "<missing>");
    EXPECT_EQ(window.countText, L"已还原1个文件,2个文件还原失败.");
    // Both named, under the system's reason: the copy cannot read the
    // source; the move over the held destination is refused (the system
    // says how).
    const std::wstring& text = window.boxes.back().text;
    EXPECT_EQ(text.rfind(L"DllCache(1) Restored, 2 Failed\r\n\r\n" +
                             services.errorReason(ERROR_SHARING_VIOLATION) +
                             L" (1): src-locked.dll",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find(L"dst-locked.dll"), std::wstring::npos) << text;
}

// A read-only source is restored into a cache file the next restore can
// replace; a read-only hidden leftover is removed; one held open is
// skipped for another slot.
TEST_F(RealRestore, ReadOnlyFilesNeverBlockALaterRestore) {
    const std::wstring leftover = cacheDir + L"\\" + cache::restoreTempName(0);
    writeFile(leftover, "left", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    writeFile(sys + L"\\cd.dll", "from a CD", FILE_ATTRIBUTE_READONLY);
    list("cd.dll\r\n");
    run();
    EXPECT_EQ(cached(L"cd.dll"), "from a CD");
    EXPECT_EQ(::GetFileAttributesW((cacheDir + L"\\cd.dll").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(cached(cache::restoreTempName(0)), "<missing>");
    run();
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");

    writeFile(leftover, "held");
    {
        Lock held(leftover);
        writeFile(cacheDir + L"\\cd.dll", "old");
        run();
    }
    EXPECT_EQ(cached(L"cd.dll"), "from a CD");
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");
    EXPECT_EQ(cached(cache::restoreTempName(0)), "held");
    ::DeleteFileW(leftover.c_str());

    // A read-only cache file, refused as Windows refuses a move over it
    // (Wine lets root through), is replaced all the same.
    struct RefusesReadOnly : testing_win::MovedSystem {
        platform::ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) override {
            if (attributes(to).readOnly) return ERROR_ACCESS_DENIED;
            return MovedSystem::replaceFile(from, to);
        }
    } windows;
    windows.root = temp.path();
    writeFile(cacheDir + L"\\cd.dll", "old", FILE_ATTRIBUTE_READONLY);
    cache::DirList dir{windows};
    cache::runRestore(windows, window, dir);
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");
    EXPECT_EQ(cached(L"cd.dll"), "from a CD");
    EXPECT_EQ(::GetFileAttributesW((cacheDir + L"\\cd.dll").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
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

// The batch path on real files, its volume flush answered as an
// administrator's on XP. Another program holds each new temporary copy for
// a moment when it is first moved (a virus scanner) and five cache files
// for two seconds (a backup agent): every file still gets its own content
// and no temporary file is left. The holds are let go between the waits.
struct HeldByOthers : testing_win::BatchPathSystem {
    struct Hold {
        HANDLE h;
        DWORD until;
    };
    std::vector<Hold> holds;
    std::set<std::wstring> scanned;
    void hold(const std::wstring& path, DWORD ms) {
        const HANDLE h =
            ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) holds.push_back({h, ::GetTickCount() + ms});
    }
    void letGo(bool all) {
        for (auto it = holds.begin(); it != holds.end();) {
            if (all || static_cast<LONG>(::GetTickCount() - it->until) >= 0) {
                ::CloseHandle(it->h);
                it = holds.erase(it);
            } else {
                ++it;
            }
        }
    }
    ~HeldByOthers() override { letGo(true); }
    platform::ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) override {
        if (from.find(L"kestrum-restore") != std::wstring::npos && scanned.insert(to).second)
            hold(from, 300);
        return BatchPathSystem::replaceFile(from, to);
    }
    bool pause(std::uint32_t ms) override {
        letGo(false);
        return BatchPathSystem::pause(ms);
    }
};

TEST_F(RealRestore, FilesHeldForAMomentAreWaitedForOnTheBatchPath) {
    HeldByOthers others;
    others.root = temp.path();
    std::string names;
    for (int i = 0; i < 40; ++i) {
        const std::wstring n = L"h" + std::to_wstring(i) + L".dll";
        writeFile(sys + L"\\" + n, "new " + std::to_string(i));
        writeFile(cacheDir + L"\\" + n, "old");
        names += "h" + std::to_string(i) + ".dll\r\n";
        if (i < 5) others.hold(cacheDir + L"\\" + n, 2000);
    }
    list(names);
    cache::DirList dir{others};
    cache::runRestore(others, window, dir);
    EXPECT_EQ(window.boxes.back().text, L"DllCache(40) Restored Successfully");
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(cached(L"h" + std::to_wstring(i) + L".dll"), "new " + std::to_string(i)) << i;
    EXPECT_EQ(others.volumeFlushes, 3) << "32 and 8 copies, then the 5 held ones again";
    std::vector<platform::FolderEntry> entries;
    ASSERT_EQ(others.listFolder(cacheDir, false, entries), 0u);
    EXPECT_EQ(entries.size(), 40u) << "no temporary file, no lock left";
}

// The guard, every way it can answer: free; held by another program's
// command; left by one killed (below) or by a crash; refused for another
// reason, which is never taken as free. Objects any user can make under
// the old guard's name stop nothing.
TEST_F(RealRestore, TheGuardAnswersEveryWayItCan) {
    writeFile(sys + L"\\a.dll", "A");
    list("a.dll\r\n");
    const std::wstring lock = cacheDir + L"\\kestrum.lock";
    {
        std::unique_ptr<platform::Held> other;
        ASSERT_EQ(services.lockFile(lock, other), 0u);
        run();
        EXPECT_EQ(window.boxes.back().text,
                  L"另一个Kestrum正在备份或还原系统文件缓存,请稍后再试。");
        EXPECT_EQ(cached(L"a.dll"), "<missing>");
    }
    EXPECT_EQ(::GetFileAttributesW(lock.c_str()), INVALID_FILE_ATTRIBUTES) << "removed when let go";

    ::CreateDirectoryW(lock.c_str(), nullptr); // nobody's lock, and no file
    run();
    EXPECT_NE(window.boxes.back().text.find(L"无法使用dllcache文件夹"), std::wstring::npos)
        << window.boxes.back().text;
    EXPECT_EQ(cached(L"a.dll"), "<missing>");
    ::RemoveDirectoryW(lock.c_str());

    writeFile(lock, "left by a crash");
    const platform::KernelHandle mutex(
        ::CreateMutexW(nullptr, TRUE, L"Global\\Kestrum.DllCacheCommand"));
    run();
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");
    EXPECT_EQ(cached(L"a.dll"), "A");
    EXPECT_EQ(::GetFileAttributesW(lock.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A restore killed in the middle of a copy (task manager, a crash, the end
// of the session): every cache file is its old or its new content, never a
// cut-short one; a backup does not list the leftover temporary file, and
// the next restore removes it.
std::uint64_t sizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return ~0ull;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

constexpr std::uint64_t bigSize = 256ull << 20;
constexpr wchar_t childRoot[] = L"KESTRUM_KILLED_COPY_ROOT";

struct KilledCopy : RealRestore {
    void SetUp() override {
        RealRestore::SetUp();
        // A large file, quick to make: the system fills it with zeros.
        HANDLE h = ::CreateFileW((sys + L"\\big.dll").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(bigSize);
        ::SetFilePointerEx(h, end, nullptr, FILE_BEGIN);
        ::SetEndOfFile(h);
        ::CloseHandle(h);
        writeFile(cacheDir + L"\\big.dll", "old");
        list("big.dll\r\n");
    }
};

// Run only as the child of the tests below: another program's restore, on
// the batch path.
TEST(KilledCopyChild, DISABLED_Restore) {
    wchar_t root[MAX_PATH] = {};
    ASSERT_NE(::GetEnvironmentVariableW(childRoot, root, MAX_PATH), 0u);
    testing_win::BatchPathSystem services;
    services.root = root;
    fake::Window window;
    cache::DirList Dir1{services};
    cache::runRestore(services, window, Dir1);
}

// Another program restoring into `root`.
PROCESS_INFORMATION startChild(const std::wstring& root) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=KilledCopyChild.*";
    ::SetEnvironmentVariableW(childRoot, root.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        pi.hProcess = nullptr;
    ::SetEnvironmentVariableW(childRoot, nullptr);
    return pi;
}

// Two programs restoring at once: one of them waits, and every cache file
// ends with its own source's bytes.
TEST_F(RealRestore, TwoProgramsRestoringAtOnceNeverMixUpFiles) {
    std::string names;
    for (int i = 0; i < 64; ++i) {
        writeFile(sys + L"\\m" + std::to_wstring(i) + L".dll", "bytes of m" + std::to_string(i));
        names += "m" + std::to_string(i) + ".dll\r\n";
    }
    list(names);
    const PROCESS_INFORMATION pi = startChild(temp.path());
    ASSERT_NE(pi.hProcess, nullptr);
    run();
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(cached(L"m" + std::to_wstring(i) + L".dll"), "bytes of m" + std::to_string(i));
    std::vector<platform::FolderEntry> entries;
    ASSERT_EQ(services.listFolder(cacheDir, false, entries), 0u);
    EXPECT_EQ(entries.size(), 64u);
}

TEST_F(KilledCopy, LeavesEveryCacheFileWholeAndTheNextRunClearsUp) {
    const std::wstring temp = cacheDir + L"\\" + cache::restoreTempName(0);
    const PROCESS_INFORMATION pi = startChild(this->temp.path());
    ASSERT_NE(pi.hProcess, nullptr);
    // Killed as soon as its copy has begun, wherever it writes; just
    // before, a second program's restore must change nothing, not even the
    // child's temporary copy, though a limited user's event has the name of
    // an older guard.
    const platform::KernelHandle foreign(
        ::CreateEventW(nullptr, TRUE, FALSE, L"Global\\Kestrum.DllCacheCommand"));
    bool killed = false;
    while (!killed && ::WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
        if (sizeOf(temp) != ~0ull || sizeOf(cacheDir + L"\\big.dll") != 3) {
            run();
            killed = ::TerminateProcess(pi.hProcess, 1) != FALSE;
        }
    }
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    ASSERT_TRUE(killed) << "the child finished before its copy could be interrupted";
    EXPECT_EQ(window.boxes.back().text, L"另一个Kestrum正在备份或还原系统文件缓存,请稍后再试。");
    const std::uint64_t cachedSize = sizeOf(cacheDir + L"\\big.dll");
    EXPECT_TRUE(cachedSize == 3 || cachedSize == bigSize) << cachedSize << " bytes";

    cache::FileList File1{services};
    window.answers.clear();
    cache::runBackup(services, window, File1);
    EXPECT_EQ(window.boxes.back().text, L"finished!");
    EXPECT_EQ(readFile(this->temp / L"tools\\filelist.kdl"), "big.dll\r\n");

    run();
    EXPECT_EQ(sizeOf(cacheDir + L"\\big.dll"), bigSize);
    EXPECT_EQ(sizeOf(temp), ~0ull);
    EXPECT_EQ(window.boxes.back().text, L"DllCache(1) Restored Successfully");
}

} // namespace
