#include "cache/backup.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

const std::wstring cacheDir = L"C:\\WINDOWS\\system32\\dllcache";
const std::wstring listPath = L"D:\\tools\\filelist.kdl";

struct Backup : ::testing::Test {
    fake::Services services;
    fake::Window window;
    cache::FileList File1{services};

    void SetUp() override { services.addDir(cacheDir); }
    void addCached(const std::wstring& name) { services.addFile(cacheDir + L"\\" + name, "x"); }
    void run() { cache::runBackup(services, window, File1); }

    // No temporary file is left behind in the program folder.
    void expectNoLeftovers() {
        for (const std::wstring& n : services.fileNames(L"D:\\tools"))
            EXPECT_EQ(n, L"filelist.kdl");
    }
};

TEST_F(Backup, AsksFirstAndCancelChangesNothing) {
    addCached(L"a.dll");
    services.addFile(listPath, "old.dll\r\n");
    window.answers = {cache::Answer::Cancel};
    run();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, L"您确定要重新备份一次吗?");
    EXPECT_EQ(window.boxes[0].title, L"选择");
    EXPECT_EQ(window.boxes[0].buttons, cache::Buttons::OkCancel);
    EXPECT_EQ(window.boxes[0].icon, cache::Icon::Information);
    EXPECT_EQ(services.at(listPath).data, "old.dll\r\n");
    EXPECT_EQ(window.events, std::vector<std::wstring>{L"box:您确定要重新备份一次吗?"});
}

TEST_F(Backup, ListsEveryFileWhateverItsAttributesButNoFolders) {
    addCached(L"a.dll");
    services.addFile(cacheDir + L"\\hidden.sys", "").hidden = true;
    fake::Node& both = services.addFile(cacheDir + L"\\sys.dll", "");
    both.hidden = both.system = true;
    services.addFile(cacheDir + L"\\ro.exe", "").readOnly = true;
    addCached(L"NOEXT");
    // The program's own, a restore's temporary slots and the lock left by a
    // crash, are no cache files; names that merely look alike are.
    addCached(L"Kestrum-Restore.tmp");
    addCached(L"kestrum-restore-12.TMP");
    addCached(L"kestrum-restore-31.tmp");
    addCached(L"KESTRUM.LOCK");
    for (const wchar_t* alike :
         {L"kestrum-restore-.tmp", L"kestrum-restore-1a.tmp", L"kestrum-restore-0.tmp",
          L"kestrum-restore-007.tmp", L"kestrum-restore-32.tmp"})
        addCached(alike);
    services.addDir(cacheDir + L"\\sub");
    services.addFile(cacheDir + L"\\sub\\deep.dll");
    run();

    EXPECT_EQ(services.at(listPath).data,
              "a.dll\r\nhidden.sys\r\nkestrum-restore-.tmp\r\nkestrum-restore-0.tmp\r\n"
              "kestrum-restore-007.tmp\r\nkestrum-restore-1a.tmp\r\nkestrum-restore-32.tmp\r\n"
              "NOEXT\r\nro.exe\r\nsys.dll\r\n");
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].text, L"finished!");
    EXPECT_EQ(window.boxes[1].title, L"backup");
    EXPECT_EQ(window.boxes[1].buttons, cache::Buttons::Ok);
    EXPECT_EQ(window.boxes[1].icon, cache::Icon::Information);
    // The button is disabled while the command works, enabled after the report.
    EXPECT_EQ(window.events, (std::vector<std::wstring>{L"box:您确定要重新备份一次吗?", L"bak:off",
                                                        L"box:finished!", L"bak:on"}));
    expectNoLeftovers();
}

TEST_F(Backup, EmptyCacheFolderIsReportedAndTheOldListKept) {
    services.addDir(cacheDir + L"\\only-a-folder");
    // An interrupted restore's temporary copy is no cache file.
    addCached(L"KESTRUM-RESTORE.TMP");
    services.addFile(listPath, "old.dll\r\n");
    run();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].text, L"没有可备份的数据,请检查dllcache是否为空");
    EXPECT_EQ(window.boxes[1].title, L""); // the program's name is shown
    EXPECT_EQ(window.boxes[1].icon, cache::Icon::Information);
    EXPECT_EQ(services.at(listPath).data, "old.dll\r\n");
    EXPECT_TRUE(window.backupEnabled);
}

TEST_F(Backup, RunningTwiceLeavesOnlyTheSecondListing) {
    addCached(L"a.dll");
    run();
    services.nodes.erase(cacheDir + L"\\a.dll");
    addCached(L"b.dll");
    run();
    EXPECT_EQ(services.at(listPath).data, "b.dll\r\n");
}

TEST_F(Backup, HiddenOldListIsReplacedByAPlainOne) {
    addCached(L"a.dll");
    services.addFile(listPath, "old.dll\r\n").hidden = true;
    run();
    EXPECT_EQ(services.at(listPath).data, "a.dll\r\n");
    EXPECT_FALSE(services.at(listPath).hidden);
}

TEST_F(Backup, MoreNamesThanASixteenBitCounterHolds) {
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        const std::wstring name = L"f" + std::to_wstring(100000 + i) + L".dll";
        addCached(name);
        expected += "f" + std::to_string(100000 + i) + ".dll\r\n";
    }
    run();
    EXPECT_EQ(services.at(listPath).data, expected);
}

