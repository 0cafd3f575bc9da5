#include "cache/list_file.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

using Item = cache::ListReader::Item;

// Reads every item the way the restore does, recording names and markers.
std::vector<std::wstring> readAll(fake::Services& services, const std::string& bytes) {
    services.addFile(L"D:\\tools\\filelist.kdl", bytes);
    std::unique_ptr<platform::ByteReader> source;
    EXPECT_EQ(services.openRead(L"D:\\tools\\filelist.kdl", source), 0u);
    cache::ListReader reader(*source, services);
    std::vector<std::wstring> items;
    std::wstring name;
    for (int guard = 0; guard < 100000; ++guard) {
        const Item item = reader.next(name);
        if (item == Item::End) break;
        if (item == Item::Failed) {
            items.push_back(L"<failed>");
            break;
        }
        items.push_back(item == Item::Name ? name : L"<unusable>");
    }
    // Once ended, a reader stays ended.
    EXPECT_NE(reader.next(name), Item::Name);
    return items;
}

using Names = std::vector<std::wstring>;

TEST(ListFile, EveryLineEndsInCrLfInTheAnsiCodePage) {
    fake::Services services;
    const cache::EncodedList list =
        cache::encodeList({L"a.dll", L"\u4E2D\u6587.sys", L"NOEXT"}, services);
    EXPECT_EQ(list.bytes, "a.dll\r\n\xD6\xD0\xCE\xC4.sys\r\nNOEXT\r\n");
    EXPECT_EQ(list.leftOut.total(), 0u);
}

TEST(ListFile, NamesTheCodePageCannotHoldAreLeftOutNotCorrupted) {
    fake::Services services;
    const cache::EncodedList list =
        cache::encodeList({L"a.dll", L"\u00E9t\u00E9.dll", L"b.dll", L"\u0416.dll"}, services);
    EXPECT_EQ(list.bytes, "a.dll\r\nb.dll\r\n");
    EXPECT_EQ(list.leftOut.total(), 2u);
}

TEST(ListFile, ReadsLinesEndedByCrLfOrBareLf) {
    fake::Services services;
    EXPECT_EQ(readAll(services, "a.dll\r\nb.dll\nc.dll\r\n"),
              (Names{L"a.dll", L"b.dll", L"c.dll"}));
}

TEST(ListFile, AnEmptyLineEndsTheReading) {
    fake::Services services;
    EXPECT_EQ(readAll(services, "a.dll\r\nb.dll\r\n\r\nc.dll\r\n"), (Names{L"a.dll", L"b.dll"}));
    EXPECT_EQ(readAll(services, "\r\na.dll\r\n"), Names{});
    EXPECT_EQ(readAll(services, "a.dll\n\nb.dll\n"), Names{L"a.dll"});
}

TEST(ListFile, EmptyFileAndLastLineWithoutLineEnd) {
    fake::Services services;
    EXPECT_EQ(readAll(services, ""), Names{});
    EXPECT_EQ(readAll(services, "a.dll\r\nlast.dll"), (Names{L"a.dll", L"last.dll"}));
}

TEST(ListFile, WrittenListReadsBackTheSameNames) {
    fake::Services services;
    const Names names = {L"x.dll", L"\u5907\u4E2D.exe", L"y"};
    EXPECT_EQ(readAll(services, cache::encodeList(names, services).bytes), names);
}

TEST(ListFile, LinesSplitAcrossReadsAtEveryBoundary) {
    const std::string bytes = "first.dll\r\n\xD6\xD0.dll\r\nthird\r\n";
    for (std::size_t chunk = 1; chunk <= 8; ++chunk) {
        fake::Services services;
        services.readChunk = chunk;
        EXPECT_EQ(readAll(services, bytes), (Names{L"first.dll", L"\u4E2D.dll", L"third"}))
            << "chunk " << chunk;
    }
}

TEST(ListFile, OverlongAndUndecodableLinesAreUnusableButReadingGoesOn) {
    fake::Services services;
    const std::string huge(cache::ListReader::maxLineBytes + 10, 'x');
    EXPECT_EQ(readAll(services, "a.dll\r\n" + huge + "\r\n\xFF\xFE.dll\r\nb.dll\r\n"),
              (Names{L"a.dll", L"<unusable>", L"<unusable>", L"b.dll"}));
}

TEST(ListFile, AUtf8MarkMakesTheListUtf8AndPlainListsStayAnsi) {
    fake::Services services;
    // Notepad's UTF-8: 中文.dll, an emoji name, then a byte sequence that is
    // not UTF-8 (but would be code page 936).
    EXPECT_EQ(
        readAll(services, "\xEF\xBB\xBF\xE4\xB8\xAD\xE6\x96\x87.dll\r\n"
                          "\xF0\x9F\x98\x80.dll\r\n\xD6\xD0.dll\r\n\xC0\xAF.dll\r\nb.dll\r\n"),
        (Names{L"\u4E2D\u6587.dll", sizeof(wchar_t) == 2 ? L"\xD83D\xDE00.dll" : L"\U0001F600.dll",
               L"<unusable>", L"<unusable>", L"b.dll"}));
    EXPECT_EQ(readAll(services, "\xD6\xD0\xCE\xC4.dll\r\n"), (Names{L"\u4E2D\u6587.dll"}));
    // Strict: an encoded surrogate, overlong three- and four-byte forms, a
    // value past U+10FFFF.
    EXPECT_EQ(readAll(services, "\xEF\xBB\xBF\xED\xA0\x80.dll\r\n\xE0\x80\xAF.dll\r\n"
                                "\xF0\x80\x80\xAF.dll\r\n\xF4\x90\x80\x80.dll\r\nb.dll\r\n"),
              (Names{L"<unusable>", L"<unusable>", L"<unusable>", L"<unusable>", L"b.dll"}));
    // A mark counts on the first line only; later lines stay in the code page.
    EXPECT_EQ(readAll(services, "a.dll\r\n\xEF\xBB\xBF\xD6\xD0.dll\r\n\xE4\xB8\xAD.dll\r\n"
                                "\xD6\xD0.dll\r\n"),
              (Names{L"a.dll", L"<unusable>", L"<unusable>", L"\u4E2D.dll"}));
}

TEST(ListFile, AReadFailureIsReportedNotTakenForTheEnd) {
    fake::Services services;
    services.readChunk = 4;
    services.failReadAfter = 9;
    EXPECT_EQ(readAll(services, "a.dll\r\nbb.dll\r\nc.dll\r\n"), (Names{L"a.dll", L"<failed>"}));
}

} // namespace
