// The services over Win32, for the real program and the Windows tests.
#pragma once

#include "platform/services.h"

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

// The system's text for an error code: the one place codes become words.
std::wstring errorMessage(ErrorCode error);

} // namespace platform
