// The list file: one bare file name per line in the ANSI code page, every
// line ended by CR LF, no header or trailer. Reading stops at the end of
// the file or at the first empty line.
#pragma once

#include "cache/messages.h"
#include "platform/services.h"

#include <cstddef>
#include <string>
#include <vector>

namespace cache {

struct EncodedList {
    std::string bytes;
    FileReport leftOut; // names the code page cannot hold, not written
};

// A name that would come back as a different name is left out rather
// than written corrupted.
EncodedList encodeList(const std::vector<std::wstring>& names, platform::Services& services);

// Whether a list file can be text in an ANSI code page: it does not start
// with a UTF-16 byte-order mark and holds no NUL byte. Reads the whole file.
enum class ListText { Text, NotText, Failed };
ListText checkListText(platform::ByteReader& source, platform::ErrorCode& error);

// Streams the lines of a list file: memory stays bounded whatever the
// file's size. Lines may end in CR LF or a bare LF. A file that starts with
// a UTF-8 byte-order mark is read as UTF-8.
class ListReader {
  public:
    enum class Item {
        Name,     // `name` holds the line's text
        Unusable, // a line that cannot be a file name (too long, not valid in the code page)
        End,      // end of the file or an empty line
        Failed,   // reading failed: see error()
    };

    // Longer lines cannot hold a file name; they are skipped, not stored.
    static constexpr std::size_t maxLineBytes = 32767;

    ListReader(platform::ByteReader& source, platform::Services& services);

    Item next(std::wstring& name);
    platform::ErrorCode error() const { return error_; }

  private:
    bool fill();

    platform::ByteReader& source_;
    platform::Services& services_;
    std::vector<char> buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool eof_ = false;
    bool done_ = false;
    bool firstLine_ = true;
    bool utf8_ = false; // the file starts with a UTF-8 byte-order mark
    platform::ErrorCode error_ = 0;
};

} // namespace cache
