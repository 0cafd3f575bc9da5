// Backup and restore at a scale no 16-bit counter survives. The large
// folder is made from the Linux side before this runs (Wine creates files
// in a big folder very slowly): see seed_scale.py.
#include "../native/fakes.h"
#include "cache/backup.h"
#include "cache/restore.h"
#include "moved_system.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t seededFiles = 100000;

TEST(Scale, BackupListsAHundredThousandFiles) {
    testing_win::MovedSystem services;
    services.root = L"C:\\kestrum-scale";
    const std::wstring cacheDir = services.root + L"\\WINDOWS\\system32\\dllcache";
    ASSERT_NE(::GetFileAttributesW(cacheDir.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the scale folder was not seeded";
    fake::Window window;
    cache::FileList File1(services);
    cache::runBackup(services, window, File1);
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].text, L"finished!");
    const std::string list = testing_win::readFile(services.root + L"\\tools\\filelist.kdl");
    std::size_t lines = 0;
    for (std::size_t at = list.find("\r\n"); at != std::string::npos;
         at = list.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, seededFiles);
    EXPECT_NE(list.find("f099999.dll\r\n"), std::string::npos);

    // Both ways of listing agree on a folder this large.
    std::vector<platform::FolderEntry> fast, compatible;
    ASSERT_EQ(platform::listFolderWith(platform::Listing::Fast, cacheDir, false, fast, {}), 0u);
    ASSERT_EQ(
        platform::listFolderWith(platform::Listing::Compatible, cacheDir, false, compatible, {}),
        0u);
    ASSERT_EQ(fast.size(), seededFiles);
    ASSERT_EQ(compatible.size(), seededFiles);
    for (std::size_t i = 0; i < seededFiles; ++i)
        ASSERT_EQ(fast[i].name, compatible[i].name) << i;
}

TEST(Scale, RestoreCountsFortyThousandEntries) {
    testing_win::TempDir temp;
    testing_win::MovedSystem services;
    services.root = temp.path();
    for (const wchar_t* d : {L"\\WINDOWS", L"\\WINDOWS\\system32", L"\\tools"})
        ::CreateDirectoryW((temp.path() + d).c_str(), nullptr);
    testing_win::writeFile(temp.path() + L"\\WINDOWS\\system32\\src.dll", "x");
    std::string list;
    for (int i = 0; i < 40000; ++i)
        list += "src.dll\r\n";
    testing_win::writeFile(temp.path() + L"\\tools\\filelist.kdl", list);
    fake::Window window;
    cache::DirList Dir1(services);
    cache::runRestore(services, window, Dir1);
    EXPECT_EQ(window.boxes.back().text, L"DllCache(40000) Restored Successfully");
    EXPECT_EQ(window.countText, L"已还原40000个文件.文件还原成功.");
}

} // namespace
