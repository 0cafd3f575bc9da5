// Copies into the cache folder that never leave a real name cut short or
// pointing at data that never reached the disk: each copy goes to a
// temporary name of its own, its data is put on the disk, and only then is
// it moved over the real name in one step. Files another program holds for
// a while (a virus scanner, a backup agent) are waited for, within bounds.
#pragma once

#include "platform/services.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cache {

class CacheCopies {
  public:
    // Told of each copy's end: its place in the list, the name in the
    // cache, and 0 or the error.
    using Done = std::function<void(std::uint64_t order, const std::wstring& name,
                                    platform::ErrorCode error)>;

    // Copies wait, open, in batches of up to one a temporary slot and this
    // many bytes: one flush of the volume (on a disk with a write cache, one
    // flush of the drive's cache) for all of them, and no more room taken
    // beside the old files than a nearly full disk can spare.
    static constexpr std::uint64_t batchBytes = 16u << 20;
    // How long a file that another program holds is tried again before its
    // copy counts as failed, and the longest interval between two tries.
    static constexpr std::uint32_t patience = 5000;
    static constexpr std::uint32_t longestWait = 250;

    // Copies into the held cache folder `folder`, found at `path`.
    CacheCopies(platform::Services& services, platform::Folder& folder, const std::wstring& path,
                Done done);
    ~CacheCopies() { drop(); }
    CacheCopies(const CacheCopies&) = delete;
    CacheCopies& operator=(const CacheCopies&) = delete;

    // Removes what a killed run left and opens the volume. Returns 0, or,
    // when no temporary slot can be used, the error of the first leftover,
    // whose name is put in `stuck`.
    platform::ErrorCode begin(std::wstring& stuck);
    // Copies `from` to the cache under `name`; told at once or later.
    void add(std::uint64_t order, const std::wstring& from, const std::wstring& name);
    // Moves what waits, tries again the files that were held, and removes
    // every temporary file it can. False when the session ended meanwhile:
    // the rest was dropped.
    bool finish();
    // Removes the copies not yet moved (the session ends): their real names
    // keep what they held.
    void drop();

  private:
    struct Item {
        std::uint64_t order = 0;
        std::wstring from;
        std::wstring name;
        platform::ErrorCode error = 0; // why it was set aside
        bool targetHeld = false;       // the real name was held, not the source
    };
    // What a temporary slot holds: nothing, a copy waiting for its batch's
    // flush, a copy whose move over a held real name is tried again, or a
    // name that cannot be used for now (another program holds it, or holds
    // it deleted) or for the whole run (a link, a reparse point, a folder).
    enum class Use { Free, Batch, Moving, Leftover, Foreign };
    struct Slot {
        Use use = Use::Free;
        Item item; // Batch and Moving: the copy in it
        std::unique_ptr<platform::OpenCopy> copy;
        platform::ErrorCode error = 0; // Leftover and Foreign: why
        std::uint32_t since = 0;       // when it was first refused
        std::uint32_t next = 0;        // when to try again
        std::uint32_t wait = 0;        // the interval before that
    };

    void copyInto(Item item);
    std::size_t freeSlot() const;
    bool waitForSlot();
    void flushBatch();
    void move(std::size_t slot);
    platform::ErrorCode moveOver(Slot& slot);
    // Removes the slot's copy, or what its name holds; 0 once it is free.
    platform::ErrorCode clear(std::size_t slot);
    void unusable(std::size_t slot, platform::ErrorCode error);
    void holdOff(Slot& slot, bool first);
    std::uint32_t ticks();
    // Tries again the held slots whose time has come.
    void retryDue();
    // A copy waits for its move, or a leftover held for less than patience.
    bool anyHeld();
    // Milliseconds until a held slot is to be tried again.
    std::uint32_t nextDue();
    void setAside(Item item, platform::ErrorCode error, bool targetHeld);
    void fail(const Item& item, platform::ErrorCode error);

    platform::Services& services_;
    platform::Folder& folder_;
    std::wstring path_;
    Done done_;
    std::vector<Slot> slots_;
    std::vector<std::size_t> batch_; // the slots of the batch, in order
    std::uint64_t batchSize_ = 0;    // bytes
    std::vector<Item> aside_;
    std::unique_ptr<platform::Volume> volume_;
    bool volumeWorks_ = false;
    // Cleared once a held file outlasted its patience: from then on a held
    // file is set aside at once rather than waited for.
    bool patient_ = true;
};

} // namespace cache
