// The services over Win32, for the real program and the Windows tests.
#pragma once

#include "platform/handles.h"
#include "platform/services.h"

#include <functional>

#include <windows.h>

namespace platform {

// How a folder is listed: FindFirstFileExW with basic information and
// large fetches (Windows 7 on), or plain FindFirstFileW (every system).
enum class Listing { Fast, Compatible };

// Lists `folder` the given way, as Services::listFolder does; `beat` is
// called at the start and every few hundred entries, and the listing gives
// up with errorCancelled when it answers false.
ErrorCode listFolderWith(Listing how, const std::wstring& folder, bool directories,
                         std::vector<FolderEntry>& entries, const std::function<bool()>& beat);

// Which listing to use: the fast one where the system is new enough for it,
// and the compatible one from the first time the system rejects the call.
class ListingChoice {
  public:
    explicit ListingChoice(Listing first) : how_(first) {}
    ErrorCode list(const std::function<ErrorCode(Listing)>& lister);
    Listing current() const { return how_; }

  private:
    Listing how_;
};

// True on Windows 7 and later, which accept the fast listing.
bool systemHasFastListing();

class Win32Services : public Services {
  public:
    // Forces one way of listing (the benchmarks compare both).
    void useListing(Listing how) { listing_ = ListingChoice(how); }

    std::wstring systemDirectory(ErrorCode& error) override;
    std::wstring windowsDirectory(ErrorCode& error) override;
    std::wstring modulePath() override;
    ValueKind machineValue(const std::wstring& key, const std::wstring& name,
                           std::wstring& text) override;

    Attributes attributes(const std::wstring& path) override;
    ErrorCode listFolder(const std::wstring& folder, bool directories,
                         std::vector<FolderEntry>& entries) override;
    std::wstring fullPath(const std::wstring& path) override;
    ErrorCode deleteFile(const std::wstring& path) override;
    // In own_files.cpp: the held folder and what is done through it.
    ErrorCode createFolder(const std::wstring& path) override;
    ErrorCode holdFolder(const std::wstring& path, std::unique_ptr<Folder>& folder) override;
    ErrorCode removeOwnFile(Folder& folder, const std::wstring& name) override;
    ErrorCode lockFile(Folder& folder, const std::wstring& name,
                       std::unique_ptr<Held>& held) override;
    ErrorCode replaceBlocker(Folder& folder, const std::wstring& name) override;
    ErrorCode setReadOnly(Folder& folder, const std::wstring& name, bool readOnly) override;
    // Opens `name` in `folder` without following a link there; once more
    // following it where the file system knows no links and refuses the
    // flag (some network redirectors). For synchronous use.
    ErrorCode openOwn(Folder& folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, ULONG attributes, FileHandle& file);
    // 0 once nothing is left of `name` in `folder`, else why it stays:
    // another program still has it open, deleted.
    ErrorCode nameGone(Folder& folder, const std::wstring& name);
    // In file_copy.cpp: the copy, the flushes and what waits for files in use.
    ErrorCode copyFile(const std::wstring& from, Folder& folder, const std::wstring& name,
                       std::unique_ptr<OpenCopy>& copy, CopySide& side) override;
    ErrorCode openVolume(const std::wstring& path, std::unique_ptr<Volume>& volume) override;
    void aside(const std::function<void()>& work) override;
    std::uint32_t ticks() override;
    bool pause(std::uint32_t ms) override;
    ErrorCode writeNewFile(const std::wstring& path, const std::string& bytes) override;
    ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) override;
    ErrorCode openRead(const std::wstring& path, std::unique_ptr<ByteReader>& reader) override;

    bool toAnsi(const std::wstring& text, std::string& out) override;
    bool fromAnsi(const std::string& bytes, std::wstring& out) override;

    std::wstring caseKey(const std::wstring& name) override;
    void shellOpen(const std::string& address, int showCommand) override;
    std::wstring errorReason(ErrorCode error) override;

  protected:
    // NtCreateFile of `name` relative to `folder`, the one way a name in
    // the cache folder is opened: a swap of the folder, or of any folder
    // above it, changes nothing it reaches. The tests give answers here
    // of file systems Wine does not have.
    virtual ErrorCode openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access,
                                   ULONG share, ULONG disposition, ULONG options, ULONG attributes,
                                   FileHandle& file);

  private:
    ListingChoice listing_{systemHasFastListing() ? Listing::Fast : Listing::Compatible};
};

// One of the ANSI directory queries (GetSystemDirectoryA and the like):
// fills the buffer and returns the characters written, or returns the size
// needed when the buffer is too small, or 0 on failure.
using DirectoryQuery = std::function<unsigned(char* buffer, unsigned size)>;
// Runs it with a 255-character buffer, again with a larger one when asked,
// and returns the text converted from the ANSI code page.
std::wstring queryDirectory(const DirectoryQuery& query, ErrorCode& error);

// The system's text for an error code: the one place codes become words.
std::wstring errorMessage(ErrorCode error);

// Looks a function up in a system DLL that is already loaded: for calls that
// older systems lack, so that the program still loads there. Null where the
// system has no such function.
FARPROC lookUp(const wchar_t* dll, const char* name);
template <typename Function> Function systemFunction(const wchar_t* dll, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(lookUp(dll, name)));
}

// True for a 32-bit program on 64-bit Windows.
bool onWow64();

} // namespace platform
