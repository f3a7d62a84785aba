// Retrying a file operation while another process briefly holds the file.
#pragma once

#include <windows.h>

// How long a file is waited for: antivirus scanners and the indexer open a
// file right after it is written and usually let it go within a second.
constexpr DWORD kFileInUseWaitMs = 2000;
constexpr DWORD kFileInUseStepMs = 50;

// Runs attempt (a callable returning true on success, setting the last error
// on failure) again while it fails with a sharing violation or access denied,
// for up to kFileInUseWaitMs. The last error is that of the last attempt.
template <typename Attempt>
bool RetryWhileFileInUse(Attempt attempt) {
    const DWORD start = GetTickCount();
    while (!attempt()) {
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
            GetTickCount() - start >= kFileInUseWaitMs) {
            return false;
        }
        Sleep(kFileInUseStepMs);
    }
    return true;
}
