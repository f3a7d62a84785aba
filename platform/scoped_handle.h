// One owner for each Windows handle: the handle is closed on every path out of
// the scope that holds it. Non-copyable, movable.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <utility>

template <typename Handle, typename Traits>
class ScopedHandle {
  public:
    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() { reset(); }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Handle get() const { return handle_; }
    bool valid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return valid(); }

    // For APIs that return the handle through an out-parameter.
    Handle* receive() {
        reset();
        return &handle_;
    }

    Handle release() { return std::exchange(handle_, Traits::Invalid()); }

    void reset(Handle handle = Traits::Invalid()) {
        if (Traits::IsValid(handle_)) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

  private:
    Handle handle_ = Traits::Invalid();
};

// Kernel objects whose "no handle" is NULL (processes, threads, tokens, mutexes).
struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using ScopedKernelHandle = ScopedHandle<HANDLE, KernelHandleTraits>;

// A mutex this thread owns: let go, then closed, on the owning thread.
struct HeldMutexTraits {
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr; }
    static void Close(HANDLE h) {
        ReleaseMutex(h);
        CloseHandle(h);
    }
};
using ScopedHeldMutex = ScopedHandle<HANDLE, HeldMutexTraits>;

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not NULL.
struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
using ScopedFileHandle = ScopedHandle<HANDLE, FileHandleTraits>;

struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) { FindClose(h); }
};
using ScopedFindHandle = ScopedHandle<HANDLE, FindHandleTraits>;

struct RegistryKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static bool IsValid(HKEY h) { return h != nullptr; }
    static void Close(HKEY h) { RegCloseKey(h); }
};
using ScopedRegistryKey = ScopedHandle<HKEY, RegistryKeyTraits>;

struct ServiceHandleTraits {
    static SC_HANDLE Invalid() { return nullptr; }
    static bool IsValid(SC_HANDLE h) { return h != nullptr; }
    static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using ScopedServiceHandle = ScopedHandle<SC_HANDLE, ServiceHandleTraits>;

struct ModuleTraits {
    static HMODULE Invalid() { return nullptr; }
    static bool IsValid(HMODULE h) { return h != nullptr; }
    static void Close(HMODULE h) { FreeLibrary(h); }
};
using ScopedModule = ScopedHandle<HMODULE, ModuleTraits>;

template <typename Interface>
struct ComTraits {
    static Interface* Invalid() { return nullptr; }
    static bool IsValid(Interface* p) { return p != nullptr; }
    static void Close(Interface* p) { p->Release(); }
};
template <typename Interface>
using ComPtr = ScopedHandle<Interface*, ComTraits<Interface>>;

struct LocalMemoryTraits {
    static HLOCAL Invalid() { return nullptr; }
    static bool IsValid(HLOCAL h) { return h != nullptr; }
    static void Close(HLOCAL h) { LocalFree(h); }
};
using ScopedLocalMemory = ScopedHandle<HLOCAL, LocalMemoryTraits>;

// A block from the process heap, for buffers too large for a thread's stack.
struct HeapMemoryTraits {
    static void* Invalid() { return nullptr; }
    static bool IsValid(void* p) { return p != nullptr; }
    static void Close(void* p) { HeapFree(GetProcessHeap(), 0, p); }
};
using ScopedHeapMemory = ScopedHandle<void*, HeapMemoryTraits>;

// A block handed to SetClipboardData belongs to the clipboard: release() it then.
struct GlobalMemoryTraits {
    static HGLOBAL Invalid() { return nullptr; }
    static bool IsValid(HGLOBAL h) { return h != nullptr; }
    static void Close(HGLOBAL h) { GlobalFree(h); }
};
using ScopedGlobalMemory = ScopedHandle<HGLOBAL, GlobalMemoryTraits>;
