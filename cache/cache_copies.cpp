#include "cache/cache_copies.h"

namespace cache {

namespace {
bool missing(platform::ErrorCode error) {
    return error == platform::errorFileNotFound || error == platform::errorPathNotFound;
}
} // namespace

CacheCopies::CacheCopies(platform::Services& services, const Folders& folders, Done done)
    : services_(services), folders_(folders), done_(std::move(done)) {}

platform::ErrorCode CacheCopies::begin(std::wstring& stuck) {
    for (std::size_t slot = 0; slot < batchSize; ++slot) {
        const std::wstring leftover = cacheEntry(folders_, restoreTempName(slot));
        const platform::ErrorCode error = services_.deleteFile(leftover);
        if (error != 0 && !missing(error)) {
            stuck = leftover;
            return error;
        }
    }
    wholeVolume_ = services_.flushVolume(folders_.cache) == 0;
    return 0;
}

void CacheCopies::add(const std::wstring& from, const std::wstring& name) {
    const std::wstring temp = cacheEntry(folders_, restoreTempName(pending_.size()));
    const platform::ErrorCode error = services_.copyFile(
        from, temp, wholeVolume_ ? platform::Flush::Later : platform::Flush::Now);
    if (error != 0) {
        services_.deleteFile(temp);
        done_(name, error);
        return;
    }
    pending_.push_back({temp, name});
    if (!wholeVolume_ || pending_.size() == batchSize) finish();
}

void CacheCopies::finish() {
    if (pending_.empty()) return;
    // Should the volume flush fail after all, each copy is flushed on its
    // own, this batch and from now on.
    const bool flushEach = wholeVolume_ && services_.flushVolume(folders_.cache) != 0;
    if (flushEach) wholeVolume_ = false;
    std::vector<Pending> batch;
    batch.swap(pending_);
    for (const Pending& p : batch) {
        platform::ErrorCode error = flushEach ? services_.flushFile(p.temp) : 0;
        if (error == 0) error = services_.replaceFile(p.temp, cacheEntry(folders_, p.name));
        if (error != 0) services_.deleteFile(p.temp);
        done_(p.name, error);
    }
}

void CacheCopies::drop() {
    for (const Pending& p : pending_)
        services_.deleteFile(p.temp);
    pending_.clear();
}

} // namespace cache
