// What the fault injector answers the setup where Wine answers less than
// Windows does, as Microsoft's documentation says Windows answers. Test bed
// only: the product must meet these answers on Windows, never here.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// One row: the function whose wrapper gives the answer, and the answer, of the
// function's own type. The table ends with an empty row.
struct WindowsAnswer {
    const char* function;
    void* answer;
};
extern const WindowsAnswer kWindowsAnswers[];

// What the worker opened the handle on (a service's name); empty when the
// worker did not open it.
std::wstring OpenedName(const void* handle);

// The key under which the service manager keeps the service's registration.
std::wstring ServiceKeyPath(const std::wstring& serviceName);

// An answer laid out as the service manager returns one: fixed parts first,
// what they point to after them, the pointers made absolute where it lands.
class PackedAnswer {
  public:
    // Where the copy of the bytes lies in the answer.
    size_t Add(const void* data, size_t size);
    size_t AddText(const std::wstring& text);
    // The pointer at offset field points to offset target.
    void Point(size_t field, size_t target) { pointers_.push_back({field, target}); }
    // FALSE with the last error `tooSmall` and nothing written when the
    // answer does not fit; *needed holds its size either way.
    BOOL Deliver(void* buffer, DWORD size, DWORD* needed, DWORD tooSmall) const;

  private:
    struct Pointer {
        size_t field;
        size_t target;
    };
    std::vector<BYTE> bytes_;
    std::vector<Pointer> pointers_;
};

// Whether the service the handle names is deleted but still held: Wine keeps
// such a service as it was, where Windows refuses to change or start it.
bool IsMarkedForDeletionAsWindows(SC_HANDLE service);

BOOL WINAPI QueryServiceConfig2AsWindows(SC_HANDLE service, DWORD level, BYTE* buffer, DWORD size,
                                         DWORD* needed);
BOOL WINAPI ChangeServiceConfig2AsWindows(SC_HANDLE service, DWORD level, void* info);

// The direct annotation service (CLSID_AccPropServices) as Windows keeps
// annotations; any other class as it comes.
HRESULT WINAPI CoCreateInstanceAsWindows(REFCLSID type, IUnknown* outer, DWORD context,
                                         REFIID id, void** object);
