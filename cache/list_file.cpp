#include "cache/list_file.h"

#include <algorithm>
#include <cstring>

namespace cache {

namespace {

// Strict UTF-8 to wide text: no overlong forms, surrogates or values past
// U+10FFFF. Where wchar_t is 16 bits (Windows) the result is UTF-16.
bool fromUtf8(const std::string& bytes, std::wstring& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char lead = p[i];
        std::size_t more = 0;
        char32_t c = 0, least = 0;
        if (lead < 0x80) {
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1, c = lead & 0x1Fu, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2, c = lead & 0x0Fu, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3, c = lead & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= more) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u) return false;
            c = (c << 6) | (p[i + k] & 0x3Fu);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += more + 1;
        if (sizeof(wchar_t) == 2 && c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return true;
}

} // namespace

EncodedList encodeList(const std::vector<std::wstring>& names, platform::Services& services) {
    EncodedList list;
    std::string ansi;
    for (const std::wstring& name : names) {
        if (!services.toAnsi(name, ansi)) {
            list.leftOut.add(0, name);
            continue;
        }
        list.bytes += ansi;
        list.bytes += "\r\n";
    }
    return list;
}

ListText checkListText(platform::ByteReader& source, platform::ErrorCode& error) {
    std::vector<char> buffer(64 * 1024);
    std::string start; // the first two bytes
    for (;;) {
        std::size_t got = 0;
        if ((error = source.read(buffer.data(), buffer.size(), got)) != 0) return ListText::Failed;
        if (got == 0) return ListText::Text;
        if (std::memchr(buffer.data(), 0, got) != nullptr) return ListText::NotText;
        if (start.size() < 2) {
            start.append(buffer.data(), std::min<std::size_t>(got, 2 - start.size()));
            // Both byte orders of UTF-16: Notepad's "Unicode" and "Unicode big endian".
            if (start == "\xFF\xFE" || start == "\xFE\xFF") return ListText::NotText;
        }
    }
}

ListReader::ListReader(platform::ByteReader& source, platform::Services& services)
    : source_(source), services_(services), buffer_(64 * 1024) {}

bool ListReader::fill() {
    if (eof_) return false;
    std::size_t got = 0;
    error_ = source_.read(buffer_.data(), buffer_.size(), got);
    if (error_ != 0) return false;
    if (got == 0) {
        eof_ = true;
        return false;
    }
    pos_ = 0;
    len_ = got;
    return true;
}

ListReader::Item ListReader::next(std::wstring& name) {
    if (done_) return error_ != 0 ? Item::Failed : Item::End;
    std::string line;
    bool tooLong = false;
    bool sawAnything = false;
    for (;;) {
        if (pos_ == len_ && !fill()) {
            if (error_ != 0) {
                done_ = true;
                return Item::Failed;
            }
            // End of file: a last line without its line end still counts.
            if (!sawAnything) {
                done_ = true;
                return Item::End;
            }
            break;
        }
        sawAnything = true;
        const char* start = buffer_.data() + pos_;
        const void* hit = std::memchr(start, '\n', len_ - pos_);
        const std::size_t take =
            hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - start) : len_ - pos_;
        if (!tooLong) {
            if (line.size() + take > maxLineBytes + 1) { // +1: a CR before the LF
                tooLong = true;
                line.clear();
                line.shrink_to_fit();
            } else {
                line.append(start, take);
            }
        }
        pos_ += take;
        if (hit) {
            ++pos_;
            break;
        }
    }
    // A list saved as UTF-8 by Notepad starts with its byte-order mark;
    // its names are then UTF-8, not the code page.
    if (firstLine_ && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        line.erase(0, 3);
        utf8_ = true;
    }
    firstLine_ = false;
    if (tooLong) return Item::Unusable;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
        done_ = true;
        return Item::End;
    }
    if (!(utf8_ ? fromUtf8(line, name) : services_.fromAnsi(line, name))) return Item::Unusable;
    return Item::Name;
}

} // namespace cache
