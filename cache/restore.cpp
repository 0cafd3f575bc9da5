#include "cache/restore.h"

#include "cache/cache_copies.h"
#include "cache/change_span.h"
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
    // Lists the folders. A folder that does not exist holds nothing; one
    // that exists but cannot be read is an error, given with its path.
    platform::ErrorCode load(platform::Services& services, const Folders& folders,
                             std::wstring& failedFolder) {
        services_ = &services;
        const std::wstring* order[] = {&folders.system, &folders.windows, &folders.system16,
                                       &folders.drivers};
        for (std::size_t i = 0; i < folderCount; ++i) {
            folders_[i] = *order[i];
            std::vector<platform::FolderEntry> files;
            const platform::ErrorCode error = services.listFolder(folders_[i], false, files);
            if (error != 0 && error != platform::errorPathNotFound &&
                error != platform::errorFileNotFound && error != platform::errorNotAFolder) {
                failedFolder = folders_[i];
                return error;
            }
            files_[i].reserve(files.size());
            for (const platform::FolderEntry& f : files)
                files_[i].insert(services.caseKey(f.name));
        }
        return 0;
    }

    // The first folder, in the fixed order, holding a file (of any
    // attributes) of that name, joined with the name as listed; or empty.
    std::wstring find(const std::wstring& name) const {
        const std::wstring key = services_->caseKey(name);
        for (std::size_t i = 0; i < folderCount; ++i)
            if (files_[i].count(key) != 0) return folders_[i] + name;
        return std::wstring();
    }

  private:
    static constexpr std::size_t folderCount = 4;
    platform::Services* services_ = nullptr;
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

namespace {

void failed(WindowPort& window, const std::wstring& text) {
    window.messageBox(text, std::wstring(), Buttons::Ok, Icon::Exclamation);
}

// Opens the list and makes sure it is text in the system's code page, so a
// list that cannot be used ends the run before anything is changed.
bool openList(platform::Services& services, WindowPort& window, const std::wstring& listPath,
              std::unique_ptr<platform::ByteReader>& source) {
    platform::ErrorCode error = services.openRead(listPath, source);
    ListText text = ListText::Failed;
    if (error == 0) text = checkListText(*source, error);
    if (text == ListText::NotText) {
        failed(window, L"备份列表不是以系统代码页保存的文本列表,没有还原任何文件:\r\n" + listPath);
        return false;
    }
    // Read again from the start.
    source.reset();
    if (error == 0) error = services.openRead(listPath, source);
    if (error != 0) {
        failed(window, failureText(L"无法读取备份列表", listPath, services, error));
        return false;
    }
    return true;
}

// The command proper, between disabling and re-enabling the button.
void restore(platform::Services& services, WindowPort& window, DirList& Dir1,
             const std::wstring& listPath, const Folders& folders, const ChangeSpan& span) {
    std::unique_ptr<platform::ByteReader> source;
    if (!openList(services, window, listPath, source)) return;

    window.setCountEnabled(true);
    window.setBusyCursor(true);

    SystemFolders systemFolders;
    std::wstring unreadable;
    if (const platform::ErrorCode error = systemFolders.load(services, folders, unreadable)) {
        window.setBusyCursor(false);
        if (window.sessionEnding()) return;
        failed(window,
               failureText(L"无法读取系统文件夹,没有还原任何文件", unreadable, services, error));
        return;
    }

    // Anything named dllcache counts: a file of that name is not replaced,
    // and the command then says it cannot use the folder. A folder that
    // turns up between the look and its creation is not the program's:
    // never taken unseen.
    if (!services.attributes(folders.cache).exists) {
        if (const platform::ErrorCode error = services.createFolder(folders.cache)) {
            window.setBusyCursor(false);
            span.refuse(L"无法建立dllcache文件夹", folders.cache, error);
            return;
        }
    }
    std::unique_ptr<platform::Folder> cache;
    if (!beginChanges(services, window, folders, span, cache)) {
        window.setBusyCursor(false);
        return;
    }
    RestoreCounts counts;
    FileReport failures;
    CacheCopies copies(
        services, *cache, folders.cache,
        [&](std::uint64_t order, const std::wstring& name, platform::ErrorCode error) {
            if (error != 0) {
                ++counts.failed;
                failures.add(error, name, order);
            } else {
                ++counts.restored;
            }
        });
    // Left by a run that was killed in the middle of a copy. When not one
    // slot can be used, every copy would fail: stop before any.
    std::wstring leftover;
    if (const platform::ErrorCode stuck = copies.begin(leftover)) {
        window.setBusyCursor(false);
        failed(window, failureText(L"无法删除上次还原留下的临时文件,没有还原任何文件",
                                   cacheEntry(folders, leftover), services, stuck));
        return;
    }

    ListReader reader(*source, services);
    ProgramFilesSearch programFiles(services, Dir1);
    std::wstring name;
    platform::ErrorCode readError = 0;
    std::uint64_t line = 0;
    for (;;) {
        const ListReader::Item item = reader.next(name);
        if (item == ListReader::Item::End) break;
        if (item == ListReader::Item::Failed) {
            readError = reader.error();
            break;
        }
        // A line that is not a bare file name is never joined onto a
        // folder: it is skipped like a name found nowhere.
        ++line;
        if (item == ListReader::Item::Name && isBareFileName(name) && !isOwnFile(services, name)) {
            const std::wstring from = findSource(systemFolders, folders, Dir1, programFiles, name);
            if (!from.empty()) copies.add(line, from, name);
        }
        if (window.sessionEnding()) break;
        window.showProgress(progressText(counts.restored));
    }
    source.reset();

    // The session is ending: what is not yet moved is dropped, every cache
    // file is whole, and there is no one left to read a result.
    if (window.sessionEnding() || !copies.finish()) copies.drop();
    window.setBusyCursor(false);
    if (window.sessionEnding()) return;
    std::wstring failureLines;
    if (counts.failed != 0) failureLines = L"\r\n\r\n" + failures.text(services);
    if (readError != 0) {
        window.setCountText(L"已还原" + std::to_wstring(counts.restored) +
                            L"个文件,备份列表读取失败.");
        // Never "Successfully": the list was not read to its end.
        failed(window,
               finalBoxText(counts, false) + failureLines + L"\r\n\r\n" +
                   failureText(L"读取备份列表时出错,还原没有完成", listPath, services, readError));
    } else {
        window.setCountText(finalLabelText(counts));
        window.messageBox(finalBoxText(counts, true) + failureLines, std::wstring(), Buttons::Ok,
                          counts.failed == 0 ? Icon::Information : Icon::Exclamation);
    }
}

} // namespace

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
    const ChangeSpan span{
        restore_text::working, std::wstring(), true,
        [&](const std::wstring& what, const std::wstring& path, platform::ErrorCode error) {
            failed(window, failureText(what, path, services, error));
        }};
    runChanging(services, window, span, [&](const Folders& folders) {
        restore(services, window, Dir1, listPath, folders, span);
    });
    window.setRestoreEnabled(true);
}

} // namespace cache
