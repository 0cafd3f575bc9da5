// Where the commands work: the system folders, the cache folder and the
// list file beside the executable, and the rules for joining names on them.
#pragma once

#include "platform/services.h"

#include <string>

namespace cache {

// `folder` with a backslash appended unless it already ends with one.
std::wstring terminated(std::wstring folder);

struct Folders {
    std::wstring system;       // terminated
    std::wstring windows;      // terminated
    std::wstring cache;        // where Windows keeps the cache; terminated only at a root
    std::wstring system16;     // windows + "system\"
    std::wstring drivers;      // system + "drivers\"
    std::wstring programFiles; // drive of the Windows folder + "\program files"
};

// Folder values derived from the directories as the system reports them.
Folders foldersFrom(const std::wstring& systemDirectory, const std::wstring& windowsDirectory);

// Asks the system afresh, the cache folder included. Returns 0 or the error
// of the query that failed.
platform::ErrorCode resolveFolders(platform::Services& services, Folders& folders);

// Path of an entry inside the cache folder.
std::wstring cacheEntry(const Folders& folders, const std::wstring& name);

// The restore copies each file to a temporary name in the cache folder and
// then moves it over the real one in one step, so an interrupted copy never
// leaves a cut-short file under a real name. Slot 0 is "kestrum-restore.tmp",
// slot n "kestrum-restore-n.tmp", for n up to `tempSlots` - 1.
constexpr std::size_t tempSlots = 32;
std::wstring restoreTempName(std::size_t slot);
// While a command runs it holds this file in the cache folder, so that no
// other program's command runs at the same time.
inline const wchar_t* const lockName = L"kestrum.lock";
// The program's own files in the cache: the lock and the temporary slots,
// exactly. Never cache entries: a backup leaves them out, a restore
// removes leftovers and skips such names in its list.
bool isOwnFile(platform::Services& services, const std::wstring& name);

// The folder holding the executable: terminated only when it is a drive root.
std::wstring programFolder(const std::wstring& modulePath);

// The list file in `programFolder`, joined with a single backslash.
std::wstring listFilePath(const std::wstring& programFolder);

// The list file beside the running executable.
std::wstring listFilePath(platform::Services& services);

} // namespace cache
