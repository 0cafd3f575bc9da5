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

namespace {
// An administrator can move the cache (SFCDllCacheDir, set by hand or by
// Group Policy); Windows then keeps it there. The folder an expanded value
// names, without a final backslash except at a drive root, or an empty
// text when the value does not name a folder by a full path that fits in
// a path: Windows ignores such a value, and so does this program.
std::wstring movedCacheFolder(const std::wstring& value) {
    constexpr std::size_t longestPath = 259; // MAX_PATH without its null
    const auto isLetter = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    };
    std::size_t root = 0; // length of the part that must keep its last backslash
    if (value.size() >= 3 && isLetter(value[0]) && value[1] == L':' && value[2] == L'\\') {
        root = 3;
    } else if (value.rfind(L"\\\\", 0) == 0) {
        // \\server\share: both names present. \\?\ and \\.\ name no server.
        const std::size_t share = value.find(L'\\', 2);
        if (share == std::wstring::npos || share == 2) return std::wstring();
        const std::wstring server = value.substr(2, share - 2);
        if (server == L"?" || server == L".") return std::wstring();
        const std::size_t end = value.find(L'\\', share + 1);
        if ((end == std::wstring::npos ? value.size() : end) == share + 1) return std::wstring();
        root = share + 1;
    } else {
        return std::wstring();
    }
    std::wstring folder = value;
    while (folder.size() > root && folder.back() == L'\\')
        folder.pop_back();
    if (folder.size() > longestPath) return std::wstring();
    return folder;
}

// Where Windows looks for the moved cache, the policy first.
const wchar_t* const cachePlaces[] = {
    L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Windows File Protection",
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
};
const wchar_t* const systemVariables =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// Expands the value as Windows File Protection does, in winlogon, running
// as the system: with the system's own variables only, never the user's
// (which may shadow them) nor those a 32-bit program is given on 64-bit
// Windows. A name the system has no variable for stays as text, as the
// system's own expansion leaves it.
class SystemExpansion {
  public:
    SystemExpansion(platform::Services& services, const std::wstring& windowsFolder)
        : services_(services), windows_(windowsFolder) {
        if (windows_.size() > 3 && windows_.back() == L'\\') windows_.pop_back();
    }

    std::wstring expand(const std::wstring& text, int depth = 0) {
        std::wstring out;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t open = text.find(L'%', at);
            const std::size_t close = open == std::wstring::npos ? open : text.find(L'%', open + 1);
            if (close == std::wstring::npos) { // a lone % is text
                out += text.substr(at);
                break;
            }
            out += text.substr(at, open - at);
            std::wstring value;
            if (variable(text.substr(open + 1, close - open - 1), value, depth)) {
                out += value;
                at = close + 1;
            } else {
                // Kept with its opening %; its closing one may open the next.
                out += text.substr(open, close - open);
                at = close;
            }
        }
        return out;
    }

  private:
    bool variable(const std::wstring& name, std::wstring& value, int depth) {
        // A system variable may name others (windir is %SystemRoot%); a loop
        // among them stays text.
        constexpr int deepest = 8;
        if (name.empty() || depth > deepest) return false;
        const std::wstring key = services_.caseKey(name);
        if (key == services_.caseKey(L"SystemRoot")) return systemRoot(value);
        if (key == services_.caseKey(L"SystemDrive")) {
            if (!systemRoot(value) || value.size() < 2) return false;
            value.resize(2);
            return true;
        }
        std::wstring text;
        if (services_.machineValue(systemVariables, name, text) != platform::ValueKind::Text)
            return false;
        value = expand(text, depth + 1);
        return true;
    }
    // Where Windows was started from, as the system keeps it; the Windows
    // folder where that cannot be read.
    bool systemRoot(std::wstring& value) {
        if (services_.machineValue(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                   L"SystemRoot", value) == platform::ValueKind::Text &&
            !value.empty())
            return true;
        value = windows_;
        return !value.empty();
    }

    platform::Services& services_;
    std::wstring windows_;
};

std::wstring cacheFolderSet(platform::Services& services, const std::wstring& windowsFolder) {
    SystemExpansion system(services, windowsFolder);
    for (const wchar_t* key : cachePlaces) {
        std::wstring text;
        // Expanded whatever its type: a plain string typed by hand with
        // %SystemRoot% in it means the same.
        if (services.machineValue(key, L"SFCDllCacheDir", text) != platform::ValueKind::Text)
            continue;
        std::wstring folder = movedCacheFolder(system.expand(text));
        // In the form every later call, Win32 or native, takes as it is:
        // C:\x\.\cache, C:\x/cache and a doubled backslash name the folder
        // Windows uses.
        if (!folder.empty()) folder = movedCacheFolder(services.fullPath(folder));
        if (!folder.empty()) return folder;
    }
    return std::wstring();
}
} // namespace

platform::ErrorCode resolveFolders(platform::Services& services, Folders& folders) {
    platform::ErrorCode error = 0;
    const std::wstring system = services.systemDirectory(error);
    if (error != 0) return error;
    const std::wstring windows = services.windowsDirectory(error);
    if (error != 0) return error;
    folders = foldersFrom(system, windows);
    if (std::wstring moved = cacheFolderSet(services, folders.windows); !moved.empty())
        folders.cache = std::move(moved);
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
    return terminated(folders.cache) + name;
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
