// The restore's rules: where each name is copied from, the list, the counts
// and the boxes, and where the run stops.
#include "restore_fixture.h"

#include <gtest/gtest.h>

namespace {

using namespace restore_test;

TEST_F(Restore, WithoutAListItSaysSoAndAsksNothing) {
    run();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, L"对不起,您还没有做过备份!");
    EXPECT_EQ(window.boxes[0].title, L"注意");
    EXPECT_EQ(window.boxes[0].icon, cache::Icon::Exclamation);
    EXPECT_EQ(window.events.size(), 1u);
}

TEST_F(Restore, CancelAtTheQuestionChangesNothing) {
    list("a.dll\r\n");
    services.addFile(sys + L"a.dll", "new");
    window.answers = {cache::Answer::Cancel};
    run();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, L"Are you sure?");
    EXPECT_EQ(window.boxes[0].title, L"");
    EXPECT_EQ(window.boxes[0].buttons, cache::Buttons::OkCancel);
    EXPECT_EQ(window.boxes[0].icon, cache::Icon::Question);
    EXPECT_EQ(cached(L"a.dll"), "<absent>");
    EXPECT_EQ(window.events.size(), 1u);
    EXPECT_TRUE(services.copies.empty());
}

TEST_F(Restore, ThreeNamesOfWhichTwoExist) {
    list("a.dll\r\nmissing.dll\r\nb.sys\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"b.sys", "B");
    run();
    EXPECT_EQ(cached(L"a.dll"), "A");
    EXPECT_EQ(cached(L"b.sys"), "B");
    EXPECT_EQ(window.countText, L"已还原2个文件.文件还原成功.");
    EXPECT_EQ(lastBox().text, L"DllCache(2) Restored Successfully");
    EXPECT_EQ(lastBox().title, L"");
    EXPECT_EQ(lastBox().icon, cache::Icon::Information);
    // Only a file under its real name counts: these wait for their batch.
    EXPECT_EQ(window.progress, std::vector<std::wstring>(3, L"已还原0个文件..."));
    EXPECT_EQ(window.events,
              (std::vector<std::wstring>{L"box:Are you sure?", L"restore:off", L"count:on",
                                         L"cursor:wait", L"cursor:arrow",
                                         L"box:DllCache(2) Restored Successfully", L"restore:on"}));
}

TEST_F(Restore, CandidateOrderAndFirstHitWins) {
    list("both.dll\r\nwin.dll\r\nsys16.dll\r\ndrv.sys\r\npf.exe\r\n");
    services.addFile(sys + L"both.dll", "system");
    services.addFile(L"C:\\WINDOWS\\both.dll", "windows");
    services.addFile(L"C:\\WINDOWS\\win.dll", "windows");
    services.addFile(L"C:\\WINDOWS\\system\\win.dll", "16-bit");
    services.addFile(L"C:\\WINDOWS\\system\\sys16.dll", "16-bit");
    services.addFile(sys + L"drivers\\sys16.dll", "drivers");
    services.addFile(sys + L"drivers\\drv.sys", "drivers");
    services.addFile(pf + L"\\drv.sys", "program files");
    services.addFile(pf + L"\\pf.exe", "program files");
    run();
    EXPECT_EQ(cached(L"both.dll"), "system");
    EXPECT_EQ(cached(L"win.dll"), "windows");
    EXPECT_EQ(cached(L"sys16.dll"), "16-bit");
    // Lands in the cache folder itself, not in a drivers folder inside it.
    EXPECT_EQ(cached(L"drv.sys"), "drivers");
    EXPECT_FALSE(services.has(cacheDir + L"\\drivers"));
    EXPECT_EQ(cached(L"pf.exe"), "program files");
    EXPECT_EQ(window.countText, L"已还原5个文件.文件还原成功.");
    EXPECT_TRUE(Dir1.enabled());
}

TEST_F(Restore, ACandidateFolderOfTheNameIsNoFile) {
    list("x.dll\r\n");
    services.addDir(sys + L"x.dll");
    services.addFile(L"C:\\WINDOWS\\x.dll", "windows");
    run();
    EXPECT_EQ(cached(L"x.dll"), "windows");
}

TEST_F(Restore, HiddenAndSystemFilesCountInTheSystemFolders) {
    list("h.dll\r\n");
    fake::Node& n = services.addFile(sys + L"h.dll", "hidden");
    n.hidden = n.system = true;
    run();
    EXPECT_EQ(cached(L"h.dll"), "hidden");
}

// A folder that turns up between the look and its creation is someone
// else's: the run refuses, with the reason, rather than use it unseen.
TEST_F(Restore, DeletedCacheFolderIsRecreatedAndFilled) {
    services.nodes.erase(cacheDir);
    list("a.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.failCreate[cacheDir] = fake::alreadyExists;
    run();
    EXPECT_EQ(lastBox().text, L"无法建立dllcache文件夹:\r\n" + cacheDir +
                                  L"\r\n\r\n<reason 183> (错误代码 183)");
    services.failCreate.clear();
    run();
    EXPECT_TRUE(services.isDir(cacheDir));
    EXPECT_EQ(cached(L"a.dll"), "A");
    EXPECT_EQ(lastBox().text, L"DllCache(1) Restored Successfully");
}

// The session may end at any step: the step's call gives up, and the run
// stops there without a box, copying nothing more.
TEST_F(Restore, AnEndingSessionStopsTheRunAtAnyStep) {
    const std::pair<std::wstring, std::size_t> steps[] = {
        {L"C:\\WINDOWS\\", 0}, {pf, 0}, {sys + L"a.dll", 1}}; // step, lines shown before it
    for (const auto& [step, linesBefore] : steps) {
        fake::Services services;
        fake::Window window;
        services.addDir(cacheDir);
        services.addDir(pf);
        // missing.dll is found nowhere: its lookup walks program files.
        services.addFile(listPath, "missing.dll\r\na.dll\r\nb.dll\r\n");
        services.addFile(sys + L"a.dll", "a");
        services.addFile(sys + L"b.dll", "b");
        services.beforeBeat = [&](const std::wstring& path) {
            if (fake::lower(path) == fake::lower(step)) window.ending = true;
        };
        cache::DirList dir{services};
        cache::runRestore(services, window, dir);
        EXPECT_EQ(window.boxes.size(), 1u) << "only the question; ending in " << step;
        EXPECT_TRUE(services.copies.empty()) << step;
        EXPECT_FALSE(services.has(cacheDir + L"\\" + cache::restoreTempName(0))) << step;
        for (const std::wstring& path : services.touched)
            EXPECT_NE(path, sys + L"b.dll") << "looked at after ending in " << step;
        EXPECT_EQ(window.progress.size(), linesBefore) << step;
        EXPECT_FALSE(window.busy);
        EXPECT_TRUE(window.restoreEnabled);
    }
}

// Logoff during a restore: it stops at the copy it is in, shows nothing
// more and gives the window back.
TEST_F(Restore, AnEndingSessionStopsTheRunAtOnce) {
    struct EndsAfterFirstCopy : fake::Services {
        fake::Window* window = nullptr;
        platform::ErrorCode copyFile(const std::wstring& from, platform::Folder& folder,
                                     const std::wstring& name,
                                     std::unique_ptr<platform::OpenCopy>& copy,
                                     platform::CopySide& side) override {
            const platform::ErrorCode e = fake::Services::copyFile(from, folder, name, copy, side);
            window->ending = true;
            return e;
        }
    } ending;
    ending.window = &window;
    ending.addDir(cacheDir);
    ending.addFile(listPath, "a.dll\r\nb.dll\r\n");
    ending.addFile(sys + L"a.dll", "a");
    ending.addFile(sys + L"b.dll", "b");
    cache::DirList dir{ending};
    cache::runRestore(ending, window, dir);
    // The copy made was never moved: dropped with its batch.
    EXPECT_EQ(ending.copies, std::vector<std::wstring>{sys + L"a.dll -> " + temp(0)});
    EXPECT_FALSE(ending.has(cacheDir + L"\\a.dll"));
    EXPECT_FALSE(ending.has(temp(0)));
    EXPECT_EQ(window.boxes.size(), 1u); // only the question
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.restoreEnabled);
}

TEST_F(Restore, AFileNamedDllcacheIsRefusedWithItsReason) {
    services.nodes.erase(cacheDir);
    services.addFile(cacheDir, "not a folder");
    list("a.dll\r\nb.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"b.dll", "B");
    run();
    EXPECT_EQ(services.at(cacheDir).data, "not a folder");
    EXPECT_EQ(lastBox().text,
              L"无法使用dllcache文件夹:\r\n" + cacheDir + L"\r\n\r\n<reason 267> (错误代码 267)");
    EXPECT_TRUE(services.copies.empty());
}

TEST_F(Restore, EntriesThatAreNotBareNamesTouchNothing) {
    services.addFile(L"C:\\x.dll", "outside");
    services.addFile(L"C:\\WINDOWS\\x.dll", "outside");
    services.addFile(sys + L"CON", "device");
    list("..\\..\\x.dll\r\nC:\\x.dll\r\n\\\\host\\share\\x.dll\r\na/b.dll\r\n..\r\nCON\r\n"
         "nul.txt\r\nLPT1.dll\r\nok.dll\r\n");
    services.addFile(sys + L"ok.dll", "ok");
    run();
    EXPECT_EQ(services.copies,
              std::vector<std::wstring>{sys + L"ok.dll -> " + cacheDir + L"\\ok.dll"});
    for (const std::wstring& path : services.touched) {
        EXPECT_EQ(path.find(L".."), std::wstring::npos) << path;
        EXPECT_EQ(path.find(L"host"), std::wstring::npos) << path;
        EXPECT_EQ(path.find(L"CON"), std::wstring::npos) << path;
    }
    EXPECT_EQ(lastBox().text, L"DllCache(1) Restored Successfully");
    // Skipped lines still move the progress on, like names found nowhere.
    EXPECT_EQ(window.progress.size(), 9u);
}

TEST_F(Restore, BlankLineEndsTheListAndBareLfIsALineEnd) {
    list("a.dll\nb.dll\r\n\r\nc.dll\r\n");
    for (const wchar_t* n : {L"a.dll", L"b.dll", L"c.dll"})
        services.addFile(sys + n, "x");
    run();
    EXPECT_EQ(cached(L"a.dll"), "x");
    EXPECT_EQ(cached(L"b.dll"), "x");
    EXPECT_EQ(cached(L"c.dll"), "<absent>");
    EXPECT_EQ(window.countText, L"已还原2个文件.文件还原成功.");
}

TEST_F(Restore, EmptyListRestoresNothingAndSaysSo) {
    list("");
    run();
    EXPECT_EQ(window.countText, L"已还原0个文件.文件还原成功.");
    EXPECT_EQ(lastBox().text, L"DllCache(0) Restored Successfully");
}

TEST_F(Restore, NoSixteenBitCeilingOnTheCount) {
    std::string bytes;
    for (int i = 0; i < 33000; ++i)
        bytes += "f.dll\r\n";
    list(bytes);
    services.addFile(sys + L"f.dll", "x");
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(33000) Restored Successfully");
}

TEST_F(Restore, AListThatCannotBeOpenedEndsTheRunBeforeAnyChange) {
    services.nodes.erase(cacheDir);
    list("a.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.failOpen[listPath] = fake::accessDenied;
    run();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_NE(lastBox().text.find(listPath), std::wstring::npos);
    EXPECT_NE(lastBox().text.find(L"<reason 5>"), std::wstring::npos);
    EXPECT_FALSE(services.has(cacheDir));
    EXPECT_TRUE(services.copies.empty());
    EXPECT_TRUE(window.restoreEnabled);
    EXPECT_FALSE(window.countEnabled);
    EXPECT_FALSE(window.busy);
}

TEST_F(Restore, AListVanishingAfterTheCheckIsReported) {
    list("a.dll\r\n");
    services.failOpen[listPath] = fake::fileNotFound;
    run();
    EXPECT_NE(lastBox().text.find(L"<reason 2>"), std::wstring::npos);
    EXPECT_TRUE(window.restoreEnabled);
}

TEST_F(Restore, AReadErrorMidwayIsNotASuccess) {
    list("a.dll\r\nb.dll\r\nc.dll\r\n");
    for (const wchar_t* n : {L"a.dll", L"b.dll", L"c.dll"})
        services.addFile(sys + n, "x");
    services.readChunk = 7;
    services.failReadAfter = 7;
    services.cleanOpens = 1; // the check of the whole list reads it well
    run();
    EXPECT_EQ(cached(L"a.dll"), "x");
    EXPECT_EQ(cached(L"c.dll"), "<absent>");
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_EQ(lastBox().text.find(L"Successfully"), std::wstring::npos);
    EXPECT_NE(lastBox().text.find(L"<reason 23>"), std::wstring::npos);
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.restoreEnabled);
}

TEST_F(Restore, AnUnreadableSystemFolderEndsTheRunBeforeAnyChange) {
    services.nodes.erase(cacheDir);
    list("a.dll\r\n");
    services.addFile(L"C:\\WINDOWS\\a.dll", "A");
    services.failList[sys + L"drivers\\"] = fake::accessDenied;
    run();
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_NE(lastBox().text.find(sys + L"drivers\\"), std::wstring::npos);
    EXPECT_NE(lastBox().text.find(L"<reason 5>"), std::wstring::npos);
    EXPECT_FALSE(services.has(cacheDir));
    EXPECT_TRUE(services.copies.empty());
    EXPECT_FALSE(window.busy);
    EXPECT_TRUE(window.restoreEnabled);
    // A system folder that does not exist simply holds nothing.
    services.failList.clear();
    services.nodes.erase(sys + L"drivers");
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(1) Restored Successfully");
}

} // namespace
