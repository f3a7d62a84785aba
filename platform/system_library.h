// Libraries are loaded from System32 only: an elevated installer usually starts
// from a Downloads folder, where a planted DLL of a system name would win.
#pragma once

#include <windows.h>

// Restricts the process's DLL search path to System32; call before any load.
void RestrictDllSearchToSystem32();

// LoadLibraryW on the full System32 path of `fileName`; null on failure.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// A function of a system library already in the process (kernel32, ntdll,
// user32), or null where this Windows lacks it: calls newer than the oldest
// system the setup starts on are looked up at run time.
template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name)));
}
