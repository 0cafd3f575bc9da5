// Texts shown to the user by the commands, in one place.
#pragma once

#include "platform/services.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cache {

// A command refused because another program runs one.
inline const wchar_t* const busyElsewhere =
    L"另一个Kestrum正在备份或还原系统文件缓存,请稍后再试。";

// "<what>:\r\n<path>\r\n\r\n<system's reason> (错误代码 N)" for a failed step.
std::wstring failureText(const std::wstring& what, const std::wstring& path,
                         platform::Services& services, platform::ErrorCode error);

// Which files a command could not handle, for its result box: grouped by
// the reason (0: one group without a reason line), each group with its
// count, and the first `shown` names in the order they came. Keeps only
// those names and one counter per reason, however many are added.
class FileReport {
  public:
    static constexpr std::size_t shown = 10;
    // Widest line, in columns (a Chinese character takes two): well inside
    // a message box on an 800 x 600 screen.
    static constexpr std::size_t lineColumns = 64;

    // `order` is the file's place in the command's own order (a restore's
    // list), which the report keeps whatever order the files come in;
    // without one, the order they come in.
    void add(platform::ErrorCode reason, const std::wstring& name);
    void add(platform::ErrorCode reason, const std::wstring& name, std::uint64_t order);
    std::uint64_t total() const { return total_; }

    // "<reason> (<count>): a.dll, b.dll, …" a group, wrapped, then
    // "……及另外N个文件" for the names not shown.
    std::wstring text(platform::Services& services) const;

  private:
    struct Group {
        platform::ErrorCode reason;
        std::uint64_t count;
        std::uint64_t first; // the order of its first file
    };
    struct Named {
        std::uint64_t order;
        platform::ErrorCode reason;
        std::wstring name;
    };
    std::vector<Group> groups_;
    std::vector<Named> named_; // the first `shown` files, in order
    std::uint64_t total_ = 0;
};

} // namespace cache
