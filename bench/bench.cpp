// Kestrum's commands side by side with the bare platform calls doing the
// same work on the same data, in one run. Prints medians and ratios; the
// data sets come from make_data.py (see README.md here).
#include "app/frmdll.h"
#include "cache/backup.h"
#include "cache/restore.h"
#include "platform/win32_services.h"
#include "tests/win/moved_system.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::wstring dataRoot = L"C:\\kbench";

// The services with the system folders moved under one data set's root.
testing_win::MovedSystem movedTo(const std::wstring& root) {
    testing_win::MovedSystem services;
    services.root = root;
    return services;
}

// The commands with nothing ever flushed: a volume flush that answers
// success and does nothing, so no copy is flushed through its handle.
using Unflushed = testing_win::BatchPathSystem;

// The flushes run where they are asked for, on the window's thread.
class FlushedInline : public testing_win::MovedSystem {
  public:
    void aside(const std::function<void()>& work) override { work(); }
};

// Answers every question with OK and shows nothing.
class Headless : public cache::WindowPort {
  public:
    std::wstring lastBox;
    cache::Answer messageBox(const std::wstring& text, const std::wstring&, cache::Buttons,
                             cache::Icon) override {
        lastBox = text;
        return cache::Answer::Ok;
    }
    void setBackupEnabled(bool) override {}
    void setRestoreEnabled(bool) override {}
    void beginChanges(const std::wstring&, std::unique_ptr<platform::Held>) override {}
    void endChanges() override {}
    void setCountEnabled(bool) override {}
    void setCountText(const std::wstring&) override {}
    void keepAlive() override {}
    bool sessionEnding() const override { return false; }
    void showProgress(const std::wstring&) override {}
    void setBusyCursor(bool) override {}
};

// The real window, its message boxes answered with OK.
class BenchWindow : public app::Frmdll {
  public:
    using Frmdll::Frmdll;
    std::wstring lastBox;
    cache::Answer messageBox(const std::wstring& text, const std::wstring&, cache::Buttons,
                             cache::Icon) override {
        lastBox = text;
        return cache::Answer::Ok;
    }
};

double seconds(const std::function<void()>& work) {
    LARGE_INTEGER f, a, b;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&a);
    work();
    ::QueryPerformanceCounter(&b);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Runs the two alternately, so drift on the machine touches both alike.
void compare(const char* name, int runs, const std::function<void()>& kestrum,
             const std::function<void()>& baseline, double target) {
    std::vector<double> k, b;
    kestrum(); // warm the caches for both
    baseline();
    for (int i = 0; i < runs; ++i) {
        k.push_back(seconds(kestrum));
        b.push_back(seconds(baseline));
    }
    const double ratio = median(k) / median(b);
    std::printf("%-34s kestrum %9.1f ms  baseline %9.1f ms  ratio %.2f", name, median(k) * 1000,
                median(b) * 1000, ratio);
    if (target > 0)
        std::printf("  (target <= %.2f)\n", target);
    else
        std::printf("  (for information)\n");
}

// Baseline backup: the enumeration (basic-info and large-fetch, or the plain
// FindFirstFileW of older systems), one buffered write.
void bareBackup(const std::wstring& folder, const std::wstring& out, bool fast) {
    WIN32_FIND_DATAW data;
    const std::wstring pattern = folder + L"\\*";
    HANDLE find =
        fast ? ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                  nullptr, FIND_FIRST_EX_LARGE_FETCH)
             : ::FindFirstFileW(pattern.c_str(), &data);
    std::string bytes;
    char name[MAX_PATH * 2];
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            const int n = ::WideCharToMultiByte(CP_ACP, 0, data.cFileName, -1, name, sizeof(name),
                                                nullptr, nullptr);
            if (n > 1) bytes.append(name, static_cast<std::size_t>(n - 1)).append("\r\n");
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    HANDLE h = ::CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
}

