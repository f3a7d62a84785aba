// Retrying a file operation while another process briefly holds the file.
#pragma once

#include <windows.h>

#include <initializer_list>

// How long a file is waited for: antivirus scanners and the indexer open a
// file right after it is written and usually let it go within a second.
constexpr DWORD kFileInUseWaitMs = 2000;
constexpr DWORD kFileInUseStepMs = 50;

// One wait shared by several operations: a user who holds many files must
// not multiply it.
class RetryBudget {
  public:
    explicit RetryBudget(DWORD milliseconds = kFileInUseWaitMs)
        : start_(GetTickCount()), milliseconds_(milliseconds) {}
    bool Spent() const { return GetTickCount() - start_ >= milliseconds_; }
    DWORD Remaining() const { return Spent() ? 0 : milliseconds_ - (GetTickCount() - start_); }

  private:
    DWORD start_;
    DWORD milliseconds_;
};

// Runs attempt (a callable returning true on success, setting the last error
// on failure) again while it fails with one of the retried errors and the
// budget lasts; once it is spent, each attempt is made once. The last error
// is that of the last attempt.
template <typename Attempt>
bool RetryWithin(const RetryBudget& budget, std::initializer_list<DWORD> retried, Attempt attempt) {
    while (!attempt()) {
        const DWORD error = GetLastError();
        bool isRetried = false;
        for (const DWORD candidate : retried) {
            isRetried = isRetried || candidate == error;
        }
        if (!isRetried || budget.Spent()) {
            SetLastError(error);
            return false;
        }
        Sleep(kFileInUseStepMs);
    }
    return true;
}

// Retries a sharing violation, access denied or alsoRetried for up to
// kFileInUseWaitMs of its own.
template <typename Attempt>
bool RetryWhileFileInUse(Attempt attempt, DWORD alsoRetried = ERROR_SHARING_VIOLATION) {
    return RetryWithin(RetryBudget(), {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, alsoRetried},
                       attempt);
}

// For removing a folder whose files were just deleted: a file deleted while
// another process still holds it stays in the folder until that process lets go.
template <typename Attempt>
bool RetryWhileFolderInUse(Attempt attempt) {
    return RetryWhileFileInUse(attempt, ERROR_DIR_NOT_EMPTY);
}
