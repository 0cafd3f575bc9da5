#include "cache/restore.h"
#include "cache/cache_copies.h"
#include "cache/folders.h"
#include "cache/messages.h"
#include "cache/program_files.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

const std::wstring sys = L"C:\\WINDOWS\\system32\\";
const std::wstring cacheDir = L"C:\\WINDOWS\\system32\\dllcache";
const std::wstring listPath = L"D:\\tools\\filelist.kdl";
const std::wstring pf = L"C:\\program files";

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
    EXPECT_EQ(window.progress, (std::vector<std::wstring>{L"已还原1个文件...", L"已还原1个文件...",
                                                          L"已还原2个文件..."}));
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

TEST_F(Restore, DeletedCacheFolderIsRecreatedAndFilled) {
    services.nodes.erase(cacheDir);
    list("a.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    run();
    EXPECT_TRUE(services.isDir(cacheDir));
    EXPECT_EQ(cached(L"a.dll"), "A");
    EXPECT_EQ(lastBox().text, L"DllCache(1) Restored Successfully");
}

TEST_F(Restore, AMovedCacheIsCreatedFilledAndFlushedOnItsOwnVolume) {
    const std::wstring moved = L"E:\\spare\\dllcache";
    services.moveCache(moved + L"\\");
    services.addDir(L"E:\\");
    services.volumes[L"E:\\"] = 5;
    services.admin = true;
    list("a.dll\r\nb.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"b.dll", "B");
    // Only the cache folder itself is made, as the usual one is.
    run();
    EXPECT_EQ(lastBox().text.rfind(L"无法使用dllcache文件夹:\r\n" + moved + L"\r\n", 0), 0u)
        << lastBox().text;
    services.addDir(L"E:\\spare");
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(2) Restored Successfully");
    EXPECT_EQ(services.at(moved + L"\\a.dll").data, "A");
    EXPECT_EQ(services.at(moved + L"\\b.dll").data, "B");
    EXPECT_EQ(services.fileNames(moved), (std::vector<std::wstring>{L"a.dll", L"b.dll"}));
    EXPECT_EQ(services.fileNames(cacheDir), std::vector<std::wstring>());
    EXPECT_EQ(services.volumeFlushCount, 1);
    EXPECT_EQ(services.handleFlushes, std::vector<std::wstring>());
}

// A read-only cache file is replaced (and the copy is not read-only); held
// for good, it keeps its attribute. A source that cannot be read fails.
// The box lists the failures in the order of the list, however late each
// is known.
TEST_F(Restore, FailedCopiesAreReportedNotCountedInListOrder) {
    list("late.dll\r\nro.dll\r\nheld-ro.dll\r\nunreadable.dll\r\nok.dll\r\nnowhere.dll\r\n");
    services.addFile(sys + L"late.dll", "x");
    services.failReplace[cacheDir + L"\\late.dll"] = 1117; // known at the batch's end
    services.addFile(sys + L"ro.dll", "new").readOnly = true;
    services.addFile(cacheDir + L"\\ro.dll", "old").readOnly = true;
    services.addFile(sys + L"held-ro.dll", "new");
    services.addFile(cacheDir + L"\\held-ro.dll", "old").readOnly = true;
    services.heldFor[cacheDir + L"\\held-ro.dll"] = 1000;
    services.addFile(sys + L"unreadable.dll", "x");
    services.failCopy[sys + L"unreadable.dll"] = 1117; // known at once
    services.addFile(sys + L"ok.dll", "ok");
    run();
    EXPECT_EQ(cached(L"ro.dll"), "new");
    EXPECT_FALSE(services.at(cacheDir + L"\\ro.dll").readOnly);
    EXPECT_EQ(cached(L"held-ro.dll"), "old");
    EXPECT_TRUE(services.at(cacheDir + L"\\held-ro.dll").readOnly);
    EXPECT_EQ(cached(L"ok.dll"), "ok");
    EXPECT_EQ(window.countText, L"已还原2个文件,3个文件还原失败.");
    EXPECT_EQ(lastBox().text, L"DllCache(2) Restored, 3 Failed\r\n\r\n"
                              L"<reason 1117> (2): late.dll, unreadable.dll\r\n"
                              L"<reason 5> (1): held-ro.dll");
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_TRUE(window.restoreEnabled);
    EXPECT_EQ(temps(), std::vector<std::wstring>());
}

// Each copy goes to a temporary name and is moved over the real one, so
// the real name never holds a cut-short file.
TEST_F(Restore, CopiesReplaceTheRealNameInOneStepAndLeaveNoTemporaryFile) {
    const std::wstring temp = cacheDir + L"\\" + cache::restoreTempName(0);
    services.addFile(temp, "left by a killed run");
    list("a.dll\r\nmoved.dll\r\nkestrum-restore.tmp\r\nb.dll\r\n");
    services.addFile(sys + L"a.dll", "new a");
    services.addFile(cacheDir + L"\\moved.dll", "old");
    services.addFile(sys + L"moved.dll", "new");
    services.failReplace[cacheDir + L"\\moved.dll"] = fake::diskFull;
    services.addFile(sys + L"kestrum-restore.tmp", "never a cache entry");
    services.addFile(sys + L"b.dll", "new b");
    run();
    EXPECT_EQ(cached(L"a.dll"), "new a");
    EXPECT_EQ(cached(L"moved.dll"), "old");
    EXPECT_EQ(cached(L"b.dll"), "new b");
    EXPECT_FALSE(services.has(temp));
    EXPECT_EQ(services.copies,
              (std::vector<std::wstring>{sys + L"a.dll -> " + cacheDir + L"\\a.dll",
                                         sys + L"moved.dll -> " + this->temp(1),
                                         sys + L"b.dll -> " + cacheDir + L"\\b.dll"}));
    EXPECT_EQ(lastBox().text, L"DllCache(2) Restored, 1 Failed\r\n\r\n<reason 112> (1): moved.dll");
}

// Whatever fails, no temporary copy outlives the run: not one a killed run
// left, not one cut short by a failed copy, not one a failed move left.
TEST_F(Restore, NoTemporaryFileOutlivesTheRun) {
    const std::wstring temp = cacheDir + L"\\" + cache::restoreTempName(0);
    services.addFile(temp, "left by a killed run");
    services.addFile(this->temp(cache::tempSlots - 1), "left by a killed run");
    list("missing.dll\r\n");
    run();
    EXPECT_EQ(temps(), std::vector<std::wstring>()) << "left by a killed run, nothing copied since";

    list("cut.dll\r\n");
    services.addFile(sys + L"cut.dll", "new");
    services.failCopyMidway[sys + L"cut.dll"] = fake::diskFull;
    run();
    EXPECT_FALSE(services.has(temp)) << "cut short by a failed copy";

    list("moved.dll\r\n");
    services.addFile(sys + L"moved.dll", "new");
    services.failReplace[cacheDir + L"\\moved.dll"] = fake::accessDenied;
    run();
    EXPECT_FALSE(services.has(temp)) << "left by a failed move";
    EXPECT_EQ(cached(L"moved.dll"), "<absent>");
    EXPECT_EQ(lastBox().text, L"DllCache(0) Restored, 1 Failed\r\n\r\n<reason 5> (1): moved.dll");

    // One that cannot be removed at once (a scanner still looks at it) is
    // removed later in the run.
    list("scanned.dll\r\n");
    services.addFile(sys + L"scanned.dll", "new");
    services.failReplace[cacheDir + L"\\scanned.dll"] = 1117;
    services.scanTries = 3;
    run();
    EXPECT_EQ(temps(), std::vector<std::wstring>()) << "held at first, removed later";
}

// Copies wait, open, in batches of a temporary slot each for one flush,
// then move: one flush of the volume for the batch where the volume can be
// flushed (opened once, no probe), else one through each copy's own
// handle. Should the volume flush stop working, the handles flush; a copy
// whose flush fails is not moved. The flushes run aside from the window.
TEST_F(Restore, CopiesAreFlushedInBatches) {
    const std::size_t batch = cache::tempSlots;
    const std::size_t files = 2 * batch + 6;
    std::string bytes;
    for (std::size_t i = 0; i < files; ++i) {
        const std::wstring n = L"f" + std::to_wstring(i) + L".dll";
        bytes += std::string(n.begin(), n.end()) + "\r\n";
        services.addFile(sys + n, "new " + std::to_string(i));
        services.addFile(cacheDir + L"\\" + n, "old");
    }
    list(bytes + "f0.dll\r\n"); // once more, in the last batch
    services.addFile(temp(7), "left by a killed run");
    services.failCopy[sys + L"f3.dll"] = 1117;
    services.failReplace[cacheDir + L"\\f4.dll"] = fake::diskFull;
    services.admin = true;
    run();
    EXPECT_EQ(services.volumeFlushCount, 3) << "one for each of three batches";
    EXPECT_EQ(services.threadRuns, 3);
    EXPECT_EQ(services.handleFlushes, std::vector<std::wstring>());
    for (std::size_t i = 5; i < files; ++i)
        EXPECT_EQ(cached(L"f" + std::to_wstring(i) + L".dll"), "new " + std::to_string(i)) << i;
    EXPECT_EQ(cached(L"f3.dll"), "old");
    EXPECT_EQ(cached(L"f4.dll"), "old");
    EXPECT_EQ(temps(), std::vector<std::wstring>());
    EXPECT_EQ(lastBox().text, L"DllCache(" + std::to_wstring(files - 1) +
                                  L") Restored, 2 Failed\r\n\r\n<reason 1117> (1): f3.dll\r\n"
                                  L"<reason 112> (1): f4.dll");

    // The volume flush works for the first batch only.
    services.volumeFlushCount = 0;
    services.volumeFlushesLeft = 1;
    services.failFlush[temp(1)] = fake::diskFull;
    for (std::size_t i = 0; i < files; ++i)
        services.addFile(sys + L"f" + std::to_wstring(i) + L".dll", "newer");
    run();
    EXPECT_EQ(services.volumeFlushCount, 1);
    // f3 failed to copy, so the second batch starts at f33, the third at
    // f65; the copies in their second slots cannot be flushed.
    EXPECT_EQ(services.handleFlushes.size(), batch + 6 - 2);
    const std::wstring unflushed = L"f" + std::to_wstring(batch + 2) + L".dll";
    EXPECT_EQ(cached(unflushed), "new " + std::to_string(batch + 2)) << "its flush failed";
    EXPECT_EQ(cached(L"f" + std::to_wstring(batch + 1) + L".dll"), "newer");
    EXPECT_EQ(cached(L"f" + std::to_wstring(files - 1) + L".dll"), "newer");
    EXPECT_EQ(temps(), std::vector<std::wstring>());
    EXPECT_NE(lastBox().text.find(L"<reason 112> (3): f4.dll, " + unflushed + L", f66.dll"),
              std::wstring::npos)
        << lastBox().text;
    services.failFlush.clear();

    // Without administrator rights every copy is flushed through its handle.
    services.admin = false;
    services.handleFlushes.clear();
    run();
    EXPECT_EQ(services.handleFlushes.size(), files);

    // The cache folder is a link to another volume: flushing the volume of
    // its path does not cover the copies, so their handles flush them.
    services.admin = true;
    services.volumeFlushesLeft = -1;
    services.volumes[cacheDir] = 2;
    services.handleFlushes.clear();
    run();
    EXPECT_EQ(services.handleFlushes.size(), files);
    services.volumes.clear();

    // An ending session drops the batch not yet moved.
    services.beforeBeat = [&](const std::wstring& path) {
        if (path == sys + L"f2.dll") window.ending = true;
    };
    services.addFile(sys + L"f0.dll", "newest");
    run();
    EXPECT_EQ(cached(L"f0.dll"), "newer");
    EXPECT_EQ(temps(), std::vector<std::wstring>());
    EXPECT_EQ(services.openCopies, 0);
}

// A batch is bounded by bytes too; a copy that finds the disk full while
// copies wait lets them move first and is tried once more.
TEST_F(Restore, BatchesNeverOutgrowTheDisk) {
    const std::string big(6u << 20, 'n');
    std::string bytes;
    for (int i = 0; i < 6; ++i) {
        const std::wstring n = L"big" + std::to_wstring(i) + L".dll";
        bytes += std::string(n.begin(), n.end()) + "\r\n";
        services.addFile(sys + n, big);
        services.addFile(cacheDir + L"\\" + n, std::string(6u << 20, 'o'));
    }
    list(bytes);
    services.admin = true;
    run();
    EXPECT_EQ(services.volumeFlushCount, 2) << "three copies of 6 MB pass the bound";
    EXPECT_EQ(services.mostOpenCopies, 3);

    // Room for two more copies beside the old files, not three.
    for (int i = 0; i < 6; ++i)
        services.addFile(cacheDir + L"\\big" + std::to_wstring(i) + L".dll",
                         std::string(6u << 20, 'o'));
    services.cacheRoom = services.cacheBytes() + (13u << 20);
    run();
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(cached(L"big" + std::to_wstring(i) + L".dll") == big) << i;
    EXPECT_EQ(lastBox().text, L"DllCache(6) Restored Successfully");
}

// Files another program holds for a moment are waited for: the copies a
// scanner looks at, the cache files a backup agent reads, the sources.
// A hold that lasts costs the run a bounded time, not a wait a file.
TEST_F(Restore, HeldFilesAreWaitedForWithinBounds) {
    std::string bytes;
    for (int i = 0; i < 100; ++i) {
        const std::wstring n = L"h" + std::to_wstring(i) + L".dll";
        bytes += std::string(n.begin(), n.end()) + "\r\n";
        services.addFile(sys + n, "new");
        services.addFile(cacheDir + L"\\" + n, "old");
    }
    list(bytes);
    services.scanTries = 3;
    services.heldFor[cacheDir + L"\\h0.dll"] = 4;
    services.heldFor[sys + L"h1.dll"] = 4;
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(100) Restored Successfully");
    EXPECT_EQ(window.countText, L"已还原100个文件.文件还原成功.");
    EXPECT_EQ(temps(), std::vector<std::wstring>());
    EXPECT_LT(services.clock, 5000u) << "brief holds cost brief waits";

    // Held for good: every source, then every cache file. Each is tried for
    // the full patience, together, in passes; a held cache file is asked
    // about rather than copied again.
    for (const std::wstring& held : {sys, cacheDir + L"\\"}) {
        services.scanTries = 0;
        services.copies.clear();
        services.clock = 0;
        for (int i = 0; i < 100; ++i)
            services.heldFor[held + L"h" + std::to_wstring(i) + L".dll"] = 1 << 30;
        run();
        const platform::ErrorCode why = held == sys ? fake::sharing : fake::accessDenied;
        EXPECT_EQ(lastBox().text.rfind(L"DllCache(0) Restored, 100 Failed\r\n\r\n<reason " +
                                           std::to_wstring(why) + L"> (100)",
                                       0),
                  0u)
            << lastBox().text;
        EXPECT_GE(services.clock, cache::CacheCopies::patience);
        EXPECT_LT(services.clock, 3 * cache::CacheCopies::patience);
        if (held != sys) {
            EXPECT_EQ(services.copies.size(), 100u);
        }
        services.heldFor.clear();
    }

    // Every new copy held for good: after one batch has waited its
    // patience, the rest are set aside at once.
    services.clock = 0;
    services.scanTries = 1 << 30;
    run();
    EXPECT_EQ(window.countText, L"已还原0个文件,100个文件还原失败.");
    EXPECT_LT(services.clock, 6 * cache::CacheCopies::patience);
}

// A temporary slot that cannot be used (held, or a delete that leaves the
// file) is skipped for another and cleared later; only when none can be
// used does the run stop, naming the leftover.
TEST_F(Restore, UnusableSlotsAreSkipped) {
    services.addFile(temp(0), "held a while");
    services.heldFor[temp(0)] = 3;
    services.addFile(temp(1), "undeletable");
    services.phantomDelete.insert(temp(1));
    services.addFile(temp(2), "held for good");
    services.failDelete[temp(2)] = fake::sharing;
    list("a.dll\r\nb.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"b.dll", "B");
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(2) Restored Successfully");
    EXPECT_EQ(services.copies,
              (std::vector<std::wstring>{sys + L"a.dll -> " + cacheDir + L"\\a.dll",
                                         sys + L"b.dll -> " + cacheDir + L"\\b.dll"}));
    EXPECT_FALSE(services.has(temp(0))) << "removed once it was let go";
    EXPECT_TRUE(services.has(temp(2)));
}

// While another program's command may change files, this one changes
// nothing and says why; once it is done, a restore runs.
TEST_F(Restore, AnotherProgramsCommandMakesItWait) {
    list("a.dll\r\nkestrum.lock\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"kestrum.lock", "never a cache entry");
    std::unique_ptr<platform::Held> other;
    ASSERT_EQ(services.lockFile(cacheDir + L"\\kestrum.lock", other), 0u);
    run();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(lastBox().text, L"另一个Kestrum正在备份或还原系统文件缓存,请稍后再试。");
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_TRUE(services.copies.empty());
    EXPECT_TRUE(window.restoreEnabled);
    other.reset();
    // A lock file a crash left behind is nobody's.
    services.addFile(cacheDir + L"\\kestrum.lock");
    run();
    EXPECT_EQ(cached(L"a.dll"), "A");
    EXPECT_EQ(services.copies.size(), 1u);
    EXPECT_FALSE(window.changing);
    EXPECT_FALSE(services.has(cacheDir + L"\\kestrum.lock"));
}

// A leftover temporary file that cannot be removed (another program holds
// it) would make every copy fail: the run stops before any, naming it.
TEST_F(Restore, AStuckLeftoverStopsTheRunBeforeAnyCopy) {
    const std::wstring temp = this->temp(0);
    for (std::size_t slot = 0; slot < cache::tempSlots; ++slot) {
        services.addFile(this->temp(slot), "held");
        services.failDelete[this->temp(slot)] = 32;
    }
    list("a.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    run();
    EXPECT_TRUE(services.copies.empty());
    EXPECT_EQ(services.at(listPath).data, "a.dll\r\n");
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_NE(lastBox().text.find(temp), std::wstring::npos) << lastBox().text;
    EXPECT_NE(lastBox().text.find(L"<reason 32>"), std::wstring::npos);
    EXPECT_FALSE(window.busy);
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
        platform::ErrorCode copyFile(const std::wstring& from, const std::wstring& to,
                                     std::unique_ptr<platform::OpenCopy>& copy,
                                     platform::CopySide& side) override {
            const platform::ErrorCode e = fake::Services::copyFile(from, to, copy, side);
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
              L"无法使用dllcache文件夹:\r\n" + cacheDir + L"\r\n\r\n<reason 3> (错误代码 3)");
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

// The result box's list of files: grouped by reason, at most ten names in
// list order, every line narrow enough for an 800 x 600 screen.
std::vector<std::wstring> linesOf(const std::wstring& text) {
    std::vector<std::wstring> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(L"\r\n", start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) return lines;
        start = end + 2;
    }
}

TEST(FileReport, GroupsByReasonWithTenNamesAtMost) {
    fake::Services services;
    cache::FileReport report;
    for (int i = 0; i < 25; ++i)
        report.add(i % 5 == 4 ? 32 : (i < 23 ? 5 : 112), L"f" + std::to_wstring(i) + L".dll");
    EXPECT_EQ(report.total(), 25u);
    EXPECT_EQ(linesOf(report.text(services)),
              (std::vector<std::wstring>{
                  L"<reason 5> (19): f0.dll, f1.dll, f2.dll, f3.dll, f5.dll, f6.dll,",
                  L"    f7.dll, f8.dll, …", L"<reason 32> (5): f4.dll, f9.dll, …",
                  L"<reason 112> (1)", L"……及另外15个文件"}));

    cache::FileReport ten, eleven;
    for (int i = 0; i < 11; ++i) {
        if (i < 10) ten.add(5, L"n" + std::to_wstring(i));
        eleven.add(5, L"n" + std::to_wstring(i));
    }
    EXPECT_EQ(ten.text(services), L"<reason 5> (10): n0, n1, n2, n3, n4, n5, n6, n7, n8, n9");
    EXPECT_EQ(linesOf(eleven.text(services)).back(), L"……及另外1个文件");
}

TEST(FileReport, LongNamesAndReasonsStayWithinTheLine) {
    fake::Services services;
    cache::FileReport report;
    const std::wstring longName = L"start" + std::wstring(240, L'x') + L"end.dll";
    const std::wstring chinese = std::wstring(100, L'\u4E2D') + L".dll";
    report.add(0, longName);
    report.add(0, chinese);
    const std::wstring text = report.text(services);
    for (const std::wstring& line : linesOf(text)) {
        std::size_t columns = 0;
        for (wchar_t c : line)
            columns += c >= 0x1100 ? 2 : 1;
        EXPECT_LE(columns, cache::FileReport::lineColumns) << line;
    }
    EXPECT_EQ(text.find(L"start"), 0u);
    EXPECT_NE(text.find(L"xend.dll,"), std::wstring::npos);
    EXPECT_NE(text.find(L"\u4E2D\u2026\u4E2D"), std::wstring::npos);

    // Names of surrogate pairs (UTF-16) are cut and wrapped between pairs.
    const std::wstring pair = L"\xD83D\xDE00";
    std::wstring emoji;
    for (int i = 0; i < 50; ++i)
        emoji += pair;
    cache::FileReport pairs;
    pairs.add(0, emoji + L".dll");
    pairs.add(0, emoji);
    const std::wstring cut = pairs.text(services);
    for (std::size_t i = 0; i < cut.size(); ++i) {
        const bool high = cut[i] >= 0xD800 && cut[i] <= 0xDBFF;
        const bool low = cut[i] >= 0xDC00 && cut[i] <= 0xDFFF;
        if (high) {
            EXPECT_TRUE(i + 1 < cut.size() && cut[i + 1] == 0xDE00) << i;
        }
        if (low) {
            EXPECT_TRUE(i > 0 && cut[i - 1] == 0xD83D) << i;
        }
    }
}

// The program-files lookup.
struct Lookup : ::testing::Test {
    fake::Services services;
    cache::DirList Dir1{services};
    cache::ProgramFilesSearch search{services, Dir1};
    void SetUp() override { services.addDir(pf); }
};

TEST_F(Lookup, FolderItselfWithOrWithoutTheFinalSeparator) {
    services.addFile(pf + L"\\app.EXE", "x");
    EXPECT_EQ(search.SearchedFile(L"app.exe", pf), pf + L"\\app.exe");
    EXPECT_EQ(search.SearchedFile(L"app.exe", pf + L"\\"), pf + L"\\app.exe");
}

TEST_F(Lookup, OnlyOrdinaryFilesMatch) {
    services.addFile(pf + L"\\ro.dll").readOnly = true;
    services.addFile(pf + L"\\hid.dll").hidden = true;
    services.addFile(pf + L"\\sys.dll").system = true;
    services.addDir(pf + L"\\dir.dll");
    services.addDir(pf + L"\\A");
    services.addFile(pf + L"\\A\\hid.dll").hidden = true;
    EXPECT_EQ(search.SearchedFile(L"ro.dll", pf), pf + L"\\ro.dll");
    EXPECT_EQ(search.SearchedFile(L"hid.dll", pf), L"");
    EXPECT_EQ(search.SearchedFile(L"sys.dll", pf), L"");
    EXPECT_EQ(search.SearchedFile(L"dir.dll", pf), L"");
}

TEST_F(Lookup, SubFoldersBreadthFirstInNameOrderDownToThreeLevels) {
    services.addDir(pf + L"\\b");
    services.addDir(pf + L"\\A");
    services.addDir(pf + L"\\A\\deep");
    services.addDir(pf + L"\\Windows NT");
    services.addDir(pf + L"\\Windows NT\\Accessories");
    services.addDir(pf + L"\\Windows NT\\Accessories\\L3");
    services.addDir(pf + L"\\Windows NT\\Accessories\\L3\\L4");
    services.addFile(pf + L"\\A\\deep\\both.dll", "level 2");
    services.addFile(pf + L"\\b\\both.dll", "level 1, second");
    services.addFile(pf + L"\\A\\deep\\two.dll");
    services.addFile(pf + L"\\b\\two.dll");
    services.addFile(pf + L"\\Windows NT\\Accessories\\wordpad.exe");
    services.addFile(pf + L"\\Windows NT\\Accessories\\L3\\three.dll");
    services.addFile(pf + L"\\Windows NT\\Accessories\\L3\\L4\\four.dll");
    EXPECT_EQ(search.SearchedFile(L"both.dll", pf), pf + L"\\b\\both.dll");
    EXPECT_EQ(search.SearchedFile(L"WORDPAD.exe", pf),
              pf + L"\\Windows NT\\Accessories\\WORDPAD.exe");
    EXPECT_EQ(search.SearchedFile(L"three.dll", pf),
              pf + L"\\Windows NT\\Accessories\\L3\\three.dll");
    EXPECT_EQ(search.SearchedFile(L"four.dll", pf), L"");
}

TEST_F(Lookup, ArgumentsUnchanged) {
    std::wstring name = L"x.dll";
    std::wstring path = pf;
    search.SearchedFile(name, path);
    EXPECT_EQ(name, L"x.dll");
    EXPECT_EQ(path, pf);
}

TEST_F(Lookup, TheTreeIsListedOncePerRunNotPerName) {
    int beats = 0;
    services.setHeartbeat([&beats] { ++beats; });
    for (int i = 0; i < 50; ++i)
        services.addDir(pf + L"\\d" + std::to_wstring(i));
    for (int i = 0; i < 200; ++i)
        search.SearchedFile(L"missing" + std::to_wstring(i) + L".dll", pf);
    std::size_t listings = 0;
    for (const std::wstring& p : services.touched)
        if (p.rfind(pf + L"\\d", 0) == 0 && p.find(L"missing") == std::wstring::npos) ++listings;
    // Each sub-folder listed for files and for folders, once, and the walk
    // kept the window answering.
    EXPECT_EQ(listings, 100u);
    EXPECT_GE(beats, 100);
}

TEST_F(Lookup, MissingProgramFilesFindsNothing) {
    services.nodes.erase(pf);
    EXPECT_EQ(search.SearchedFile(L"x.dll", pf), L"");
}

} // namespace
