#include "cache/messages.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

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

} // namespace
