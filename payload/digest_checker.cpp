// The checking thread and the hand-over of finished rows from the extraction.
#include "payload/digest_checker.h"

#include <process.h>

#include "payload/staging_folder.h"

DigestChecker::~DigestChecker() {
    Stop(true);
}

namespace {

// Holds the digest's 64 KiB read buffer with room to spare; reserving no more
// keeps the thread from adding the program's default stack to the memory that
// the decoder's dictionary already dominates.
constexpr unsigned kCheckerStackBytes = 256 * 1024;

}  // namespace

bool DigestChecker::Start() {
    thread_.reset(reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, kCheckerStackBytes, Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)));
    return thread_.valid();
}

void DigestChecker::Submit(size_t row) {
    AcquireSRWLockExclusive(&lock_);
    rowsSubmitted_ = row + 1;
    ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&changed_);
}

bool DigestChecker::Finish() {
    Stop(false);
    return !mismatch_ && rowsChecked_ == rowsSubmitted_;
}

void DigestChecker::Stop(bool abandon) {
    if (!thread_) {
        return;
    }
    AcquireSRWLockExclusive(&lock_);
    closing_ = true;
    abandoned_ = abandon;
    ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&changed_);
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
}

// Waits for the next submitted row; false when there is none left to check.
bool DigestChecker::TakeRow(size_t& row) {
    AcquireSRWLockExclusive(&lock_);
    while (rowsChecked_ == rowsSubmitted_ && !closing_) {
        SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    }
    const bool pending = rowsChecked_ < rowsSubmitted_ && !abandoned_;
    row = rowsChecked_;
    ReleaseSRWLockExclusive(&lock_);
    return pending;
}

unsigned __stdcall DigestChecker::Run(void* checker) {
    DigestChecker& self = *static_cast<DigestChecker*>(checker);
    const ScopedCryptProvider provider = AcquireDigestProvider();
    size_t row = 0;
    while (self.TakeRow(row)) {
        wchar_t path[kPathChars];
        const bool matches = provider.valid() && StagingPathOf(kModuleTable[row].fileName, path) &&
                             FileMatchesDigest(provider.get(), path, self.digests_.rows[row]);
        AcquireSRWLockExclusive(&self.lock_);
        if (matches) {
            ++self.rowsChecked_;
        } else {
            self.mismatch_ = true;
        }
        ReleaseSRWLockExclusive(&self.lock_);
        if (!matches) {
            break;
        }
    }
    return 0;
}
