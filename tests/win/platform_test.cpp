// The Win32 services on real files under Wine (or Windows).
#include "cache/messages.h"
#include "platform/own_files.h"
#include "platform/win32_services.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>

namespace {

using testing_win::readFile;
using testing_win::TempDir;
using testing_win::writeFile;

std::vector<std::wstring> sortedNames(const std::vector<platform::FolderEntry>& entries) {
    std::vector<std::wstring> v;
    for (const platform::FolderEntry& e : entries)
        v.push_back(e.name);
    std::sort(v.begin(), v.end());
    return v;
}

TEST(Win32Services, TheTestSystemUsesCodePage936) {
    ASSERT_EQ(::GetACP(), 936u);
}

// Both ways of listing give the same names with the same attributes.
void expectBothListingsAgree(const std::wstring& folder, bool directories) {
    std::vector<platform::FolderEntry> fast, compatible;
    ASSERT_EQ(platform::listFolderWith(platform::Listing::Fast, folder, directories, fast, {}), 0u);
    ASSERT_EQ(platform::listFolderWith(platform::Listing::Compatible, folder, directories,
                                       compatible, {}),
              0u);
    auto key = [](const std::vector<platform::FolderEntry>& entries) {
        std::vector<std::wstring> v;
        for (const platform::FolderEntry& e : entries)
            v.push_back(e.name + L"|" + std::to_wstring(e.attributes.hidden) +
                        std::to_wstring(e.attributes.system) +
                        std::to_wstring(e.attributes.readOnly) +
                        std::to_wstring(e.attributes.directory));
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(key(fast), key(compatible)) << folder;
    EXPECT_FALSE(fast.empty()) << folder;
}

TEST(Win32Services, ListsFilesOfEveryAttributeButNotFolders) {
    TempDir dir;
    platform::Win32Services services;
    writeFile(dir / L"\u4E2D\u6587.dll", "0");
    writeFile(dir / L"plain.dll", "1");
    writeFile(dir / L"hidden.sys", "2", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    writeFile(dir / L"ro.exe", "3", FILE_ATTRIBUTE_READONLY);
    writeFile(dir / L"NOEXT", "4");
    ::CreateDirectoryW((dir / L"sub").c_str(), nullptr);
    writeFile(dir / L"sub\\deep.dll", "5");

    std::vector<platform::FolderEntry> files;
    ASSERT_EQ(services.listFolder(dir.path(), false, files), 0u);
    EXPECT_EQ(sortedNames(files), (std::vector<std::wstring>{L"NOEXT", L"hidden.sys", L"plain.dll",
                                                             L"ro.exe", L"\u4E2D\u6587.dll"}));
    for (const platform::FolderEntry& e : files) {
        EXPECT_EQ(e.attributes.hidden, e.name == L"hidden.sys") << e.name;
        EXPECT_EQ(e.attributes.system, e.name == L"hidden.sys") << e.name;
        EXPECT_EQ(e.attributes.readOnly, e.name == L"ro.exe") << e.name;
    }

    std::vector<platform::FolderEntry> folders;
    ASSERT_EQ(services.listFolder(dir.path() + L"\\", true, folders), 0u);
    EXPECT_EQ(sortedNames(folders), std::vector<std::wstring>{L"sub"});
    EXPECT_TRUE(folders[0].attributes.directory);

    expectBothListingsAgree(dir.path(), false);
    expectBothListingsAgree(dir.path(), true);
}

// Systems before Windows 7 reject the fast listing's level and flag: from
// the first rejection on, the compatible listing is used; other failures
// are the folder's own and are reported as they are.
TEST(Win32Services, ListingFallsBackWhenTheSystemRejectsTheFastOne) {
    std::vector<platform::Listing> tried;
    platform::ErrorCode fastAnswer = ERROR_INVALID_PARAMETER;
    auto lister = [&](platform::Listing how) -> platform::ErrorCode {
        tried.push_back(how);
        return how == platform::Listing::Fast ? fastAnswer : 0;
    };
    using L = platform::Listing;
    platform::ListingChoice denied(L::Fast);
    fastAnswer = ERROR_ACCESS_DENIED;
    EXPECT_EQ(denied.list(lister), static_cast<platform::ErrorCode>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(denied.current(), L::Fast);
    tried.clear();

    platform::ListingChoice xp(L::Fast);
    fastAnswer = ERROR_INVALID_PARAMETER;
    EXPECT_EQ(xp.list(lister), 0u);
    EXPECT_EQ(xp.list(lister), 0u);
    EXPECT_EQ(tried, (std::vector<L>{L::Fast, L::Compatible, L::Compatible}));
    tried.clear();

    platform::ListingChoice old(platform::systemHasFastListing() ? L::Fast : L::Compatible);
    old.list(lister);
    // The test prefix answers like Windows XP.
    EXPECT_EQ(tried.front(), L::Compatible);
}

TEST(Win32Services, EmptyFolderListsNothingAndAMissingOneFails) {
    TempDir dir;
    platform::Win32Services services;
    std::vector<platform::FolderEntry> names;
    EXPECT_EQ(services.listFolder(dir.path(), false, names), 0u);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(services.listFolder(dir / L"absent", false, names),
              static_cast<platform::ErrorCode>(ERROR_PATH_NOT_FOUND));
}

TEST(Win32Services, ChineseNameRoundTripsThroughCodePage936) {
    TempDir dir;
    platform::Win32Services services;
    const std::wstring name = L"\u4E2D\u6587.dll"; // 中文.dll
    std::string ansi;
    ASSERT_TRUE(services.toAnsi(name, ansi));
    EXPECT_EQ(ansi, "\xD6\xD0\xCE\xC4.dll");
    std::wstring back;
    ASSERT_TRUE(services.fromAnsi(ansi, back));
    EXPECT_EQ(back, name);

    writeFile(dir / name, "x");
    std::vector<platform::FolderEntry> names;
    ASSERT_EQ(services.listFolder(dir.path(), false, names), 0u);
    EXPECT_EQ(sortedNames(names), std::vector<std::wstring>{name});
}

TEST(Win32Services, TextOutsideTheCodePageIsRefusedNotSubstituted) {
    platform::Win32Services services;
    std::string ansi;
    EXPECT_FALSE(services.toAnsi(L"\uAC00.dll", ansi)); // Hangul
    EXPECT_FALSE(services.toAnsi(L"\u0E01.dll", ansi)); // Thai
    std::wstring wide;
    EXPECT_FALSE(services.fromAnsi("\x81", wide)); // a lead byte alone
    EXPECT_TRUE(services.toAnsi(L"", ansi));
    EXPECT_EQ(ansi, "");
}

TEST(Win32Services, DirectoryQueriesReportTheSystemsText) {
    platform::Win32Services services;
    platform::ErrorCode error = 1;
    const std::wstring system = services.systemDirectory(error);
    EXPECT_EQ(error, 0u);
    wchar_t expected[MAX_PATH] = {};
    ::GetSystemDirectoryW(expected, MAX_PATH);
    EXPECT_EQ(system, expected);
    const std::wstring windows = services.windowsDirectory(error);
    EXPECT_EQ(error, 0u);
    ::GetWindowsDirectoryW(expected, MAX_PATH);
    EXPECT_EQ(windows, expected);

    const std::wstring module = services.modulePath();
    EXPECT_GT(module.size(), 4u);
    EXPECT_EQ(module.substr(module.size() - 4), L".exe");
}

TEST(Win32Services, ADirectoryLongerThanTheBufferIsAskedForAgainNotCut) {
    const std::string longDirectory = "C:\\" + std::string(300, 'w');
    std::vector<unsigned> sizesAsked;
    auto query = [&](char* buffer, unsigned size) -> unsigned {
        sizesAsked.push_back(size);
        if (size <= longDirectory.size()) return static_cast<unsigned>(longDirectory.size() + 1);
        std::copy(longDirectory.begin(), longDirectory.end(), buffer);
        buffer[longDirectory.size()] = 0;
        return static_cast<unsigned>(longDirectory.size());
    };
    platform::ErrorCode error = 1;
    const std::wstring result = platform::queryDirectory(query, error);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(result, std::wstring(longDirectory.begin(), longDirectory.end()));
    EXPECT_EQ(sizesAsked, (std::vector<unsigned>{255, 304}));

    auto failing = [](char*, unsigned) -> unsigned {
        ::SetLastError(ERROR_INVALID_FUNCTION);
        return 0;
    };
    EXPECT_EQ(platform::queryDirectory(failing, error), L"");
    EXPECT_EQ(error, static_cast<platform::ErrorCode>(ERROR_INVALID_FUNCTION));
}

TEST(Win32Services, NewFileReplacesAHiddenOneInOneStep) {
    TempDir dir;
    platform::Win32Services services;
    writeFile(dir / L"list.kdl", "old\r\n", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(services.writeNewFile(dir / L"list.kdl.new", "new\r\n"), 0u);
    ASSERT_EQ(services.replaceFile(dir / L"list.kdl.new", dir / L"list.kdl"), 0u);
    EXPECT_EQ(readFile(dir / L"list.kdl"), "new\r\n");
    EXPECT_EQ(::GetFileAttributesW((dir / L"list.kdl.new").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetFileAttributesW((dir / L"list.kdl").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(Win32Services, WriteIntoAMissingFolderFailsAndLeavesNothing) {
    TempDir dir;
    platform::Win32Services services;
    EXPECT_NE(services.writeNewFile(dir / L"absent\\x.kdl", "x"), 0u);
    EXPECT_NE(services.replaceFile(dir / L"absent.new", dir / L"x.kdl"), 0u);
}

TEST(Win32Services, ReaderStreamsTheWholeFile) {
    TempDir dir;
    platform::Win32Services services;
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "name" + std::to_string(i) + ".dll\r\n";
    writeFile(dir / L"list.kdl", big);
    std::unique_ptr<platform::ByteReader> reader;
    ASSERT_EQ(services.openRead(dir / L"list.kdl", reader), 0u);
    std::string back;
    char buffer[1000];
    std::size_t got = 0;
    while (reader->read(buffer, sizeof(buffer), got) == 0 && got > 0)
        back.append(buffer, got);
    EXPECT_EQ(back, big);
    EXPECT_EQ(services.openRead(dir / L"absent.kdl", reader),
              static_cast<platform::ErrorCode>(ERROR_FILE_NOT_FOUND));
}

TEST(Win32Services, AttributesTellFilesFromFolders) {
    TempDir dir;
    platform::Win32Services services;
    writeFile(dir / L"h.dll", "x", FILE_ATTRIBUTE_HIDDEN);
    const platform::Attributes file = services.attributes(dir / L"h.dll");
    EXPECT_TRUE(file.exists);
    EXPECT_FALSE(file.directory);
    EXPECT_TRUE(file.hidden);
    EXPECT_TRUE(services.attributes(dir.path()).directory);
    EXPECT_FALSE(services.attributes(dir / L"absent").exists);
}

TEST(Win32Services, ErrorReasonsAreTheSystemsWordingOnOneLine) {
    platform::Win32Services services;
    const std::wstring reason = services.errorReason(ERROR_SHARING_VIOLATION);
    EXPECT_GT(reason.size(), 4u);
    EXPECT_EQ(reason.find_first_of(L"\r\n"), std::wstring::npos);
    EXPECT_NE(reason.back(), L' ');
    cache::FileReport report;
    report.add(ERROR_SHARING_VIOLATION, L"d.dll");
    EXPECT_EQ(report.text(services), reason + L" (1): d.dll");
    EXPECT_NE(cache::failureText(L"x", L"", services, ERROR_ACCESS_DENIED).find(L"(错误代码 5)"),
              std::wstring::npos);
}

// A cache folder the program creates: administrators and the system may
// change it, users read it, nothing comes from the folder above. (Wine
// keeps no such rights to read back, so they are read where they are made.)
TEST(Win32Services, ACreatedCacheFolderIsTheAdministratorsAlone) {
    platform::CacheFolderRights rights;
    ASSERT_NE(rights.attributes(), nullptr);
    const PSECURITY_DESCRIPTOR descriptor = rights.attributes()->lpSecurityDescriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0);
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr);
    const std::pair<const wchar_t*, DWORD> allowed[] = {
        {L"S-1-5-32-544", FILE_ALL_ACCESS},
        {L"S-1-5-18", FILE_ALL_ACCESS},
        {L"S-1-5-32-545", FILE_GENERIC_READ | FILE_GENERIC_EXECUTE}};
    ASSERT_EQ(acl->AceCount, 3u);
    for (DWORD i = 0; i < 3; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(::GetAce(acl, i, &raw));
        const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        wchar_t* sid = nullptr;
        ASSERT_TRUE(::ConvertSidToStringSidW(const_cast<DWORD*>(&ace->SidStart), &sid));
        EXPECT_EQ(std::wstring(sid), allowed[i].first);
        ::LocalFree(sid);
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask, allowed[i].second);
    }
    TempDir dir;
    platform::Win32Services services;
    ASSERT_EQ(services.createFolder(dir / L"dllcache"), 0u);
    EXPECT_TRUE(services.attributes(dir / L"dllcache").directory);
}

} // namespace
