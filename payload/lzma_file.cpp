// File streams over Windows file handles for the stream decoder, and the
// in-place decode through a temporary file.
#include "payload/lzma_file.h"

#include <windows.h>

#include "payload/lzma_stream.h"
#include "platform/file_in_use.h"
#include "platform/scoped_handle.h"

wchar_t g_temporaryOutputName[kPathChars] = L"";

namespace {

// Upper bound of one ReadFile or WriteFile call.
constexpr size_t kFileChunkBytes = size_t{1} << 22;

DWORD ChunkOf(size_t size) {
    return static_cast<DWORD>(size < kFileChunkBytes ? size : kFileChunkBytes);
}

class FileReader : public ByteReader {
  public:
    explicit FileReader(HANDLE file) : file_(file) {}

    bool Read(unsigned char* buffer, size_t size, size_t& bytesRead) override {
        bytesRead = 0;
        while (bytesRead < size) {
            DWORD chunkRead = 0;
            if (!ReadFile(file_, buffer + bytesRead, ChunkOf(size - bytesRead), &chunkRead,
                          nullptr)) {
                return false;
            }
            if (chunkRead == 0) {
                break;
            }
            bytesRead += chunkRead;
        }
        return true;
    }

  private:
    HANDLE file_;
};

class FileWriter : public ByteWriter {
  public:
    explicit FileWriter(HANDLE file) : file_(file) {}

    size_t Write(const unsigned char* data, size_t size) override {
        size_t written = 0;
        while (written < size) {
            DWORD chunkWritten = 0;
            if (!WriteFile(file_, data + written, ChunkOf(size - written), &chunkWritten,
                           nullptr) ||
                chunkWritten == 0) {
                break;
            }
            written += chunkWritten;
        }
        return written;
    }

  private:
    HANDLE file_;
};

bool SamePath(const wchar_t* first, const wchar_t* second) {
    return CompareStringOrdinal(first, -1, second, -1, TRUE) == CSTR_EQUAL;
}

// The temporary output goes beside the source, in the setup's private staging
// folder, not in the shared temporary folder where another user's process
// could replace it before it is copied back.
bool CreateTemporaryBeside(const wchar_t* sourcePath) {
    wchar_t folder[kPathChars];
    wchar_t* fileName = nullptr;
    const DWORD length = GetFullPathNameW(sourcePath, kPathChars, folder, &fileName);
    if (length == 0 || length >= kPathChars || fileName == nullptr) {
        return false;
    }
    *fileName = L'\0';
    return GetTempFileNameW(folder, L"UAS", 0, g_temporaryOutputName) != 0;
}

// Decodes between two paths; no destination file is left when it fails.
bool DecodeBetween(const wchar_t* sourcePath, const wchar_t* destinationPath) {
    ScopedFileHandle source(CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source) {
        return false;
    }
    ScopedFileHandle destination(CreateFileW(destinationPath, GENERIC_WRITE, FILE_SHARE_READ,
                                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
    if (!destination) {
        return false;
    }
    FileReader reader(source.get());
    FileWriter writer(destination.get());
    const bool decoded = DecodeStream(reader, writer);
    destination.reset();
    if (!decoded) {
        DeleteFileW(destinationPath);
    }
    return decoded;
}

}  // namespace

bool DecodeFile(const wchar_t* sourcePath, const wchar_t* destinationPath) {
    if (!SamePath(sourcePath, destinationPath)) {
        return DecodeBetween(sourcePath, destinationPath);
    }
    if (!CreateTemporaryBeside(sourcePath)) {
        return false;
    }
    // The decoded file replaces the source by a rename in the same folder: one
    // step that either happens or leaves the source as it was, where a copy
    // back could fail half-way, and that costs nothing where a copy costs a
    // write of the whole file. A scanner that opens either new file keeps the
    // rename and the delete from working for a moment.
    bool placed = false;
    if (DecodeBetween(sourcePath, g_temporaryOutputName)) {
        placed = RetryWhileFileInUse([sourcePath] {
            return MoveFileExW(g_temporaryOutputName, sourcePath, MOVEFILE_REPLACE_EXISTING) !=
                   FALSE;
        });
    }
    if (!placed) {
        // Also when the source could not be opened: the temporary file exists
        // from the moment its name was made.
        RetryWhileFileInUse([] { return DeleteFileW(g_temporaryOutputName) != FALSE; });
    }
    return placed;
}
