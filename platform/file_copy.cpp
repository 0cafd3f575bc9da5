// The copy into the cache, the flushes that put it on the disk, and the
// waits around files another program holds: the calls of the Win32
// services that decide whether a restore's data is whole and durable.
#include "platform/handles.h"
#include "platform/own_files.h"
#include "platform/redirection.h"
#include "platform/win32_services.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace platform {

namespace {

class Win32Copy : public OpenCopy {
  public:
    Win32Copy(Win32Services& services, FileHandle file, Win32Folder& folder, std::wstring temp)
        : services_(services), file_(std::move(file)), folder_(folder), temp_(std::move(temp)) {}
    ~Win32Copy() override { discard(); }
    HANDLE handle() const { return file_.get(); }
    void finished(std::uint64_t size, std::uint32_t serial) {
        size_ = size;
        serial_ = serial;
    }
    std::uint64_t size() const override { return size_; }
    std::uint32_t volumeSerial() const override { return serial_; }
    ErrorCode flush() override { return ::FlushFileBuffers(file_.get()) ? 0 : ::GetLastError(); }
    ErrorCode moveTo(const std::wstring& name) override {
        const RedirectionOff realSystemFolder;
        if (file_) {
            const ErrorCode error = renameThroughHandle(file_.get(), folder_, name);
            if (error != errorNotSupported) {
                // Its data is on the disk already: nothing is left to fail.
                if (error == 0) file_.reset();
                gone_ = error == 0;
                return error;
            }
            file_.reset(); // moved by name instead
        }
        if (!::MoveFileExW(folder_.pathOf(temp_).c_str(), folder_.pathOf(name).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ::GetLastError();
        gone_ = true;
        return 0;
    }
    ErrorCode discard() override {
        if (gone_) return 0;
        if (file_) {
            const RedirectionOff realSystemFolder;
            // Open and shared with no one: the name goes as the handle
            // closes, unless something below the sharing rules (a virus
            // scanner's filter) has it open too.
            const bool marked = deleteThroughHandle(file_.get()) == 0;
            file_.reset();
            if (marked) {
                const ErrorCode error = services_.nameGone(folder_, temp_);
                gone_ = error == 0;
                return error;
            }
        }
        const ErrorCode error = services_.removeOwnFile(folder_, temp_);
        gone_ = error == 0;
        return error;
    }

  private:
    Win32Services& services_;
    FileHandle file_;
    Win32Folder& folder_;
    std::wstring temp_;
    std::uint64_t size_ = 0;
    std::uint32_t serial_ = 0;
    bool gone_ = false; // moved or removed: nothing of it is left to remove
};

class Win32Volume : public Volume {
  public:
    Win32Volume(FileHandle device, std::uint32_t serial)
        : device_(std::move(device)), serial_(serial) {}
    std::uint32_t serial() const override { return serial_; }
    ErrorCode flush() override { return ::FlushFileBuffers(device_.get()) ? 0 : ::GetLastError(); }

  private:
    FileHandle device_;
    std::uint32_t serial_;
};

// Waits up to `ms` for `handle` (none: only the time). The caller's
// heartbeat between two waits lets the window answer the system.
bool waitFor(HANDLE handle, DWORD ms) {
    if (handle == nullptr) {
        ::Sleep(ms);
        return false;
    }
    return ::WaitForSingleObject(handle, ms) == WAIT_OBJECT_0;
}

// The second thread the flushes run on: made on first use and kept,
// waiting, for the life of the process, so a batch costs two events rather
// than a thread. None where the environment has
// KESTRUM_FLUSH_ON_WINDOW_THREAD: the tests under qemu's user emulation,
// which corrupts a thread's registers while another thread runs.
class Worker {
  public:
    static Worker* get() {
        static Worker* const worker =
            ::GetEnvironmentVariableW(L"KESTRUM_FLUSH_ON_WINDOW_THREAD", nullptr, 0) != 0 ? nullptr
                                                                                          : start();
        return worker;
    }
    // Starts `work`; `done` is signalled when it has ended.
    void post(const std::function<void()>& work) {
        job_ = &work;
        ::SetEvent(wake_);
    }
    HANDLE done() const { return done_; }

  private:
    static Worker* start() {
        auto* w = new Worker;
        w->wake_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        w->done_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        HANDLE thread = w->wake_ != nullptr && w->done_ != nullptr
                            ? ::CreateThread(nullptr, 0, run, w, 0, nullptr)
                            : nullptr;
        if (thread == nullptr) return nullptr; // the work then runs where it is asked for
        ::CloseHandle(thread);
        return w;
    }
    static DWORD WINAPI run(LPVOID self) {
        auto* w = static_cast<Worker*>(self);
        for (;;) {
            ::WaitForSingleObject(w->wake_, INFINITE);
            (*w->job_)();
            ::SetEvent(w->done_);
        }
    }
    HANDLE wake_ = nullptr;
    HANDLE done_ = nullptr;
    const std::function<void()>* job_ = nullptr;
};

} // namespace

ErrorCode Win32Services::copyFile(const std::wstring& from, Folder& folder,
                                  const std::wstring& name, std::unique_ptr<OpenCopy>& copy,
                                  CopySide& side) {
    RedirectionOff realSystemFolder;
    // A copy loop of our own rather than CopyFileEx: the copy stays open, so
    // its own handle flushes it later without a look-up by name, and no
    // other program can open it before then. The source is shared for
    // reading and deleting, as CopyFile shares it: an installer may hold a
    // system file with delete access for a replace at the next restart.
    side = CopySide::Source;
    FileHandle source(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) return ::GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(source.get(), &info)) return ::GetLastError();
    // A read-only copy (of a file from a CD, say) could be neither moved over
    // nor removed nor replaced by the next restore.
    const DWORD kept =
        info.dwFileAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    // A new file in the held folder, shared with no one: a name that exists
    // is never opened, so a file planted there is never written through.
    // Delete access, so that it is renamed or removed through this handle.
    side = CopySide::TempName;
    using namespace open_options;
    FileHandle created;
    if (const ErrorCode error =
            openOwn(folder, name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, create,
                    nonDirectory | sequential, kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, created))
        return error;
    // Removed through its handle when it goes out of scope unfinished.
    auto made = std::make_unique<Win32Copy>(*this, std::move(created),
                                            static_cast<Win32Folder&>(folder), name);
    const HANDLE target = made->handle();
    side = CopySide::Target;
    // Between chunks the window goes on answering; giving up leaves no
    // partial file.
    const auto beat = [this, &realSystemFolder] {
        const RedirectionOff::BackOn usual(realSystemFolder);
        return heartbeat();
    };
    // Large files in large chunks; most files of the cache are small.
    constexpr DWORD largest = 1 << 18;
    const DWORD chunk =
        info.nFileSizeHigh != 0 || info.nFileSizeLow >= largest ? largest : info.nFileSizeLow + 1;
    const std::unique_ptr<char[]> buffer(new char[chunk]);
    std::uint64_t size = 0;
    ErrorCode error = beat() ? 0 : errorCancelled;
    while (error == 0) {
        DWORD got = 0, written = 0;
        if (!::ReadFile(source.get(), buffer.get(), chunk, &got, nullptr)) {
            error = ::GetLastError();
            side = CopySide::Source;
        } else if (got == 0) {
            break;
        } else if (!::WriteFile(target, buffer.get(), got, &written, nullptr)) {
            error = ::GetLastError();
        } else if (written != got) {
            error = ERROR_WRITE_FAULT;
        } else if (!beat()) {
            error = errorCancelled;
        }
        size += written;
    }
    // The date the source was last written, as CopyFile keeps it.
    if (error == 0 && !::SetFileTime(target, nullptr, nullptr, &info.ftLastWriteTime))
        error = ::GetLastError();
    BY_HANDLE_FILE_INFORMATION written;
    if (error == 0 && !::GetFileInformationByHandle(target, &written)) error = ::GetLastError();
    if (error != 0) return error;
    made->finished(size, written.dwVolumeSerialNumber);
    copy = std::move(made);
    return 0;
}

ErrorCode Win32Services::openVolume(const std::wstring& path, std::unique_ptr<Volume>& volume) {
    const RedirectionOff realSystemFolder;
    wchar_t root[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(path.c_str(), root, MAX_PATH)) return ::GetLastError();
    // The copies compare their own volume's serial number with this one, so a
    // folder that is a link to another volume is never taken as flushed.
    DWORD serial = 0;
    if (!::GetVolumeInformationW(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return ::GetLastError();
    // The root C:\ opens as the device \\.\C: and a volume mounted in a
    // folder by its name, \\?\Volume{...}, without the final backslash.
    std::wstring device;
    if (std::wcslen(root) == 3 && root[1] == L':') {
        device = std::wstring(L"\\\\.\\") + root[0] + L':';
    } else {
        wchar_t name[MAX_PATH + 1] = {};
        if (!::GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH)) return ::GetLastError();
        device = name;
        if (!device.empty() && device.back() == L'\\') device.pop_back();
    }
    FileHandle handle(::CreateFileW(device.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    if (!handle) return ::GetLastError();
    volume = std::make_unique<Win32Volume>(std::move(handle), serial);
    return 0;
}

void Win32Services::aside(const std::function<void()>& work) {
    Worker* const worker = Worker::get();
    if (worker == nullptr) {
        work(); // no second thread to be had: here, as before
        return;
    }
    worker->post(work);
    // The work cannot be cut short: the window answers until it has ended.
    constexpr DWORD beat = 40;
    while (!waitFor(worker->done(), beat))
        heartbeat();
}

std::uint32_t Win32Services::ticks() {
    return ::GetTickCount();
}

bool Win32Services::pause(std::uint32_t ms) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (!heartbeat()) return false;
        const DWORD gone = ::GetTickCount() - start;
        if (gone >= ms) return true;
        constexpr DWORD slice = 20;
        waitFor(nullptr, ms - gone < slice ? ms - gone : slice);
    }
}

} // namespace platform