std::vector<std::wstring> readLines(const std::wstring& path) {
    std::vector<std::wstring> lines;
    std::ifstream in(path.c_str());
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.emplace_back(line.begin(), line.end());
    return lines;
}

std::wstring leafOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Child mode: one headless restore, then the process's peak working set
// in kilobytes (unsigned long is 32 bits on 64-bit Windows too).
int memoryChild(const std::wstring& root) {
    testing_win::MovedSystem services = movedTo(root);
    Headless window;
    cache::DirList Dir1(services);
    cache::runRestore(services, window, Dir1);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("%lu\n", static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024));
    return 0;
}

double peakOfChild(const std::wstring& root) {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --memory-child \"" + root + L"\"";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    ::CreatePipe(&read, &write, &sa, 0);
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                          &pi))
        return -1;
    ::CloseHandle(write);
    std::string out;
    char buffer[256];
    DWORD got = 0;
    while (::ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        out.append(buffer, got);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(read);
    return std::atof(out.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--memory-child") return memoryChild(argv[2]);
    const bool smoke = argc > 1 && std::wstring(argv[1]) == L"--smoke";
    // KESTRUM_BENCH_RUNS: fewer runs for a quicker comparison (medians of 5 otherwise).
    wchar_t runsText[8] = {};
    ::GetEnvironmentVariableW(L"KESTRUM_BENCH_RUNS", runsText, 8);
    const int runs = smoke ? 1 : runsText[0] != 0 ? std::max(1, _wtoi(runsText)) : 5;

    unsigned backupFiles = 0, restoreEntries = 0, treeFolders = 0, fewNames = 0, manyNames = 0,
             fewLines = 0, manyLines = 0, failures = 0;
    if (std::FILE* f = _wfopen((dataRoot + L"\\layout.txt").c_str(), L"r")) {
        std::fscanf(f, "%u %u %u %u %u %u %u %u", &backupFiles, &restoreEntries, &treeFolders,
                    &fewNames, &manyNames, &fewLines, &manyLines, &failures);
        std::fclose(f);
    }
    if (backupFiles == 0) {
        std::fprintf(stderr, "no data sets: run make_data.py first\n");
        return 2;
    }
    std::printf("Kestrum benchmarks%s: medians of %d runs\n", smoke ? " (smoke)" : "", runs);
    int failed = 0;
    int checks = 0;
    auto expect = [&](bool ok, const char* what) {
        ++checks;
        if (!ok) {
            std::printf("FAILED: %s\n", what);
            ++failed;
        }
    };

    // KESTRUM_BENCH_ONLY=restore or backup: that command's figures alone.
    wchar_t only[16] = {};
    ::GetEnvironmentVariableW(L"KESTRUM_BENCH_ONLY", only, 16);
    const bool restoreOnly = std::wstring(only) == L"restore";
    const bool backupOnly = std::wstring(only) == L"backup";

    // Once with the listing of Windows 7 and later, once with the one of
    // Windows 2000 to Vista.
    for (const bool fast : {true, false}) {
        if (restoreOnly) break;
        const std::wstring root = dataRoot + L"\\backup";
        testing_win::MovedSystem services = movedTo(root);
        services.useListing(fast ? platform::Listing::Fast : platform::Listing::Compatible);
        Headless window;
        cache::FileList File1(services);
        char name[80];
        std::snprintf(name, sizeof(name), "backup of %u files%s", backupFiles,
                      fast ? "" : ", compatible");
        compare(
            name, runs, [&] { cache::runBackup(services, window, File1); },
            [&] {
                bareBackup(root + L"\\WINDOWS\\system32\\dllcache", root + L"\\tools\\bare.kdl",
                           fast);
            },
            1.15);
        expect(window.lastBox == L"finished!", "backup finished");
        expect(File1.count() == backupFiles, "backup listed every file");
    }
    if (backupOnly) {
        std::printf("%d passed, %d failed\n", checks - failed, failed);
        return failed == 0 ? 0 : 1;
    }

    {
        const std::wstring root = dataRoot + L"\\restore";
        const std::wstring cacheDir = root + L"\\WINDOWS\\system32\\dllcache\\";
        const std::vector<std::wstring> sources = readLines(root + L"\\sources.txt");
        testing_win::MovedSystem services = movedTo(root);
        Headless window;
        cache::DirList Dir1(services);
        // The same work bare: each file copied to a temporary name, its
        // data flushed to the disk and moved over the real one, so that no
        // cache file is ever left cut short, even by a power cut.
        const std::wstring temp = cacheDir + L"bench-restore.tmp";
        auto safeCopies = [&](bool flush) {
            for (const std::wstring& s : sources) {
                ::CopyFileW(s.c_str(), temp.c_str(), FALSE);
                if (flush) {
                    HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
                    ::FlushFileBuffers(h);
                    ::CloseHandle(h);
                }
                ::MoveFileExW(temp.c_str(), (cacheDir + leafOf(s)).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            }
        };
        auto bare = [&] { safeCopies(true); };
        std::unique_ptr<platform::Volume> opened;
        platform::ErrorCode volume = services.openVolume(cacheDir, opened);
        if (volume == 0) volume = opened->flush();
        opened.reset();
        std::printf("flushing the whole volume: %s (error %lu)\n",
                    volume == 0 ? "works, copies are flushed in batches"
                                : "refused, each copy is flushed through its handle",
                    static_cast<unsigned long>(volume));
        // The restore as it ships against the same restore with no flush
        // at all: what putting the data on the disk costs.
        Unflushed unflushed;
        unflushed.root = root;
        cache::DirList unflushedDir(unflushed);
        char name[80];
        std::snprintf(name, sizeof(name), "flushing in a restore of %u", restoreEntries);
        compare(
            name, runs, [&] { cache::runRestore(services, window, Dir1); },
            [&] { cache::runRestore(unflushed, window, unflushedDir); }, 1.15);
        // What a flush of each copy adds to the bare work, and a plain copy
        // loop that may leave a cut-short file.
        compare("flushing each copy (bare)", runs, bare, [&] { safeCopies(false); }, 0);
        auto plainCopies = [&] {
            for (const std::wstring& s : sources)
                ::CopyFileW(s.c_str(), (cacheDir + leafOf(s)).c_str(), FALSE);
        };
        // The batch path, its volume flush answered as an administrator's:
        // against the bare platform moving the same batches of copies that
        // wait, open, under temporary names (the one volume flush a batch,
        // which both would make, is no work here).
        auto bareBatches = [&] {
            constexpr std::size_t slots = 32;
            std::vector<HANDLE> open;
            for (std::size_t first = 0; first < sources.size(); first += slots) {
                const std::size_t end = std::min(sources.size(), first + slots);
                for (std::size_t i = first; i < end; ++i) {
                    const std::wstring t = cacheDir + L"bench-" + std::to_wstring(i - first);
                    // As CopyFile copies: the source's attributes and
                    // last-write date go with the data.
                    HANDLE in = ::CreateFileW(sources[i].c_str(), GENERIC_READ, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
                    BY_HANDLE_FILE_INFORMATION info = {};
                    ::GetFileInformationByHandle(in, &info);
                    HANDLE out = ::CreateFileW(
                        t.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}, nullptr);
                    char buffer[1 << 16];
                    DWORD got = 0, put = 0;
                    while (::ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got > 0)
                        ::WriteFile(out, buffer, got, &put, nullptr);
                    ::SetFileTime(out, nullptr, nullptr, &info.ftLastWriteTime);
                    ::CloseHandle(in);
                    open.push_back(out);
                }
                for (std::size_t i = first; i < end; ++i) {
                    ::CloseHandle(open[i - first]);
                    ::MoveFileExW((cacheDir + L"bench-" + std::to_wstring(i - first)).c_str(),
                                  (cacheDir + leafOf(sources[i])).c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
                }
                open.clear();
            }
        };
        compare(
            "batch path (volume flush answered)", runs,
            [&] { cache::runRestore(unflushed, window, unflushedDir); }, bareBatches, 1.15);
        // The flushes on a second thread, against the same on the window's.
        FlushedInline inline_;
        inline_.root = root;
        cache::DirList inlineDir(inline_);
        compare(
            "flushes on a second thread", runs, [&] { cache::runRestore(services, window, Dir1); },
            [&] { cache::runRestore(inline_, window, inlineDir); }, 0);
        std::snprintf(name, sizeof(name), "restore of %u entries, headless", restoreEntries);
        compare(
            name, runs, [&] { cache::runRestore(services, window, Dir1); }, bare, 1.15);
        compare(
            "restore against a plain copy loop", runs,
            [&] { cache::runRestore(services, window, Dir1); }, plainCopies, 0);
        const std::wstring expected =
            L"DllCache(" + std::to_wstring(sources.size()) + L") Restored Successfully";
        expect(window.lastBox == expected, "headless restore restored every source");

        BenchWindow frmdll(services);
        frmdll.create(::GetModuleHandleW(nullptr));
        frmdll.show(SW_SHOWNOACTIVATE);
        std::snprintf(name, sizeof(name), "restore of %u entries, window", restoreEntries);
        compare(
            name, runs, [&] { frmdll.cmdRestore_Click(); }, bare, 1.30);
        expect(frmdll.lastBox == expected, "windowed restore restored every source");
    }

    if (!restoreOnly) {
        // The same tree, four times the names. With an index built once,
        // each further name costs a few file calls; were the tree walked
        // per name, each further name would cost a whole walk.
        double total[2] = {};
        const unsigned counts[2] = {fewNames, manyNames};
        for (int i = 0; i < 2; ++i) {
            testing_win::MovedSystem services =
                movedTo(dataRoot + L"\\lookup" + std::to_wstring(counts[i]));
            Headless window;
            cache::DirList Dir1(services);
            std::vector<double> t;
            for (int r = 0; r < runs; ++r)
                t.push_back(seconds([&] { cache::runRestore(services, window, Dir1); }));
            total[i] = median(t);
            std::printf("lookup of %5u missing names over %u program-files folders: %8.1f ms\n",
                        counts[i], treeFolders, total[i] * 1000);
        }
        const double perName = (total[1] - total[0]) / (manyNames - fewNames);
        const double walk = total[0] - fewNames * perName;
        std::printf("lookup: each further name %.3f ms, the one walk of the tree %.1f ms, "
                    "ratio %.4f (a walk per name would make it near 1)\n",
                    perName * 1000, walk * 1000, walk > 0 ? perName / walk : 0.0);
    }

    if (!restoreOnly) {
        const double few = peakOfChild(dataRoot + L"\\memory" + std::to_wstring(fewLines));
        const double many = peakOfChild(dataRoot + L"\\memory" + std::to_wstring(manyLines));
        const double failing = peakOfChild(dataRoot + L"\\memoryfail");
        std::printf("peak working set: %u lines %.1f MB, %u lines %.1f MB, difference %.2f MB "
                    "(target <= 2 MB)\n",
                    fewLines, few / 1024, manyLines, many / 1024, (many - few) / 1024);
        std::printf("peak working set: %u failed copies %.1f MB, difference to %u lines %.2f MB "
                    "(target <= 2 MB)\n",
                    failures, failing / 1024, fewLines, (failing - few) / 1024);
        expect(few > 0 && many > 0 && failing > 0, "memory children ran");
    }

    std::printf("%d passed, %d failed\n", checks - failed, failed);
    return failed == 0 ? 0 : 1;
}
