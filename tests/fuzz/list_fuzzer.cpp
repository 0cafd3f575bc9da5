// libFuzzer target: arbitrary bytes as a list file, read the way the
// restore reads it, every line put through the entry check. Checks what
// the restore relies on, besides the sanitizers' own findings.
#include "../native/fakes.h"
#include "cache/entry_check.h"
#include "cache/folders.h"
#include "cache/list_file.h"

#include <cstdint>
#include <cstdlib>

namespace {
void require(bool condition) {
    if (!condition) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fake::Services services;
    // The first byte picks how the bytes arrive, to reach every boundary.
    services.readChunk = size > 0 ? 1 + data[0] % 64 : 1;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    services.addFile(L"D:\\tools\\filelist.kdl", bytes);
    std::unique_ptr<platform::ByteReader> source;
    require(services.openRead(L"D:\\tools\\filelist.kdl", source) == 0);

    // The check for text in an ANSI code page reads it all and never fails.
    platform::ErrorCode error = 0;
    const cache::ListText text = cache::checkListText(*source, error);
    require(error == 0 && text != cache::ListText::Failed);
    require(services.openRead(L"D:\\tools\\filelist.kdl", source) == 0);

    cache::ListReader reader(*source, services);
    cache::FileReport report; // the result box's list of names
    std::size_t lineEnds = 0;
    for (char c : bytes)
        lineEnds += c == '\n';
    std::size_t items = 0;
    std::wstring name;
    for (;;) {
        const cache::ListReader::Item item = reader.next(name);
        if (item == cache::ListReader::Item::End || item == cache::ListReader::Item::Failed) break;
        require(++items <= lineEnds + 1); // never more lines than the file has
        if (item != cache::ListReader::Item::Name) continue;
        require(!name.empty());
        report.add(static_cast<platform::ErrorCode>(name.size() % 3), name);
        require(name.size() <= cache::ListReader::maxLineBytes + 1);
        if (!cache::isBareFileName(name)) continue;
        // A name that passes stays inside the folder it is joined onto.
        const std::wstring joined = cache::terminated(L"C:\\WINDOWS\\system32") + name;
        require(joined.find(L'\\', 20) == std::wstring::npos);
        require(name.find_first_of(L"\\/:") == std::wstring::npos);
        require(name.find_first_not_of(L". ") != std::wstring::npos);
    }
    // However many names and whatever their width, no line of it is wider
    // than the box allows.
    const std::wstring lines = report.text(services);
    std::size_t width = 0;
    for (const wchar_t c : lines) {
        width = c == L'\n' ? 0 : width + (c >= 0x1100 ? 2 : 1);
        require(width <= cache::FileReport::lineColumns + 1); // +1: the CR before a LF
    }
    return 0;
}
