// Owners for Win32 handles, so no handle is closed at two exits.
#pragma once

#include <windows.h>

#include <utility>

namespace platform {

template <typename Traits> class UniqueHandle {
  public:
    using Type = typename Traits::Type;
    UniqueHandle() = default;
    explicit UniqueHandle(Type h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(std::exchange(other.h_, Traits::invalid())) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.h_, Traits::invalid()));
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Type get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::invalid(); }
    void reset(Type h = Traits::invalid()) {
        if (h_ != Traits::invalid()) Traits::close(h_);
        h_ = h;
    }
    Type release() { return std::exchange(h_, Traits::invalid()); }

  private:
    Type h_ = Traits::invalid();
};

// Kernel handles whose invalid value is INVALID_HANDLE_VALUE (CreateFileW).
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { ::CloseHandle(h); }
};
// Kernel handles whose invalid value is NULL (CreateProcessW, events).
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { ::FindClose(h); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::DeleteObject(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::DestroyIcon(h); }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { ::RegCloseKey(h); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;
using IconHandle = UniqueHandle<IconTraits>;
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

} // namespace platform
