#include "cache/backup.h"

#include "cache/change_span.h"
#include "cache/folders.h"
#include "cache/list_file.h"
#include "cache/messages.h"

#include <algorithm>
#include <iterator>

namespace cache {

namespace {

void fail(platform::Services& services, WindowPort& window, const std::wstring& what,
          const std::wstring& path, platform::ErrorCode error) {
    window.messageBox(failureText(what, path, services, error) + L"\r\n\r\n原有的备份列表未改变。",
                      backup_text::title, Buttons::Ok, Icon::Exclamation);
}

// The command proper, between disabling and re-enabling the button.
void backUp(platform::Services& services, WindowPort& window, FileList& File1,
            const Folders& folders, const ChangeSpan& span) {
    if (!services.attributes(folders.cache).directory) {
        fail(services, window, L"无法读取dllcache文件夹", folders.cache,
             platform::errorPathNotFound);
        return;
    }
    // Held while it is listed: the listing is of the folder the command
    // began with.
    std::unique_ptr<platform::Folder> cache;
    if (!beginChanges(services, window, folders, span, cache)) return;
    const platform::ErrorCode listed = File1.setPath(folders.cache);
    if (window.sessionEnding()) return; // the old list stays as it was
    if (listed != 0) {
        fail(services, window, L"无法读取dllcache文件夹", folders.cache, listed);
        return;
    }
    // The lock, or an interrupted restore's temporary copy, is no cache file.
    const auto isTemp = [&services](const std::wstring& name) { return isOwnFile(services, name); };
    std::vector<std::wstring> withoutTemp;
    const std::vector<std::wstring>* names = &File1.entries();
    if (std::any_of(names->begin(), names->end(), isTemp)) {
        std::remove_copy_if(names->begin(), names->end(), std::back_inserter(withoutTemp), isTemp);
        names = &withoutTemp;
    }
    if (names->empty()) {
        window.messageBox(backup_text::empty, std::wstring(), Buttons::Ok, Icon::Information);
        return;
    }

    const EncodedList list = encodeList(*names, services);

    // The old list is replaced only once the new one is completely on disk,
    // so a failure at any point leaves it as it was.
    const std::wstring listPath = listFilePath(services);
    const std::wstring newPath = listPath + L".new";
    if (const platform::ErrorCode error = services.writeNewFile(newPath, list.bytes)) {
        fail(services, window, L"无法在程序文件夹中写入备份列表", newPath, error);
        return;
    }
    if (const platform::ErrorCode error = services.replaceFile(newPath, listPath)) {
        services.deleteFile(newPath);
        fail(services, window, L"无法替换备份列表文件", listPath, error);
        return;
    }

    if (list.leftOut.total() == 0) {
        window.messageBox(backup_text::finished, backup_text::title, Buttons::Ok,
                          Icon::Information);
    } else {
        window.messageBox(std::wstring(backup_text::finished) + L"\r\n\r\n有" +
                              std::to_wstring(list.leftOut.total()) +
                              L"个文件名无法用系统代码页保存,未写入列表。\r\n" +
                              list.leftOut.text(services),
                          backup_text::title, Buttons::Ok, Icon::Exclamation);
    }
}

} // namespace

void runBackup(platform::Services& services, WindowPort& window, FileList& File1) {
    if (window.messageBox(backup_text::confirm, backup_text::confirmTitle, Buttons::OkCancel,
                          Icon::Information) != Answer::Ok)
        return;
    window.setBackupEnabled(false);
    const ChangeSpan span{
        backup_text::working, backup_text::title, false,
        [&](const std::wstring& what, const std::wstring& path, platform::ErrorCode error) {
            fail(services, window, what, path, error);
        }};
    runChanging(services, window, span,
                [&](const Folders& folders) { backUp(services, window, File1, folders, span); });
    window.setBackupEnabled(true);
}

} // namespace cache
