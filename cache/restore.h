// The restore command: refills the cache folder from the list file by
// copying each listed name from the first system folder that holds it.
#pragma once

#include "cache/folder_lists.h"
#include "cache/window_port.h"
#include "platform/services.h"

#include <cstdint>
#include <string>

namespace cache {

namespace restore_text {
inline const wchar_t* const noBackup = L"对不起,您还没有做过备份!";
inline const wchar_t* const noBackupTitle = L"注意";
inline const wchar_t* const confirm = L"Are you sure?";
inline const wchar_t* const working = L"正在还原系统文件缓存";
} // namespace restore_text

struct RestoreCounts {
    std::uint64_t restored = 0; // copies that succeeded
    std::uint64_t failed = 0;   // sources found whose copy failed
};

// "已还原12个文件..." while the run goes on.
std::wstring progressText(std::uint64_t restored);
// The label's and the box's last words on a run.
std::wstring finalLabelText(const RestoreCounts& counts);
// A list not read to its end is never reported as a success.
std::wstring finalBoxText(const RestoreCounts& counts, bool listReadToEnd);

// Runs the whole command, from the check for a list to the final message.
// `Dir1` is the window's directory enumerator, used for the program-files
// lookup.
void runRestore(platform::Services& services, WindowPort& window, DirList& Dir1);

} // namespace cache
