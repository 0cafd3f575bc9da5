#include "cache/restore.h"

#include "cache/entry_check.h"
#include "cache/folders.h"
#include "cache/list_file.h"
#include "cache/messages.h"
#include "cache/program_files.h"

#include <memory>
#include <unordered_set>
#include <vector>

namespace cache {

namespace {

bool isFile(const platform::Attributes& a) {
    return a.exists && !a.directory;
}

// The four system folders a name is looked for in first, each listed once
// per run: a lookup is then a set look-up rather than up to four file
// system calls for every line of the list.
class SystemFolders {
  public:
    SystemFolders(platform::Services& services, const Folders& folders) : services_(services) {
        const std::wstring* order[] = {&folders.system, &folders.windows, &folders.system16,
                                       &folders.drivers};
        for (std::size_t i = 0; i < folderCount; ++i) {
            folders_[i] = *order[i];
            std::vector<platform::FolderEntry> files;
            // A folder that is missing or unreadable holds nothing.
            services.listFolder(folders_[i], false, files);
            files_[i].reserve(files.size());
            for (const platform::FolderEntry& f : files)
                files_[i].insert(services.caseKey(f.name));
        }
    }

    // The first folder, in the fixed order, holding a file (of any
    // attributes) of that name, joined with the name as listed; or empty.
    std::wstring find(const std::wstring& name) const {
        const std::wstring key = services_.caseKey(name);
        for (std::size_t i = 0; i < folderCount; ++i)
            if (files_[i].count(key) != 0) return folders_[i] + name;
        return std::wstring();
    }

  private:
    static constexpr std::size_t folderCount = 4;
    platform::Services& services_;
    std::wstring folders_[folderCount];
    std::unordered_set<std::wstring> files_[folderCount];
};

// The first candidate holding `name`, the program-files lookup last;
// empty when none does.
std::wstring findSource(const SystemFolders& systemFolders, const Folders& folders, DirList& Dir1,
                        ProgramFilesSearch& programFiles, const std::wstring& name) {
    std::wstring source = systemFolders.find(name);
    if (!source.empty()) return source;
    Dir1.setEnabled(true);
    return programFiles.SearchedFile(name, folders.programFiles);
}

} // namespace

std::wstring progressText(std::uint64_t restored) {
    return L"已还原" + std::to_wstring(restored) + L"个文件...";
}

std::wstring finalLabelText(const RestoreCounts& counts) {
    if (counts.failed == 0)
        return L"已还原" + std::to_wstring(counts.restored) + L"个文件.文件还原成功.";
    return L"已还原" + std::to_wstring(counts.restored) + L"个文件," +
           std::to_wstring(counts.failed) + L"个文件还原失败.";
}

std::wstring finalBoxText(const RestoreCounts& counts, bool listReadToEnd) {
    if (counts.failed == 0 && listReadToEnd)
        return L"DllCache(" + std::to_wstring(counts.restored) + L") Restored Successfully";
    return L"DllCache(" + std::to_wstring(counts.restored) + L") Restored, " +
           std::to_wstring(counts.failed) + L" Failed";
}

void runRestore(platform::Services& services, WindowPort& window, DirList& Dir1) {
    const std::wstring listPath = listFilePath(services);
    if (!isFile(services.attributes(listPath))) {
        window.messageBox(restore_text::noBackup, restore_text::noBackupTitle, Buttons::Ok,
                          Icon::Exclamation);
        return;
    }
    if (window.messageBox(restore_text::confirm, std::wstring(), Buttons::OkCancel,
                          Icon::Question) != Answer::Ok)
        return;

    window.setRestoreEnabled(false);

    // Open the list before anything changes, so a list that cannot be read
    // ends the run with the window and the disk as they were.
    std::unique_ptr<platform::ByteReader> source;
    platform::ErrorCode error = services.openRead(listPath, source);
    Folders folders;
    if (error != 0) {
        window.messageBox(failureText(L"无法打开备份列表", listPath, services, error),
                          std::wstring(), Buttons::Ok, Icon::Exclamation);
        window.setRestoreEnabled(true);
        return;
    }
    if ((error = resolveFolders(services, folders)) != 0) {
        window.messageBox(failureText(L"无法取得系统文件夹", std::wstring(), services, error),
                          std::wstring(), Buttons::Ok, Icon::Exclamation);
        window.setRestoreEnabled(true);
        return;
    }

    // Anything named dllcache counts: a file of that name is not replaced,
    // and the copies into it then fail and are reported.
    if (!services.attributes(folders.cache).exists) services.createFolder(folders.cache);

    window.setCountEnabled(true);
    window.setBusyCursor(true);

    ListReader reader(*source, services);
    const SystemFolders systemFolders(services, folders);
    ProgramFilesSearch programFiles(services, Dir1);
    RestoreCounts counts;
    std::wstring name;
    platform::ErrorCode readError = 0;
    for (;;) {
        const ListReader::Item item = reader.next(name);
        if (item == ListReader::Item::End) break;
        if (item == ListReader::Item::Failed) {
            readError = reader.error();
            break;
        }
        // A line that is not a bare file name is never joined onto a
        // folder: it is skipped like a name found nowhere.
        if (item == ListReader::Item::Name && isBareFileName(name)) {
            const std::wstring from = findSource(systemFolders, folders, Dir1, programFiles, name);
            if (!from.empty()) {
                if (services.copyFile(from, cacheEntry(folders, name)) == 0)
                    ++counts.restored;
                else
                    ++counts.failed;
            }
        }
        window.showProgress(progressText(counts.restored));
    }
    source.reset();

    window.setBusyCursor(false);
    if (readError != 0) {
        window.setCountText(L"已还原" + std::to_wstring(counts.restored) +
                            L"个文件,备份列表读取失败.");
        // Never "Successfully": the list was not read to its end.
        window.messageBox(
            finalBoxText(counts, false) + L"\r\n\r\n" +
                failureText(L"读取备份列表时出错,还原没有完成", listPath, services, readError),
            std::wstring(), Buttons::Ok, Icon::Exclamation);
    } else {
        window.setCountText(finalLabelText(counts));
        window.messageBox(finalBoxText(counts, true), std::wstring(), Buttons::Ok,
                          counts.failed == 0 ? Icon::Information : Icon::Exclamation);
    }
    window.setRestoreEnabled(true);
}

} // namespace cache
