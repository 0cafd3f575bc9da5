#include "cache/messages.h"

#include <algorithm>

namespace cache {

namespace {

bool isLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// East Asian characters are drawn twice as wide. A surrogate pair is one
// character: its second half takes no column, so no cut falls between them.
std::size_t columns(wchar_t c) {
    if (isLowSurrogate(c)) return 0;
    return c >= 0x1100 ? 2 : 1;
}

std::size_t columns(const std::wstring& text) {
    std::size_t n = 0;
    for (const wchar_t c : text)
        n += columns(c);
    return n;
}

// A name too wide for a line keeps its start and its end.
std::wstring fitted(const std::wstring& name, std::size_t width) {
    if (columns(name) <= width) return name;
    const std::size_t tailWidth = width / 3;
    std::wstring tail;
    for (std::size_t i = name.size(), w = 0; i > 0 && w + columns(name[i - 1]) <= tailWidth; --i) {
        w += columns(name[i - 1]);
        tail.insert(tail.begin(), name[i - 1]);
    }
    if (!tail.empty() && isLowSurrogate(tail.front())) tail.erase(0, 1);
    std::wstring head;
    for (std::size_t i = 0, w = 0; w + columns(name[i]) <= width - tailWidth - 1; ++i) {
        w += columns(name[i]);
        head += name[i];
    }
    return head + L"\u2026" + tail;
}

// Words joined by spaces into lines of at most `width` columns; later lines
// indented. A word wider than a line is cut between characters.
class Wrapper {
  public:
    explicit Wrapper(std::size_t width) : width_(width) {}
    void word(const std::wstring& w) {
        if (lineHasWord_) {
            if (used_ + 1 + columns(w) <= width_) {
                text_ += L' ';
                ++used_;
            } else {
                newLine();
            }
        }
        for (const wchar_t c : w) {
            if (used_ + columns(c) > width_) newLine();
            text_ += c;
            used_ += columns(c);
        }
        lineHasWord_ = true;
    }
    void endLine() {
        text_ += L"\r\n";
        used_ = 0;
        lineHasWord_ = false;
    }
    const std::wstring& text() const { return text_; }

  private:
    void newLine() {
        constexpr std::size_t indent = 4;
        text_ += L"\r\n" + std::wstring(indent, L' ');
        used_ = indent;
        lineHasWord_ = false;
    }
    std::size_t width_;
    std::size_t used_ = 0;
    bool lineHasWord_ = false;
    std::wstring text_;
};

} // namespace

std::wstring failureText(const std::wstring& what, const std::wstring& path,
                         platform::Services& services, platform::ErrorCode error) {
    std::wstring text = what;
    if (!path.empty()) text += L":\r\n" + path;
    text +=
        L"\r\n\r\n" + services.errorReason(error) + L" (错误代码 " + std::to_wstring(error) + L")";
    return text;
}

void FileReport::add(platform::ErrorCode reason, const std::wstring& name) {
    add(reason, name, total_);
}

void FileReport::add(platform::ErrorCode reason, const std::wstring& name, std::uint64_t order) {
    ++total_;
    auto group = std::find_if(groups_.begin(), groups_.end(),
                              [reason](const Group& g) { return g.reason == reason; });
    if (group == groups_.end()) {
        groups_.push_back({reason, 0, order});
        group = groups_.end() - 1;
    }
    ++group->count;
    group->first = std::min(group->first, order);
    if (named_.size() == shown && order >= named_.back().order) return;
    const auto at = std::upper_bound(named_.begin(), named_.end(), order,
                                     [](std::uint64_t o, const Named& n) { return o < n.order; });
    named_.insert(at, {order, reason, name});
    if (named_.size() > shown) named_.pop_back();
}

std::wstring FileReport::text(platform::Services& services) const {
    Wrapper lines(lineColumns);
    std::vector<Group> groups = groups_;
    std::sort(groups.begin(), groups.end(),
              [](const Group& a, const Group& b) { return a.first < b.first; });
    for (const Group& g : groups) {
        std::vector<std::wstring> names;
        for (const Named& n : named_)
            if (n.reason == g.reason) names.push_back(n.name);
        if (g.reason != 0) {
            std::wstring reason = services.errorReason(g.reason);
            // English reasons break between words, Chinese ones anywhere.
            for (std::size_t start = 0; start < reason.size();) {
                const std::size_t space = reason.find(L' ', start);
                const std::size_t end = space == std::wstring::npos ? reason.size() : space;
                if (end > start) lines.word(reason.substr(start, end - start));
                start = end + 1;
            }
            lines.word(L"(" + std::to_wstring(g.count) + (names.empty() ? L")" : L"):"));
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            const bool more = i + 1 < names.size() || g.count > names.size();
            lines.word(fitted(names[i], lineColumns - 6) + (more ? L"," : L""));
        }
        if (!names.empty() && g.count > names.size()) lines.word(L"\u2026");
        lines.endLine();
    }
    std::wstring text = lines.text();
    if (total_ > named_.size())
        text += L"\u2026\u2026及另外" + std::to_wstring(total_ - named_.size()) + L"个文件\r\n";
    // No line break after the last line: the box would show an empty one.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

} // namespace cache
