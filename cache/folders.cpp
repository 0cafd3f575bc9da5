#include "cache/folders.h"

namespace cache {

namespace {
bool endsWithSeparator(const std::wstring& text) {
    return !text.empty() && text.back() == L'\\';
}
} // namespace

std::wstring terminated(std::wstring folder) {
    if (!endsWithSeparator(folder)) folder += L'\\';
    return folder;
}

Folders foldersFrom(const std::wstring& systemDirectory, const std::wstring& windowsDirectory) {
    Folders f;
    f.system = terminated(systemDirectory);
    f.windows = terminated(windowsDirectory);
    f.cache = f.system + L"dllcache";
    f.system16 = f.windows + L"system\\";
    f.drivers = f.system + L"drivers\\";
    f.programFiles = f.windows.substr(0, 2) + L"\\program files";
    return f;
}

platform::ErrorCode resolveFolders(platform::Services& services, Folders& folders) {
    platform::ErrorCode error = 0;
    const std::wstring system = services.systemDirectory(error);
    if (error != 0) return error;
    const std::wstring windows = services.windowsDirectory(error);
    if (error != 0) return error;
    folders = foldersFrom(system, windows);
    return 0;
}

namespace {
const std::wstring tempStem = L"kestrum-restore";
const std::wstring tempExtension = L".tmp";
} // namespace

std::wstring restoreTempName(std::size_t slot) {
    if (slot == 0) return tempStem + tempExtension;
    return tempStem + L'-' + std::to_wstring(slot) + tempExtension;
}

bool isOwnFile(platform::Services& services, const std::wstring& name) {
    // Asked for every name of a large folder: compare lengths first.
    const std::size_t bare = tempStem.size() + tempExtension.size();
    const std::size_t lockLength = std::char_traits<wchar_t>::length(lockName);
    if ((name.size() < bare || name.size() > bare + 3) && name.size() != lockLength) return false;
    // Most names of those lengths fail here, without a case conversion.
    if (name[0] != L'k' && name[0] != L'K') return false;
    const std::wstring key = services.caseKey(name);
    if (key == services.caseKey(lockName)) return true;
    for (std::size_t slot = 0; slot < tempSlots; ++slot)
        if (key == services.caseKey(restoreTempName(slot))) return true;
    return false;
}

std::wstring cacheEntry(const Folders& folders, const std::wstring& name) {
    return folders.system + L"dllcache\\" + name;
}

std::wstring programFolder(const std::wstring& modulePath) {
    const std::size_t slash = modulePath.find_last_of(L'\\');
    if (slash == std::wstring::npos) return std::wstring();
    std::wstring folder = modulePath.substr(0, slash);
    // "E:" alone would mean the drive's current folder, not its root.
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

std::wstring listFilePath(const std::wstring& programFolder) {
    return terminated(programFolder) + L"filelist.kdl";
}

std::wstring listFilePath(platform::Services& services) {
    return listFilePath(programFolder(services.modulePath()));
}

} // namespace cache
