// The backup command: records the names of the files now in the cache
// folder in the list file beside the executable. No file is copied.
#pragma once

#include "cache/folder_lists.h"
#include "cache/window_port.h"
#include "platform/services.h"

namespace cache {

namespace backup_text {
inline const wchar_t* const confirm = L"您确定要重新备份一次吗?";
inline const wchar_t* const confirmTitle = L"选择";
inline const wchar_t* const empty = L"没有可备份的数据,请检查dllcache是否为空";
inline const wchar_t* const finished = L"finished!";
inline const wchar_t* const title = L"backup";
inline const wchar_t* const working = L"正在备份系统文件缓存列表";
} // namespace backup_text

// Runs the whole command, from the confirmation to the final message.
// `File1` is the window's file enumerator.
void runBackup(platform::Services& services, WindowPort& window, FileList& File1);

} // namespace cache
