#include "cache/list_file.h"

#include <cstring>

namespace cache {

EncodedList encodeList(const std::vector<std::wstring>& names, platform::Services& services) {
    EncodedList list;
    std::string ansi;
    for (const std::wstring& name : names) {
        if (!services.toAnsi(name, ansi)) {
            ++list.leftOut;
            continue;
        }
        list.bytes += ansi;
        list.bytes += "\r\n";
    }
    return list;
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
    if (tooLong) return Item::Unusable;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
        done_ = true;
        return Item::End;
    }
    if (!services_.fromAnsi(line, name)) return Item::Unusable;
    return Item::Name;
}

} // namespace cache
