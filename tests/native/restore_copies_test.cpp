// How the restore copies: through temporary slots of its own, in batches
// flushed before each copy takes its real name, in the cache where Windows
// keeps it.
#include "restore_fixture.h"

#include <gtest/gtest.h>

namespace {

using namespace restore_test;

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
    EXPECT_EQ(lastBox().text.rfind(L"无法建立dllcache文件夹:\r\n" + moved + L"\r\n", 0), 0u)
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

// A read-only cache file is replaced (and the copy is not read-only), also
// on FAT, which refuses a replace of it as "already exists"; held for good,
// it keeps its attribute and is reported in use. A source that cannot be
// read fails. The box lists the failures in the order of the list, however
// late each is known.
TEST_F(Restore, FailedCopiesAreReportedNotCountedInListOrder) {
    for (const bool fat : {false, true}) {
        services.fat = fat;
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
        EXPECT_EQ(cached(L"ro.dll"), "new") << fat;
        EXPECT_FALSE(services.at(cacheDir + L"\\ro.dll").readOnly);
        EXPECT_EQ(cached(L"held-ro.dll"), "old");
        EXPECT_TRUE(services.at(cacheDir + L"\\held-ro.dll").readOnly);
        EXPECT_EQ(cached(L"ok.dll"), "ok");
        EXPECT_EQ(window.countText, L"已还原2个文件,3个文件还原失败.");
        EXPECT_EQ(window.progress.back(), L"已还原0个文件...") << "none had its real name yet";
        EXPECT_EQ(lastBox().text, L"DllCache(2) Restored, 3 Failed\r\n\r\n"
                                  L"<reason 1117> (2): late.dll, unreadable.dll\r\n"
                                  L"<reason 32> (1): held-ro.dll");
        EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
        EXPECT_TRUE(window.restoreEnabled);
        EXPECT_EQ(temps(), std::vector<std::wstring>());
    }
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
    // Four copies of 4 MB reach it exactly.
    for (int i = 0; i < 6; ++i)
        services.addFile(sys + L"big" + std::to_wstring(i) + L".dll", std::string(4u << 20, 'f'));
    services.mostOpenCopies = 0;
    run();
    EXPECT_EQ(services.mostOpenCopies, 4);
    for (int i = 0; i < 6; ++i)
        services.addFile(sys + L"big" + std::to_wstring(i) + L".dll", big);

    // Room for two more copies beside the old files and then none, not even
    // for a third one's name.
    for (int i = 0; i < 6; ++i)
        services.addFile(cacheDir + L"\\big" + std::to_wstring(i) + L".dll",
                         std::string(6u << 20, 'o'));
    services.cacheRoom = services.cacheBytes() + (12u << 20);
    run();
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(cached(L"big" + std::to_wstring(i) + L".dll") == big) << i;
    EXPECT_EQ(lastBox().text, L"DllCache(6) Restored Successfully");
}

// A temporary slot that cannot be used is skipped for another, and cleared
// later where it can be: a leftover another program holds (unshared, or
// deleted and kept while it holds it, as an indexer does), a delete that
// leaves the file (Wine), and what the program never made (a hard link, a
// link, a folder, a read-only file), which is left as it is and costs no
// wait. A name that turns up after the sweep, a file or one kept for
// deletion, is never opened: another slot is taken; a file that two names
// refuse fails as one of which no copy could be made.
TEST_F(Restore, UnusableSlotsAreSkipped) {
    enum Kind { Held, HeldDeleted, Phantom, HardLink, Link, Folder, ReadOnly };
    const struct {
        Kind kind;
        bool stays;
    } rows[] = {{Held, false}, {HeldDeleted, true}, {Phantom, true}, {HardLink, true},
                {Link, true},  {Folder, true},      {ReadOnly, true}};
    list("a.dll\r\nb.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"b.dll", "B");
    for (const auto& r : rows) {
        services.nodes.erase(temp(0));
        services.nodes.erase(cacheDir + L"\\a.dll");
        fake::Node& left = services.addFile(temp(0), "left");
        left.directory = r.kind == Folder;
        left.links = r.kind == HardLink ? 2 : 1;
        left.reparse = r.kind == Link;
        left.readOnly = r.kind == ReadOnly;
        services.heldFor[temp(0)] = r.kind == Held ? 1 : r.kind == HeldDeleted ? 1 << 30 : 0;
        if (r.kind == HeldDeleted) services.sharesDelete.insert(temp(0));
        if (r.kind == Phantom) services.phantomDelete.insert(temp(0));
        const bool plant = r.kind != HardLink && r.kind != Link && r.kind != Folder;
        services.beforeBeat = [&](const std::wstring& path) {
            if (!plant || path != sys + L"a.dll" || services.has(temp(1))) return;
            services.addFile(temp(1), "planted").deletePending = r.kind % 2 == 0;
            services.heldFor[temp(1)] = 1 << 30;
        };
        services.paused = 0;
        run();
        EXPECT_EQ(lastBox().text, L"DllCache(2) Restored Successfully") << r.kind;
        EXPECT_EQ(cached(L"a.dll"), "A") << r.kind;
        EXPECT_EQ(services.has(temp(0)), r.stays) << r.kind;
        EXPECT_EQ(services.paused == 0, !plant) << r.kind;
        if (r.stays && r.kind != HeldDeleted) {
            EXPECT_EQ(services.at(temp(0)).data, "left") << r.kind;
            EXPECT_EQ(services.at(temp(0)).readOnly, r.kind == ReadOnly) << r.kind;
        }
        if (plant) {
            EXPECT_EQ(services.at(temp(1)).data, "planted") << r.kind;
        }
        services.nodes.erase(temp(1));
        services.heldFor.clear();
        services.sharesDelete.clear();
        services.phantomDelete.clear();
    }
    services.beforeBeat = [&](const std::wstring& path) {
        if (path != sys + L"a.dll" || services.has(temp(1))) return;
        for (const std::size_t slot : {1, 2})
            services.addFile(temp(slot), "planted").links = 2;
    };
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(1) Restored, 1 Failed\r\n\r\n<reason 82> (1): a.dll");
}

// A leftover temporary file that cannot be removed (another program holds
// it, or it is not the program's own) would make every copy fail: the run
// stops before any, naming it.
TEST_F(Restore, AStuckLeftoverStopsTheRunBeforeAnyCopy) {
    const std::wstring temp = this->temp(0);
    list("a.dll\r\n");
    services.addFile(sys + L"a.dll", "A");
    for (const platform::ErrorCode why : {fake::sharing, platform::errorNotPlainFile}) {
        for (std::size_t slot = 0; slot < cache::tempSlots; ++slot) {
            services.addFile(this->temp(slot), "held").links = why == fake::sharing ? 1 : 2;
            if (why == fake::sharing) services.failDelete[this->temp(slot)] = why;
        }
        run();
        EXPECT_TRUE(services.copies.empty());
        EXPECT_EQ(services.at(listPath).data, "a.dll\r\n");
        EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
        EXPECT_NE(lastBox().text.find(temp), std::wstring::npos) << lastBox().text;
        EXPECT_NE(lastBox().text.find(L"<reason " + std::to_wstring(why) + L">"),
                  std::wstring::npos);
        EXPECT_FALSE(window.busy);
        services.failDelete.clear();
    }
}

} // namespace
