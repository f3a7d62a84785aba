#include "platform/process_images.h"

#include <tlhelp32.h>

#include <cwchar>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"

namespace {

// The full, long form of a path with "\" as its separator and no trailing
// one. A path that does not exist keeps its short names: nothing runs from it.
bool CanonicalPath(const wchar_t* path, wchar_t (&out)[kPathChars]) {
    wchar_t full[kPathChars];
    const DWORD fullLength = GetFullPathNameW(path, kPathChars, full, nullptr);
    if (fullLength == 0 || fullLength >= kPathChars) {
        return false;
    }
    for (wchar_t* character = full; *character != L'\0'; ++character) {
        if (*character == L'/') {
            *character = L'\\';
        }
    }
    const DWORD longLength = GetLongPathNameW(full, out, kPathChars);
    if (longLength == 0 || longLength >= kPathChars) {
        wcscpy(out, full);
    }
    const size_t length = wcslen(out);
    if (length > 3 && out[length - 1] == L'\\') {
        out[length - 1] = L'\0';
    }
    return true;
}

// The file system's own comparison: ordinal, case-insensitive.
bool SamePath(const wchar_t* left, const wchar_t* right) {
    return CompareStringOrdinal(left, -1, right, -1, TRUE) == CSTR_EQUAL;
}

// The default DACL of a process names its user and SYSTEM only: an elevated
// administrator opens another user's process with this privilege enabled.
// Its earlier state comes back when the scan ends.
class DebugPrivilegeEnabled {
  public:
    DebugPrivilegeEnabled() {
        TOKEN_PRIVILEGES wanted = {};
        wanted.PrivilegeCount = 1;
        wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        DWORD previousSize = 0;
        adjusted_ = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                     token_.receive()) &&
                    LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &wanted.Privileges[0].Luid) &&
                    AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof(previous_),
                                          &previous_, &previousSize) &&
                    GetLastError() == ERROR_SUCCESS;
    }
    ~DebugPrivilegeEnabled() {
        if (adjusted_) {
            AdjustTokenPrivileges(token_.get(), FALSE, &previous_, 0, nullptr, nullptr);
        }
    }
    DebugPrivilegeEnabled(const DebugPrivilegeEnabled&) = delete;
    DebugPrivilegeEnabled& operator=(const DebugPrivilegeEnabled&) = delete;

  private:
    ScopedKernelHandle token_;
    TOKEN_PRIVILEGES previous_ = {};
    bool adjusted_ = false;
};

// Documented to work on another session's process for an administrator.
// False with the last error set.
bool QueryImagePath(DWORD processId, wchar_t (&path)[kPathChars]) {
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    DWORD length = kPathChars;
    return process && QueryFullProcessImageNameW(process.get(), 0, path, &length);
}

}  // namespace

bool AnyProcessRunsFrom(const wchar_t* folder, bool (*isWanted)(const wchar_t* fileName)) {
    wchar_t wantedFolder[kPathChars];
    ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!CanonicalPath(folder, wantedFolder) || !snapshot ||
        !Process32FirstW(snapshot.get(), &entry)) {
        return false;
    }
    const DebugPrivilegeEnabled debugPrivilege;
    do {
        wchar_t image[kPathChars];
        wchar_t canonical[kPathChars];
        if (!QueryImagePath(entry.th32ProcessID, image)) {
            // Unreadable, it may run from the folder: better refused than
            // removed under it. A process that ended meanwhile is not there.
            if (GetLastError() != ERROR_INVALID_PARAMETER && isWanted(entry.szExeFile)) {
                return true;
            }
            continue;
        }
        if (!CanonicalPath(image, canonical)) {
            continue;
        }
        wchar_t* separator = wcsrchr(canonical, L'\\');
        if (separator == nullptr) {
            continue;
        }
        *separator = L'\0';
        if (SamePath(canonical, wantedFolder) && isWanted(separator + 1)) {
            return true;
        }
    } while (Process32NextW(snapshot.get(), &entry));
    return false;
}
