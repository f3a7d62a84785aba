// Retrying a file operation while another process briefly holds the file.
#pragma once

#include <windows.h>

// How long a file is waited for: antivirus scanners and the indexer open a
// file right after it is written and usually let it go within a second.
constexpr DWORD kFileInUseWaitMs = 2000;
constexpr DWORD kFileInUseStepMs = 50;

// Runs attempt (a callable returning true on success, setting the last error
// on failure) again while it fails with a sharing violation, access denied or
// alsoRetried, for up to kFileInUseWaitMs. The last error is that of the last
// attempt.
template <typename Attempt>
bool RetryWhileFileInUse(Attempt attempt, DWORD alsoRetried = ERROR_SHARING_VIOLATION) {
    const DWORD start = GetTickCount();
    while (!attempt()) {
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
             error != alsoRetried) ||
            GetTickCount() - start >= kFileInUseWaitMs) {
            return false;
        }
        Sleep(kFileInUseStepMs);
    }
    return true;
}

// For removing a folder whose files were just deleted: a file deleted while
// another process still holds it stays in the folder until that process lets go.
template <typename Attempt>
bool RetryWhileFolderInUse(Attempt attempt) {
    return RetryWhileFileInUse(attempt, ERROR_DIR_NOT_EMPTY);
}
