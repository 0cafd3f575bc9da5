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

bool isRestoreTemp(platform::Services& services, const std::wstring& name) {
    // Asked for every name of a large folder: compare lengths first.
    const std::size_t bare = tempStem.size() + tempExtension.size();
    if (name.size() < bare || name.size() > bare + 10) return false;
    // Most names of that length fail here, without a case conversion.
    if ((name[0] != L'k' && name[0] != L'K') || name[name.size() - tempExtension.size()] != L'.')
        return false;
    const std::wstring key = services.caseKey(name);
    if (key.compare(0, tempStem.size(), services.caseKey(tempStem)) != 0 ||
        key.compare(key.size() - tempExtension.size(), tempExtension.size(),
                    services.caseKey(tempExtension)) != 0)
        return false;
    // Between the two: nothing, or a dash and a slot number.
    const std::wstring slot = key.substr(tempStem.size(), key.size() - bare);
    if (slot.empty()) return true;
    if (slot.size() < 2 || slot[0] != L'-') return false;
    for (std::size_t i = 1; i < slot.size(); ++i)
        if (slot[i] < L'0' || slot[i] > L'9') return false;
    return true;
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
