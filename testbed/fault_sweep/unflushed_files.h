// The files whose data a power cut would lose, as the install worker leaves
// them: part of the fault injector (restart:N). The worker writes file data
// only by CopyFileW and MoveFileExW (the staging folder is written before the
// injector loads); the data stays unflushed until FlushFileBuffers on a handle
// to the file, or a move written through. The state follows the file, not the
// name: a rename or a hard link keeps it, under one more name.
#pragma once

#include <windows.h>

#include <cstdint>

// What the injector's wrapper of a tracked call hands over: the call's
// arguments as numbers, and its result.
using CallBits = const uintptr_t*;

// Before MoveFileExW and NtSetInformationFile run: what their source is now.
void BeforeMove(CallBits args);
void BeforeNaming(CallBits args);

// After the call returned `result`.
void AfterCopy(CallBits args, uintptr_t result);
void AfterMove(CallBits args, uintptr_t result);
void AfterNaming(CallBits args, uintptr_t result);
void AfterFlush(CallBits args, uintptr_t result);

// Writes one line a file still unflushed: its index (the inode under Wine)
// and every name the worker gave it, tab-separated, for the sweep to zero its
// data after the processes have ended (scripts/faultsweep.sh).
void WriteUnflushedFiles(const wchar_t* path);
