// Files another program holds, and another program's command.
#include "restore_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace restore_test;

// Files another program holds for a moment are waited for: the cache files
// a backup agent reads, the sources. A hold that lasts costs the run a
// bounded time, not a wait a file.
void listOf(Restore& t, int files) {
    std::string bytes;
    for (int i = 0; i < files; ++i) {
        const std::wstring n = L"h" + std::to_wstring(i) + L".dll";
        bytes += std::string(n.begin(), n.end()) + "\r\n";
        t.services.addFile(sys + n, "new");
        t.services.addFile(cacheDir + L"\\" + n, "old");
    }
    t.list(bytes);
}

TEST_F(Restore, HeldFilesAreWaitedForWithinBounds) {
    listOf(*this, 100);
    services.heldFor[cacheDir + L"\\h0.dll"] = 4;
    services.heldFor[sys + L"h1.dll"] = 4;
    // Retried at most 250 ms apart: moved within that of being let go.
    services.heldUntil[cacheDir + L"\\h2.dll"] = 900;
    run();
    EXPECT_EQ(lastBox().text, L"DllCache(100) Restored Successfully");
    EXPECT_EQ(window.countText, L"已还原100个文件.文件还原成功.");
    EXPECT_EQ(temps(), std::vector<std::wstring>());
    EXPECT_LE(services.paused, 900u + 250u) << "retried at most 250 ms apart";

    // Held for good: every source, every cache file (as a backup agent holds
    // it, not shared for deleting), every cache file shared for deleting (an
    // indexer). Each is tried for the full patience, together: once one
    // outlasts it the rest are set aside at once, and tried in passes at
    // the end; a held cache file is asked about rather than copied again.
    // Windows refuses a replace of a held file as access denied, whatever
    // it shares: each is still reported in use.
    const struct {
        std::wstring held;
        bool shared;
    } holds[] = {{sys, false}, {cacheDir + L"\\", false}, {cacheDir + L"\\", true}};
    for (const auto& h : holds) {
        services.copies.clear();
        services.clock = services.paused = 0;
        for (int i = 0; i < 100; ++i) {
            const std::wstring path = h.held + L"h" + std::to_wstring(i) + L".dll";
            services.heldFor[path] = 1 << 30;
            if (h.shared) services.sharesDelete.insert(path);
        }
        run();
        EXPECT_EQ(
            lastBox().text.rfind(L"DllCache(0) Restored, 100 Failed\r\n\r\n<reason 32> (100)", 0),
            0u)
            << lastBox().text;
        EXPECT_GE(services.paused, cache::CacheCopies::patience);
        EXPECT_LT(services.paused, 3 * cache::CacheCopies::patience);
        if (h.held != sys) {
            EXPECT_EQ(services.copies.size(), 100u);
        }
        services.heldFor.clear();
        services.sharesDelete.clear();
    }

    // Once a batch of held cache files has outlasted its patience, the run
    // sets held files aside at once; the passes at the end are patient
    // again: a real name held a moment there is waited for, not copied anew.
    for (int i = 0; i < 32; ++i)
        services.heldFor[cacheDir + L"\\h" + std::to_wstring(i) + L".dll"] = 1 << 30;
    services.heldFor[sys + L"h50.dll"] = 1; // set aside at its first try
    bool armed = false;
    services.beforeBeat = [&](const std::wstring& path) {
        if (path != sys + L"h50.dll" || services.heldFor[path] != 0 || armed) return;
        armed = true;
        services.heldFor[cacheDir + L"\\h50.dll"] = 1;
    };
    services.copies.clear();
    run();
    EXPECT_EQ(lastBox().text.rfind(L"DllCache(68) Restored, 32 Failed", 0), 0u) << lastBox().text;
    EXPECT_EQ(
        std::count_if(services.copies.begin(), services.copies.end(),
                      [](const std::wstring& c) { return c.rfind(sys + L"h50.dll", 0) == 0; }),
        1);
}

