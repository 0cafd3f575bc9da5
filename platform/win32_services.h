// The services over Win32, for the real program and the Windows tests.
#pragma once

#include "platform/services.h"

#include <functional>

namespace platform {

class Win32Services : public Services {
  public:
    std::wstring systemDirectory(ErrorCode& error) override;
    std::wstring windowsDirectory(ErrorCode& error) override;
    std::wstring modulePath() override;

    Attributes attributes(const std::wstring& path) override;
    ErrorCode listFolder(const std::wstring& folder, bool directories,
                         std::vector<FolderEntry>& entries) override;
    ErrorCode createFolder(const std::wstring& path) override;
    ErrorCode deleteFile(const std::wstring& path) override;
    ErrorCode copyFile(const std::wstring& from, const std::wstring& to) override;
    ErrorCode writeNewFile(const std::wstring& path, const std::string& bytes) override;
    ErrorCode replaceFile(const std::wstring& from, const std::wstring& to) override;
    ErrorCode openRead(const std::wstring& path, std::unique_ptr<ByteReader>& reader) override;

    bool toAnsi(const std::wstring& text, std::string& out) override;
    bool fromAnsi(const std::string& bytes, std::wstring& out) override;

    std::wstring caseKey(const std::wstring& name) override;
    void shellOpen(const std::string& address) override;
    std::wstring errorText(ErrorCode error) override;
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

} // namespace platform
