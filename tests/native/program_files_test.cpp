#include "cache/program_files.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

const std::wstring pf = L"C:\\program files";

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
