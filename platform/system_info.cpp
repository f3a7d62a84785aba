#include "platform/system_info.h"

#include <windows.h>

#include "platform/scoped_handle.h"
#include "platform/system_library.h"
#include "platform/text_format.h"

namespace {

constexpr DWORD kArchitectureIntel = 0;
constexpr DWORD kArchitectureAmd64 = 9;
constexpr LONG kFirstDotNet45Release = 378389;

// GetNativeSystemInfo is absent before XP, so it is looked up at run time.
bool NativeArchitectureIs(DWORD architecture) {
    using NativeInfoFunction = void(WINAPI*)(SYSTEM_INFO*);
    const auto getNativeSystemInfo =
        SystemFunction<NativeInfoFunction>(L"kernel32", "GetNativeSystemInfo");
    if (getNativeSystemInfo == nullptr) {
        return false;
    }
    SYSTEM_INFO info = {};
    getNativeSystemInfo(&info);
    return info.wProcessorArchitecture == architecture;
}

// Reads a 4-byte value of HKLM in the 32-bit process's view; the type is not examined.
bool ReadMachineDword(const wchar_t* keyPath, const wchar_t* valueName, LONG* value) {
    ScopedRegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = sizeof(*value);
    return RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                            &size) == ERROR_SUCCESS;
}

}  // namespace

OsVersion QueryOsVersion() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    GetVersionExW(&info);
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion};
}

bool IsWindows2000() {
    const OsVersion version = QueryOsVersion();
    return version.major == 5 && version.minor == 0;
}

bool IsX86() {
    return IsWindows2000() || NativeArchitectureIs(kArchitectureIntel);
}

bool IsX64() {
    return !IsWindows2000() && NativeArchitectureIs(kArchitectureAmd64);
}

int ProcessorKind() {
    if (IsX86()) {
        return 1;
    }
    return IsX64() ? 2 : 0;
}

bool ProcessorMatch(int wantedKind) {
    return wantedKind == 0 || wantedKind == ProcessorKind();
}

bool IsDotNet4Installed() {
    LONG release = 0;
    if (ReadMachineDword(L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\\", L"Release",
                         &release) &&
        release >= kFirstDotNet45Release) {
        return true;
    }
    wchar_t clientKey[kPathChars];
    LONG install = 0;
    return FormatText(clientKey, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\%s",
                      L"v4\\Client") &&
           ReadMachineDword(clientKey, L"Install", &install) && install == 1;
}