// The session ends while the run waits, for a held real name or in the
// passes at the end: it stops there, removes its copies and shows nothing.
TEST_F(Restore, AnEndingSessionStopsEveryWait) {
    listOf(*this, 40);
    const std::wstring held = cacheDir + L"\\h3.dll";
    for (const bool shared : {false, true}) { // waited for, or tried in the end passes
        services.heldFor[held] = 1 << 30;
        if (shared) services.sharesDelete.insert(held);
        int pauses = 0;
        services.beforeBeat = [&](const std::wstring& path) {
            if (path == L"pause" && ++pauses == 2) window.ending = true;
        };
        window.ending = false;
        window.boxes.clear();
        services.paused = 0;
        run();
        EXPECT_EQ(window.boxes.size(), 1u) << "only the question";
        EXPECT_LE(services.paused, 2 * cache::CacheCopies::longestWait) << shared;
        EXPECT_EQ(temps(), std::vector<std::wstring>());
        EXPECT_EQ(services.openCopies, 0);
        services.heldFor.clear();
    }
}

// An indexer looks at each new file for a while once its writer closes it,
// sharing it for deleting; a backup agent holds three cache files for good,
// and another program a leftover at one temporary name. The copies are
// never seen under their temporary names, so the indexer costs the run
// nothing, the copies go on through the other names, and only the three
// held files fail.
TEST_F(Restore, AnIndexerOnEveryNewFileCostsNothing) {
    listOf(*this, 3200);
    for (const std::uint32_t hold : {800u, 2600u}) {
        services.scanMs = hold;
        services.clock = services.paused = 0;
        for (const wchar_t* n : {L"h7.dll", L"h1000.dll", L"h3199.dll"})
            services.heldFor[cacheDir + L"\\" + n] = 1 << 30;
        services.addFile(temp(5), "left");
        services.heldFor[temp(5)] = 1 << 30;
        run();
        EXPECT_EQ(
            lastBox().text.rfind(L"DllCache(3197) Restored, 3 Failed\r\n\r\n<reason 32> (3)", 0),
            0u)
            << lastBox().text;
        EXPECT_LE(services.paused, 3 * cache::CacheCopies::patience) << hold;
        EXPECT_EQ(temps(), std::vector<std::wstring>{cache::restoreTempName(5)});
        services.heldFor.clear();
    }
}

// While another program's command may change files, this one changes
// nothing and says why; once it is done, a restore runs.
TEST_F(Restore, AnotherProgramsCommandMakesItWait) {
    list("a.dll\r\nkestrum.lock\r\n");
    services.addFile(sys + L"a.dll", "A");
    services.addFile(sys + L"kestrum.lock", "never a cache entry");
    services.locked.insert(cacheDir + L"\\kestrum.lock"); // another program's
    run();
    ASSERT_EQ(window.boxes.size(), 2u);
    EXPECT_EQ(lastBox().text, L"另一个Kestrum正在备份或还原系统文件缓存,请稍后再试。");
    EXPECT_EQ(lastBox().icon, cache::Icon::Exclamation);
    EXPECT_TRUE(services.copies.empty());
    EXPECT_TRUE(window.restoreEnabled);
    services.locked.clear();
    // A lock that cannot be made for want of the right to write there, or a
    // cache folder that cannot be held, refuses the restore with the reason.
    for (auto* fails : {&services.failLock, &services.failHold}) {
        (*fails)[fails == &services.failLock ? cacheDir + L"\\kestrum.lock" : cacheDir] =
            fake::accessDenied;
        run();
        EXPECT_EQ(lastBox().text,
                  L"无法使用dllcache文件夹:\r\n" + cacheDir + L"\r\n\r\n<reason 5> (错误代码 5)");
        EXPECT_TRUE(services.copies.empty());
        fails->clear();
    }
    // A lock file a crash left behind is nobody's. The lock is held until
    // the files are done changing.
    services.addFile(cacheDir + L"\\kestrum.lock");
    bool lockedWhileCopying = false;
    services.beforeBeat = [&](const std::wstring& path) {
        if (path == sys + L"a.dll") lockedWhileCopying = services.locked.size() == 1;
    };
    run();
    EXPECT_TRUE(lockedWhileCopying);
    EXPECT_EQ(cached(L"a.dll"), "A");
    EXPECT_EQ(services.copies.size(), 1u);
    EXPECT_FALSE(window.changing);
    EXPECT_FALSE(services.has(cacheDir + L"\\kestrum.lock"));
}

} // namespace
