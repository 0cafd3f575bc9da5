// The restore against the fakes: the fixture the restore's tests share.
#pragma once

#include "cache/cache_copies.h"
#include "cache/folders.h"
#include "cache/restore.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace restore_test {

inline const std::wstring sys = L"C:\\WINDOWS\\system32\\";
inline const std::wstring cacheDir = L"C:\\WINDOWS\\system32\\dllcache";
inline const std::wstring listPath = L"D:\\tools\\filelist.kdl";
inline const std::wstring pf = L"C:\\program files";

struct Restore : ::testing::Test {
    fake::Services services;
    fake::Window window;
    cache::DirList Dir1{services};

    void SetUp() override {
        services.addDir(cacheDir);
        services.addDir(L"C:\\WINDOWS\\system");
        services.addDir(sys + L"drivers");
        services.addDir(pf);
    }
    // Whatever else a case checks: no move gives a real name data that is
    // not yet on the disk.
    void TearDown() override { EXPECT_EQ(services.unflushedMoves, std::vector<std::wstring>()); }
    void list(const std::string& bytes) { services.addFile(listPath, bytes); }
    void run() { cache::runRestore(services, window, Dir1); }
    // Temporary copies in the cache folder, whatever their slot.
    std::vector<std::wstring> temps() {
        std::vector<std::wstring> found;
        for (const std::wstring& n : services.fileNames(cacheDir))
            if (cache::isOwnFile(services, n)) found.push_back(n);
        return found;
    }
    std::wstring temp(std::size_t slot) { return cacheDir + L"\\" + cache::restoreTempName(slot); }
    std::string cached(const std::wstring& name) {
        const std::wstring path = cacheDir + L"\\" + name;
        return services.has(path) ? services.at(path).data : "<absent>";
    }
    const fake::Box& lastBox() { return window.boxes.back(); }
};

} // namespace restore_test