TEST_F(Backup, NamesOutsideTheCodePageAreCountedInTheReport) {
    addCached(L"a.dll");
    addCached(L"\u00E9t\u00E9.dll");
    addCached(L"\u0416.dll");
    run();
    EXPECT_EQ(services.at(listPath).data, "a.dll\r\n");
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].title, L"backup");
    EXPECT_EQ(window.boxes[1].text.rfind(L"finished!", 0), 0u);
    // Counted, then named as the system shows them.
    EXPECT_NE(window.boxes[1].text.find(L"有2个文件名无法用系统代码页保存,未写入列表。\r\n"
                                        L"\u00E9t\u00E9.dll, \u0416.dll"),
              std::wstring::npos);
    EXPECT_EQ(window.boxes[1].icon, cache::Icon::Exclamation);
}

// Each failure: an exclamation box that names the place and the system's
// reason, the button enabled again, the old list exactly as it was.
struct BackupFailure : Backup {
    void SetUp() override {
        Backup::SetUp();
        addCached(L"a.dll");
        services.addFile(listPath, "old.dll\r\n").hidden = true;
    }
    void expectReported(const std::wstring& place, platform::ErrorCode error) {
        ASSERT_EQ(window.boxes.size(), 2u);
        const fake::Box& box = window.boxes[1];
        EXPECT_EQ(box.icon, cache::Icon::Exclamation);
        EXPECT_NE(box.text.find(place), std::wstring::npos) << "names " << place;
        EXPECT_NE(box.text.find(L"<reason " + std::to_wstring(error) + L">"), std::wstring::npos);
        EXPECT_TRUE(window.backupEnabled);
        EXPECT_EQ(window.events.back(), L"bak:on");
        EXPECT_EQ(services.at(listPath).data, "old.dll\r\n");
        EXPECT_TRUE(services.at(listPath).hidden);
        expectNoLeftovers();
    }
};

TEST_F(BackupFailure, CacheFolderMissing) {
    services.nodes.erase(cacheDir + L"\\a.dll");
    services.nodes.erase(cacheDir);
    run();
    expectReported(cacheDir, fake::pathNotFound);
}

TEST_F(BackupFailure, CacheFolderUnreadable) {
    services.failList[cacheDir] = fake::accessDenied;
    run();
    expectReported(cacheDir, fake::accessDenied);
}

TEST_F(BackupFailure, ProgramFolderNotWritable) {
    services.failWrite[listPath + L".new"] = fake::accessDenied;
    run();
    expectReported(L"D:\\tools\\", fake::accessDenied);
}

TEST_F(BackupFailure, DiskFullWhileWriting) {
    services.failWrite[listPath + L".new"] = fake::diskFull;
    run();
    expectReported(L"D:\\tools\\", fake::diskFull);
}

TEST_F(BackupFailure, ListFileCannotBeReplaced) {
    services.nodes[listPath].readOnly = true;
    run();
    expectReported(listPath, fake::accessDenied);
}

// Logoff while the folder is listed: the listing gives up, nothing is
// written, nothing shown.
TEST_F(BackupFailure, SessionEndingKeepsTheOldListAndShowsNothing) {
    services.beforeBeat = [this](const std::wstring& path) {
        if (path == cacheDir) window.ending = true;
    };
    run();
    EXPECT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(services.at(listPath).data, "old.dll\r\n");
    EXPECT_TRUE(window.backupEnabled);
    expectNoLeftovers();
}

// The guard is a lock file in the cache folder: held by another program's
// command, this one says so; a failure to take it for another reason than
// the right or room to write there is refused with its reason, never taken
// as free. Neither changes anything, and the lock is never listed. A cache
// the backup may only read, or that has no room, is listed without it.
TEST_F(BackupFailure, AnotherProgramsCommandChangesNothing) {
    services.locked.insert(cacheDir + L"\\kestrum.lock"); // another program's
    run();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(window.boxes[1].text, L"另一个Kestrum正在备份或还原系统文件缓存,请稍后再试。");
    EXPECT_EQ(window.boxes[1].icon, cache::Icon::Exclamation);
    EXPECT_EQ(services.at(listPath).data, "old.dll\r\n");
    EXPECT_TRUE(window.backupEnabled);
    services.locked.clear();

    // A lock refused for another reason, or a folder it cannot hold: the
    // backup is refused and lists nothing.
    for (auto* fails : {&services.failLock, &services.failHold}) {
        (*fails)[fails == &services.failLock ? cacheDir + L"\\kestrum.lock" : cacheDir] = 1117;
        window.boxes.clear();
        run();
        expectReported(cacheDir, 1117);
        fails->clear();
    }
    services.failLock[cacheDir + L"\\kestrum.lock"] = fake::diskFull;
    for (int readOnly = 0; readOnly < 2; ++readOnly) {
        if (readOnly) services.readOnlyFolders.insert(cacheDir);
        services.nodes[listPath].data.clear();
        window.boxes.clear();
        run();
        EXPECT_EQ(window.boxes.back().text, L"finished!") << readOnly;
        EXPECT_EQ(services.at(listPath).data, "a.dll\r\n");
        services.failLock.clear();
    }
    services.readOnlyFolders.clear();

    window.boxes.clear();
    run();
    EXPECT_EQ(services.at(listPath).data, "a.dll\r\n");
    EXPECT_FALSE(services.has(cacheDir + L"\\kestrum.lock")) << "released";
}

TEST_F(BackupFailure, ALeftoverNewListThatCannotBeRemovedIsNamed) {
    services.addFile(listPath + L".new", "held").readOnly = true;
    services.failDelete[listPath + L".new"] = 32; // held by another program
    run();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_NE(window.boxes[1].text.find(listPath + L".new"), std::wstring::npos);
    EXPECT_NE(window.boxes[1].text.find(L"<reason 32>"), std::wstring::npos);
    EXPECT_EQ(services.at(listPath).data, "old.dll\r\n");
}

TEST_F(BackupFailure, SystemFolderUnknown) {
    services.systemDirError = 8;
    run();
    expectReported(L"", 8);
}

} // namespace
