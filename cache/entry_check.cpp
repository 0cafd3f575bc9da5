#include "cache/entry_check.h"

namespace cache {

namespace {

wchar_t upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

bool isDeviceName(const std::wstring& name) {
    // The system takes the part before the first dot, trailing spaces
    // dropped, as the device: "nul.txt" and "COM1 .dll" are devices too.
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (wchar_t& c : base)
        c = upper(c);
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        const wchar_t d = base[3];
        // Superscript one to three count as digits here as well.
        return (d >= L'0' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
    }
    return false;
}

} // namespace

bool isBareFileName(const std::wstring& name) {
    // The system drops trailing dots and spaces when it opens a path, so
    // "kernel32.dll." would reach another file than the one named.
    if (name.empty() || name.back() == L'.' || name.back() == L' ') return false;
    for (const wchar_t c : name) {
        if (c < 32 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' ||
            c == L'<' || c == L'>' || c == L'|')
            return false;
    }
    return !isDeviceName(name);
}

} // namespace cache
