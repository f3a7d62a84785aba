// Checks extracted staging files against the build's digests on a thread of
// its own, so that hashing one module overlaps decoding the next.
#pragma once

#include <windows.h>

#include "payload/module_digest.h"
#include "platform/scoped_handle.h"

class DigestChecker {
  public:
    explicit DigestChecker(const ModuleDigests& digests) : digests_(digests) {}
    // Abandons the rows not yet checked and waits: no check outlives the extraction.
    ~DigestChecker();
    DigestChecker(const DigestChecker&) = delete;
    DigestChecker& operator=(const DigestChecker&) = delete;

    bool Start();
    // The staging file of row is complete; rows arrive in table order.
    void Submit(size_t row);
    // Waits for the submitted rows; true when every one matched its digest.
    bool Finish();

  private:
    static unsigned __stdcall Run(void* checker);
    bool TakeRow(size_t& row);
    void Stop(bool abandon);

    const ModuleDigests& digests_;
    ScopedKernelHandle thread_;
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    size_t rowsSubmitted_ = 0;
    size_t rowsChecked_ = 0;
    bool closing_ = false;
    bool abandoned_ = false;
    bool mismatch_ = false;
};
