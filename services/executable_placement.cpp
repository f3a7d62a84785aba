#include "services/executable_placement.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"
#include "setup/process_state.h"

namespace {

constexpr DWORD kCompareChunkBytes = 16 * 1024;

ScopedFileHandle OpenForReading(const wchar_t* path) {
    return ScopedFileHandle(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// The whole of both files, chunk by chunk: a file cut short by a death, or
// filled with zeros by a power cut, differs somewhere.
bool SameBytes(HANDLE first, HANDLE second) {
    LARGE_INTEGER firstSize;
    LARGE_INTEGER secondSize;
    if (!GetFileSizeEx(first, &firstSize) || !GetFileSizeEx(second, &secondSize) ||
        firstSize.QuadPart != secondSize.QuadPart) {
        return false;
    }
    BYTE firstChunk[kCompareChunkBytes];
    BYTE secondChunk[kCompareChunkBytes];
    for (LONGLONG left = firstSize.QuadPart; left > 0;) {
        DWORD firstRead = 0;
        DWORD secondRead = 0;
        if (!ReadFile(first, firstChunk, kCompareChunkBytes, &firstRead, nullptr) ||
            !ReadFile(second, secondChunk, kCompareChunkBytes, &secondRead, nullptr) ||
            firstRead != secondRead || firstRead == 0 ||
            memcmp(firstChunk, secondChunk, firstRead) != 0) {
            return false;
        }
        left -= firstRead;
    }
    return true;
}

bool UnplacedPath(const wchar_t* folder, const wchar_t* fileName, wchar_t (&final)[kPathChars],
                  wchar_t (&unplaced)[kPathChars]) {
    if (JoinPath(final, folder, fileName) &&
        FormatText(unplaced, L"%s%s", final, kUnplacedSuffix)) {
        return true;
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

// The data reaches the disk before anything relies on the file: a power cut
// keeps a file's name and size but not data the system had not written yet.
bool FlushToDisk(const wchar_t* path) {
    const ScopedFileHandle file(
        CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file && FlushFileBuffers(file.get()) != FALSE;
}

bool WriteWhole(const wchar_t* fileName, const wchar_t* target) {
    wchar_t staged[kPathChars];
    if (!JoinPath(staged, g_stagingFolderPath, fileName)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const bool written = RetryWhileFileInUse([&] {
        SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
        return CopyFileW(staged, target, FALSE) != FALSE;
    });
    if (!written || !FlushToDisk(target)) {
        return false;
    }
    if (!IsWholeNewExecutable(target, fileName)) {
        SetLastError(ERROR_FILE_CORRUPT);
        return false;
    }
    return true;
}

// One rename: the final name holds the earlier file until it holds the new one.
bool RenameOverFinal(const wchar_t* unplaced, const wchar_t* final) {
    return RetryWhileFileInUse([&] {
        SetFileAttributesW(final, FILE_ATTRIBUTE_NORMAL);
        return MoveFileExW(unplaced, final, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
               FALSE;
    });
}

bool CopyOpenedFile(HANDLE source, HANDLE target) {
    BYTE chunk[kCompareChunkBytes];
    DWORD read = 0;
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(source, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    while (ReadFile(source, chunk, sizeof(chunk), &read, nullptr)) {
        DWORD written = 0;
        if (read == 0) {
            return FlushFileBuffers(target) != FALSE;
        }
        if (!WriteFile(target, chunk, read, &written, nullptr) || written != read) {
            return false;
        }
    }
    return false;
}

}  // namespace

bool IsUnplacedExecutableName(const wchar_t* name) {
    const size_t length = wcslen(name);
    const size_t suffix = wcslen(kUnplacedSuffix);
    return length > suffix && _wcsicmp(name + length - suffix, kUnplacedSuffix) == 0;
}

bool IsWholeNewExecutable(const wchar_t* path, const wchar_t* fileName) {
    wchar_t staged[kPathChars];
    if (!JoinPath(staged, g_stagingFolderPath, fileName)) {
        return false;
    }
    const ScopedFileHandle placed = OpenForReading(path);
    const ScopedFileHandle source = OpenForReading(staged);
    return placed && source && SameBytes(placed.get(), source.get());
}

bool WriteUnplacedExecutable(const wchar_t* folder, const wchar_t* fileName) {
    wchar_t final[kPathChars];
    wchar_t unplaced[kPathChars];
    return UnplacedPath(folder, fileName, final, unplaced) && WriteWhole(fileName, unplaced);
}

bool PlaceNewExecutable(const wchar_t* folder, const wchar_t* fileName) {
    wchar_t final[kPathChars];
    wchar_t unplaced[kPathChars];
    if (!UnplacedPath(folder, fileName, final, unplaced)) {
        return false;
    }
    // Written before the first stop, as a rule; a run that failed before that
    // writes it now.
    if (!IsWholeNewExecutable(unplaced, fileName) && !WriteWhole(fileName, unplaced)) {
        return false;
    }
    return RenameOverFinal(unplaced, final);
}

bool PlaceCopyOf(HANDLE source, const wchar_t* folder, const wchar_t* fileName) {
    wchar_t final[kPathChars];
    wchar_t unplaced[kPathChars];
    if (!UnplacedPath(folder, fileName, final, unplaced)) {
        return false;
    }
    // Made afresh in the folder, it takes the folder's inherited security,
    // whatever the source carries.
    SetFileAttributesW(unplaced, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(unplaced);
    {
        const ScopedFileHandle target(CreateFileW(unplaced, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!target || !CopyOpenedFile(source, target.get())) {
            return false;
        }
    }
    return RenameOverFinal(unplaced, final);
}

bool PutWholeExecutableInPlace(const wchar_t* folder, const wchar_t* fileName) {
    wchar_t final[kPathChars];
    return (JoinPath(final, folder, fileName) && IsWholeNewExecutable(final, fileName)) ||
           PlaceNewExecutable(folder, fileName);
}

void DiscardUnplacedExecutable(const wchar_t* folder, const wchar_t* fileName) {
    wchar_t final[kPathChars];
    wchar_t unplaced[kPathChars];
    if (UnplacedPath(folder, fileName, final, unplaced)) {
        DeleteFileW(unplaced);
    }
}
