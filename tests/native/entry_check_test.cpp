#include "cache/entry_check.h"

#include <gtest/gtest.h>

namespace {

TEST(EntryCheck, OrdinaryNamesPass) {
    for (const wchar_t* name :
         {L"a.dll", L"NOEXT", L"\u4E2D\u6587.sys", L"console.dll", L"econ.dll", L"com10.dll",
          L"lpt.dll", L".hidden", L"a b.dll", L"nul_.dll"})
        EXPECT_TRUE(cache::isBareFileName(name)) << name;
}

TEST(EntryCheck, AnythingThatReachesOutsideTheFolderIsRefused) {
    for (const wchar_t* name :
         {L"", L"..\\..\\x.dll", L"C:\\x.dll", L"\\\\host\\share\\x.dll", L"a/b.dll", L"C:x.dll",
          L".", L"..", L"...", L". .", L"x.dll:stream", L"a\\b.dll", L"/etc/passwd",
          // The system would open "hdot.dll" and "hsp.dll" for these.
          L"hdot.dll.", L"hsp.dll ", L"x.dll. . "})
        EXPECT_FALSE(cache::isBareFileName(name)) << name;
}

TEST(EntryCheck, DeviceNamesAreRefusedWithOrWithoutExtension) {
    for (const wchar_t* name : {L"CON", L"con", L"PRN.txt", L"aux.dll", L"NUL", L"nul.tar.gz",
                                L"COM1", L"com9.dll", L"LPT1", L"lpt5.sys", L"COM1 .dll",
                                L"NUL   .txt", L"aux  .dll.x", L"lpt2  .sys",
                                L"COM\u00B9", L"CONIN$", L"conout$.x", L"con.dll.bak2"})
        EXPECT_FALSE(cache::isBareFileName(name)) << name;
}

TEST(EntryCheck, CharactersFileNamesCannotHoldAreRefused) {
    for (const std::wstring& name :
         {std::wstring(L"a\0b.dll", 7), std::wstring(L"a\tb.dll"), std::wstring(L"a*.dll"),
          std::wstring(L"a?.dll"), std::wstring(L"a|b"), std::wstring(L"<a>"),
          std::wstring(L"\"a\"")})
        EXPECT_FALSE(cache::isBareFileName(name));
}

} // namespace
