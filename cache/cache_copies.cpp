#include "cache/cache_copies.h"

#include "cache/folders.h"

#include <algorithm>

namespace cache {

namespace {

constexpr std::size_t none = static_cast<std::size_t>(-1);
// The first retry of a held file.
constexpr std::uint32_t firstWait = 50;

// Whether `when` has come, on a clock that wraps.
bool due(std::uint32_t when, std::uint32_t now) {
    return static_cast<std::int32_t>(now - when) >= 0;
}

} // namespace

CacheCopies::CacheCopies(platform::Services& services, platform::Folder& folder,
                         const std::wstring& path, Done done)
    : services_(services), folder_(folder), path_(path), done_(std::move(done)), slots_(tempSlots) {
}

platform::ErrorCode CacheCopies::begin(std::wstring& stuck) {
    platform::ErrorCode first = 0;
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        const platform::ErrorCode error = clear(slot);
        if (error != 0 && first == 0) {
            first = error;
            stuck = restoreTempName(slot);
        }
    }
    // A slot that cannot be used is skipped for another; only when none is
    // left can nothing be copied.
    if (freeSlot() == none) return first;
    // Opened once for the run. Where it cannot be (without administrator
    // rights, say), each copy is flushed through its own handle.
    volumeWorks_ = services_.openVolume(path_, volume_) == 0;
    return 0;
}

void CacheCopies::add(std::uint64_t order, const std::wstring& from, const std::wstring& name) {
    Item item;
    item.order = order;
    item.from = from;
    item.name = name;
    copyInto(std::move(item));
}

void CacheCopies::copyInto(Item item) {
    retryDue();
    bool triedForSpace = false, slotRefused = false;
    for (;;) {
        std::size_t slot = freeSlot();
        if (slot == none && waitForSlot()) slot = freeSlot();
        if (slot == none) {
            // No temporary name to be had for now: tried again at the end.
            setAside(std::move(item), platform::errorCannotMake, false);
            return;
        }
        std::unique_ptr<platform::OpenCopy> copy;
        platform::CopySide side = platform::CopySide::Source;
        const platform::ErrorCode error =
            services_.copyFile(item.from, folder_, restoreTempName(slot), copy, side);
        if (error == 0) {
            batchSize_ += copy->size();
            slots_[slot].use = Use::Batch;
            slots_[slot].item = std::move(item);
            slots_[slot].copy = std::move(copy);
            batch_.push_back(slot);
            if (freeSlot() == none || batchSize_ >= batchBytes) flushBatch();
            return;
        }
        // The copies that wait take room a copy on its own would have had,
        // a new file's name included: they move first. A full disk says
        // nothing of the temporary name.
        if (platform::diskFull(error)) {
            if (batch_.empty() || triedForSpace) {
                fail(item, error);
                return;
            }
            triedForSpace = true;
            flushBatch();
            continue;
        }
        if (side == platform::CopySide::TempName) {
            // Whatever refused the name (a file another program planted or
            // holds, one deleted but kept while it is held): the slot waits,
            // and another is tried. A file two names refused fails, as no
            // copy of it could be made.
            unusable(slot, error);
            if (!slotRefused) {
                slotRefused = true;
                continue;
            }
            fail(item, platform::errorCannotMake);
            return;
        }
        if (side == platform::CopySide::Source && platform::inUse(error)) {
            setAside(std::move(item), error, false);
            return;
        }
        fail(item, error);
        return;
    }
}

std::size_t CacheCopies::freeSlot() const {
    for (std::size_t slot = 0; slot < slots_.size(); ++slot)
        if (slots_[slot].use == Use::Free) return slot;
    return none;
}

bool CacheCopies::waitForSlot() {
    while (freeSlot() == none) {
        if (!patient_ || !anyHeld()) return false;
        if (!services_.pause(nextDue())) return false;
        retryDue();
    }
    return true;
}

void CacheCopies::flushBatch() {
    if (batch_.empty()) return;
    std::vector<std::size_t> batch;
    batch.swap(batch_);
    batchSize_ = 0;
    // Each copy's data is on the disk before it takes its real name: the
    // whole volume at once where that works, else (and for a copy that
    // went to another volume through a link) through the copy's own handle.
    // On a second thread, as a flush on a busy disk can take seconds.
    std::vector<platform::ErrorCode> errors(batch.size(), 0);
    platform::Volume* const volume = volumeWorks_ ? volume_.get() : nullptr;
    bool volumeFailed = false;
    services_.aside([&] {
        const bool whole = volume != nullptr && volume->flush() == 0;
        volumeFailed = volume != nullptr && !whole;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            platform::OpenCopy& copy = *slots_[batch[i]].copy;
            if (!whole || copy.volumeSerial() != volume->serial()) errors[i] = copy.flush();
        }
    });
    if (volumeFailed) volumeWorks_ = false;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const std::size_t slot = batch[i];
        if (errors[i] == 0) {
            move(slot);
            continue;
        }
        const Item item = std::move(slots_[slot].item);
        clear(slot);
        fail(item, errors[i]);
    }
}

void CacheCopies::move(std::size_t slot) {
    Slot& s = slots_[slot];
    const platform::ErrorCode error = moveOver(s);
    if (error == 0) {
        s.use = Use::Free;
        s.copy.reset();
        done_(s.item.order, s.item.name, 0);
        return;
    }
    const bool waited = s.use == Use::Moving;
    if (platform::inUse(error)) {
        // Another program holds the real name: the copy, still open, tries
        // again while the run goes on.
        if (!waited && patient_) {
            s.use = Use::Moving;
            holdOff(s, true);
            return;
        }
        if (waited && ticks() - s.since < patience) {
            holdOff(s, false);
            return;
        }
        // A hold that outlasts our patience may well last: from now on the
        // held files are set aside at once, not each waited for.
        if (waited) patient_ = false;
    }
    Item item = std::move(s.item);
    clear(slot);
    // Set aside at once, the real name is tried again at the end of the
    // run; one that had its patience fails as in use.
    if (platform::inUse(error) && !waited)
        setAside(std::move(item), error, true);
    else
        fail(item, error);
}

