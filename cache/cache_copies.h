// Copies into the cache folder that never leave a real name cut short or
// pointing at data that never reached the disk: each copy goes to a
// temporary name of its own, its data is put on the disk, and only then is
// it moved over the real name in one step.
#pragma once

#include "cache/folders.h"
#include "platform/services.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace cache {

class CacheCopies {
  public:
    // Told of each copy's end: the name in the cache, and 0 or the error.
    using Done = std::function<void(const std::wstring& name, platform::ErrorCode error)>;

    // Where the whole volume can be flushed at once, copies are gathered
    // into batches of this many with one flush each, rather than one flush
    // (on a disk with a write cache, one flush of the drive's cache) a file.
    static constexpr std::size_t batchSize = 32;

    CacheCopies(platform::Services& services, const Folders& folders, Done done);
    ~CacheCopies() { drop(); }
    CacheCopies(const CacheCopies&) = delete;
    CacheCopies& operator=(const CacheCopies&) = delete;

    // Removes what a killed run left and chooses how to flush. Returns 0,
    // or the error of a leftover that cannot be removed, named in `stuck`:
    // it would make the copies fail.
    platform::ErrorCode begin(std::wstring& stuck);
    // Copies `from` to the cache under `name`. A failed copy is told at
    // once, the others when their batch is flushed and moved.
    void add(const std::wstring& from, const std::wstring& name);
    // Flushes and moves the copies not yet moved.
    void finish();
    // Removes the copies not yet moved (the session ends): their real names
    // keep what they held.
    void drop();

  private:
    struct Pending {
        std::wstring temp;
        std::wstring name;
    };
    platform::Services& services_;
    const Folders& folders_;
    Done done_;
    bool wholeVolume_ = false;
    std::vector<Pending> pending_;
};

} // namespace cache