platform::ErrorCode CacheCopies::moveOver(Slot& slot) {
    const std::wstring& name = slot.item.name;
    platform::ErrorCode error = slot.copy->moveTo(name);
    // Windows refuses to replace a file that another program has open,
    // whatever it shares, and a read-only one (FAT says "already exists"
    // to that): which it is decides what to do.
    if (error != platform::errorAccessDenied && error != platform::errorAlreadyExists) return error;
    const platform::ErrorCode why = services_.replaceBlocker(folder_, name);
    if (platform::inUse(why)) return why;
    // Let go meanwhile: once more.
    if (why == 0) return slot.copy->moveTo(name);
    // A read-only cache file (an administrator's, or one an older version
    // restored from a read-only source): cleared, and put back should the
    // move still fail.
    if (why != platform::errorFileReadOnly || services_.setReadOnly(folder_, name, false) != 0)
        return error;
    error = slot.copy->moveTo(name);
    if (error != 0) services_.setReadOnly(folder_, name, true);
    return error;
}

platform::ErrorCode CacheCopies::clear(std::size_t slot) {
    Slot& s = slots_[slot];
    platform::ErrorCode error = 0;
    if (s.copy) {
        error = s.copy->discard();
        s.copy.reset();
    } else {
        error = services_.removeOwnFile(folder_, restoreTempName(slot));
    }
    if (error == 0) {
        s.use = Use::Free;
        s.error = 0;
    } else {
        unusable(slot, error);
    }
    return error;
}

void CacheCopies::unusable(std::size_t slot, platform::ErrorCode error) {
    Slot& s = slots_[slot];
    s.error = error;
    // Something the program did not make: left alone for the whole run.
    if (error == platform::errorNotPlainFile) {
        s.use = Use::Foreign;
        return;
    }
    const bool first = s.use != Use::Leftover;
    s.use = Use::Leftover;
    holdOff(s, first);
}

void CacheCopies::holdOff(Slot& slot, bool first) {
    const std::uint32_t now = services_.ticks();
    if (first) {
        slot.since = now;
        slot.wait = firstWait;
    } else {
        slot.wait = std::min(slot.wait * 2, longestWait);
    }
    slot.next = now + slot.wait;
}

std::uint32_t CacheCopies::ticks() {
    return services_.ticks();
}

void CacheCopies::retryDue() {
    for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
        Slot& s = slots_[slot];
        if ((s.use != Use::Moving && s.use != Use::Leftover) || !due(s.next, ticks())) continue;
        if (s.use == Use::Moving)
            move(slot);
        else
            clear(slot);
    }
}

bool CacheCopies::anyHeld() {
    const std::uint32_t now = ticks();
    return std::any_of(slots_.begin(), slots_.end(), [now](const Slot& s) {
        return s.use == Use::Moving || (s.use == Use::Leftover && now - s.since < patience);
    });
}

std::uint32_t CacheCopies::nextDue() {
    const std::uint32_t now = ticks();
    std::uint32_t soonest = longestWait;
    for (const Slot& s : slots_) {
        if (s.use != Use::Moving && s.use != Use::Leftover) continue;
        if (due(s.next, now)) return 0;
        soonest = std::min(soonest, s.next - now);
    }
    return soonest;
}

void CacheCopies::setAside(Item item, platform::ErrorCode error, bool targetHeld) {
    item.error = error;
    item.targetHeld = targetHeld;
    aside_.push_back(std::move(item));
}

void CacheCopies::fail(const Item& item, platform::ErrorCode error) {
    done_(item.order, item.name, error);
}

bool CacheCopies::finish() {
    flushBatch();
    // The files set aside are tried again in passes, for `patience` in all:
    // a hold that lasts costs the run that once, not once a file. Where the
    // real name was held, it is first asked whether it still is, which
    // costs far less than a copy.
    patient_ = true;
    const std::uint32_t start = ticks();
    while (!aside_.empty()) {
        std::vector<Item> items;
        items.swap(aside_);
        for (Item& item : items) {
            if (item.targetHeld && platform::inUse(services_.replaceBlocker(folder_, item.name)))
                aside_.push_back(std::move(item));
            else
                copyInto(std::move(item));
        }
        flushBatch();
        if (aside_.empty() || ticks() - start >= patience) break;
        if (!services_.pause(longestWait)) {
            drop();
            return false;
        }
        retryDue();
    }
    while (anyHeld()) {
        if (!services_.pause(nextDue())) {
            drop();
            return false;
        }
        retryDue();
    }
    for (const Item& item : aside_)
        fail(item, item.error);
    aside_.clear();
    // Every leftover that can be removed by now is; a free slot's name is
    // already gone.
    for (std::size_t slot = 0; slot < slots_.size(); ++slot)
        if (slots_[slot].use == Use::Leftover) clear(slot);
    return true;
}

void CacheCopies::drop() {
    batch_.clear();
    batchSize_ = 0;
    aside_.clear();
    for (std::size_t slot = 0; slot < slots_.size(); ++slot)
        if (slots_[slot].copy) clear(slot);
}

} // namespace cache
