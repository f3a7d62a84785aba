#include "platform/link_guard.h"

#include <winternl.h>

#include <cwchar>

#include "platform/system_library.h"

namespace {

using GetFinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
// The class as a number: winternl.h lists only the first few.
using NtSetInformationFileFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                      ULONG);
using NtStatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);
using SetMitigationFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
using ReOpenFileFunction = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);

// Empty and true where the system has no such call (before Vista).
bool FinalPathOf(HANDLE file, wchar_t (&finalPath)[kFinalPathChars]) {
    finalPath[0] = L'\0';
    const auto getFinalPath =
        SystemFunction<GetFinalPathFunction>(L"kernel32", "GetFinalPathNameByHandleW");
    if (getFinalPath == nullptr) {
        return true;
    }
    const DWORD length = getFinalPath(file, finalPath, kFinalPathChars, VOLUME_NAME_DOS);
    return length > 0 && length < kFinalPathChars;
}

// The opened object resolves to parentFinal\name; its final path in finalPath.
bool ResolvesTo(HANDLE file, const wchar_t* parentFinal, const wchar_t* name,
                wchar_t (&finalPath)[kFinalPathChars]) {
    if (!FinalPathOf(file, finalPath)) {
        return false;
    }
    // Before Vista neither path is known, and the attributes alone decide.
    if (finalPath[0] == L'\0' || parentFinal[0] == L'\0') {
        return finalPath[0] == L'\0' && parentFinal[0] == L'\0';
    }
    const size_t length = wcslen(parentFinal);
    const bool separated = parentFinal[length - 1] == L'\\';
    return _wcsnicmp(finalPath, parentFinal, length) == 0 &&
           (separated || finalPath[length] == L'\\') &&
           _wcsicmp(finalPath + length + (separated ? 0 : 1), name) == 0;
}

// Sets the last error from the system's status on failure.
bool SetInformation(HANDLE file, ULONG kind, void* information, ULONG size) {
    const auto setInformation =
        SystemFunction<NtSetInformationFileFunction>(L"ntdll.dll", "NtSetInformationFile");
    const auto toError =
        SystemFunction<NtStatusToErrorFunction>(L"ntdll.dll", "RtlNtStatusToDosError");
    if (setInformation == nullptr || toError == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    IO_STATUS_BLOCK status;
    const NTSTATUS result = setInformation(file, &status, information, size, kind);
    if (!NT_SUCCESS(result)) {
        SetLastError(toError(result));
        return false;
    }
    return true;
}

bool MarkForDeletion(HANDLE file) {
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    return SetInformation(file, FileDispositionInformation, &disposition, sizeof(disposition));
}

constexpr ULONG kFileDispositionInformationEx = 64;
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosixSemantics = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;

// The name goes at once, even while another program still holds the file
// with delete sharing, and a read-only flag is passed over rather than
// cleared. False with the last error set where the system or the file
// system does not offer it (before Windows 10 1809, FAT, Wine).
bool MarkForPosixDeletion(HANDLE file) {
    ULONG flags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
    return SetInformation(file, kFileDispositionInformationEx, &flags, sizeof(flags));
}

// Reopened rather than opened again by name, so that the flag is cleared on
// the very file that was checked. Before Vista the file stays.
bool ClearReadOnly(HANDLE file) {
    const auto reopen = SystemFunction<ReOpenFileFunction>(L"kernel32", "ReOpenFile");
    if (reopen == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    ScopedFileHandle writable(reopen(file, FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     FILE_FLAG_OPEN_REPARSE_POINT));
    // Zero times leave the times as they are.
    FILE_BASIC_INFORMATION basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return writable && SetInformation(writable.get(), FileBasicInformation, &basic, sizeof(basic));
}

// FILE_RENAME_INFORMATION (and FILE_LINK_INFORMATION, laid out alike) with
// room for a bare name.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    wchar_t fileName[kNameChars];
};
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileLinkInformation = 11;

bool Refuse() {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
}

// Opens name inside parent without following a link; a link, mount point or
// file, or a folder that resolves elsewhere, is refused.
bool OpenChecked(const HeldFolder& parent, const wchar_t* name, DWORD access, DWORD sharing,
                 HeldFolder* folder) {
    if (!JoinPath(folder->path, parent.path, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    folder->handle.reset(CreateFileW(folder->path, access, sharing, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!folder->handle || !GetFileInformationByHandle(folder->handle.get(), &information)) {
        return false;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !ResolvesTo(folder->handle.get(), parent.finalPath, name, folder->finalPath)) {
        return Refuse();
    }
    return true;
}

// Opens the file name inside folder with access, without following a link,
// sharing it fully, so that a running program's image opens too. A folder, or
// a file that resolves elsewhere, is refused (ERROR_CANT_ACCESS_FILE).
bool OpenFileUnfollowed(const HeldFolder& folder, const wchar_t* name, DWORD access,
                        ScopedFileHandle* file) {
    wchar_t path[kPathChars];
    if (!JoinPath(path, folder.path, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    file->reset(CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!*file || !GetFileInformationByHandle(file->get(), &information)) {
        return false;
    }
    wchar_t finalPath[kFinalPathChars];
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !ResolvesTo(file->get(), folder.finalPath, name, finalPath)) {
        file->reset();
        return Refuse();
    }
    return true;
}

// A new name for the opened file inside folder, as a rename or as a second link.
bool NameOpenedFileInto(HANDLE file, HANDLE folder, const wchar_t* name, ULONG kind) {
    RenameInformation rename = {};
    rename.rootDirectory = folder;
    if (!FormatText(rename.fileName, L"%s", name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    rename.fileNameLength = static_cast<ULONG>(wcslen(name) * sizeof(wchar_t));
    // The whole structure: Wine refuses a size below the system's declared
    // one, whatever the name's length.
    return SetInformation(file, kind, &rename, sizeof(rename));
}

}  // namespace

bool OpenFolderFollowingLinks(const wchar_t* path, HeldFolder* folder) {
    folder->handle.reset(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return folder->handle && FormatText(folder->path, L"%s", path) &&
           FinalPathOf(folder->handle.get(), folder->finalPath);
}

bool OpenSubfolderUnfollowed(const HeldFolder& parent, const wchar_t* name, HeldFolder* folder) {
    // Without delete sharing, nobody can rename the folder away and put a link
    // in its place while it is held.
    return OpenChecked(parent, name, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, folder);
}

bool OpenFileForDeletion(const HeldFolder& folder, const wchar_t* name, ScopedFileHandle* file) {
    return OpenFileUnfollowed(folder, name, DELETE | FILE_READ_ATTRIBUTES, file);
}

bool OpenFileForReading(const HeldFolder& folder, const wchar_t* name, ScopedFileHandle* file) {
    return OpenFileUnfollowed(folder, name, GENERIC_READ, file);
}

bool IdentityOf(HANDLE file, FileIdentity* identity) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
                 information.nFileIndexLow};
    return true;
}

bool IsSameIdentity(const FileIdentity& first, const FileIdentity& second) {
    return first.volumeSerialNumber == second.volumeSerialNumber &&
           first.indexHigh == second.indexHigh && first.indexLow == second.indexLow;
}

bool OpenIdentifiedFolder(const wchar_t* path, const FileIdentity* identity, HeldFolder* folder) {
    if (!FormatText(folder->path, L"%s", path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    folder->handle.reset(CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                     nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    if (!folder->handle || !GetFileInformationByHandle(folder->handle.get(), &information) ||
        !FinalPathOf(folder->handle.get(), folder->finalPath)) {
        return false;
    }
    const bool isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    // Wine follows a link even when told not to: the identity, or the
    // resolved path, tells the folder apart from one a link leads to.
    const bool same = identity != nullptr
                          ? IsSameIdentity({information.dwVolumeSerialNumber,
                                            information.nFileIndexHigh, information.nFileIndexLow},
                                           *identity)
                          : folder->finalPath[0] != L'\0' &&
                                wcsncmp(folder->finalPath, L"\\\\?\\", 4) == 0 &&
                                _wcsicmp(folder->finalPath + 4, path) == 0;
    if (!isFolder || !same) {
        folder->handle.reset();
        return Refuse();
    }
    return true;
}

bool DeleteOpenedFile(HANDLE file) {
    if (MarkForPosixDeletion(file)) {
        return true;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) {
        return false;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // Attributes belong to the file, not the name: through a hard link a
        // user planted, clearing the flag would change a file elsewhere.
        if (information.nNumberOfLinks > 1) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (!ClearReadOnly(file)) {
            return false;
        }
    }
    return MarkForDeletion(file);
}

bool MoveOpenedFileInto(HANDLE file, HANDLE folder, const wchar_t* name) {
    return NameOpenedFileInto(file, folder, name, kFileRenameInformation);
}

bool LinkOpenedFileInto(HANDLE file, HANDLE folder, const wchar_t* name) {
    return NameOpenedFileInto(file, folder, name, kFileLinkInformation);
}

bool DeleteFileUnfollowed(const HeldFolder& folder, const wchar_t* name) {
    ScopedFileHandle file;
    return OpenFileForDeletion(folder, name, &file) && DeleteOpenedFile(file.get());
}

bool DeleteSubfolderUnfollowed(const HeldFolder& parent, const wchar_t* name) {
    HeldFolder folder;
    if (!OpenChecked(parent, name, DELETE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &folder)) {
        return false;
    }
    return MarkForDeletion(folder.handle.get());
}

void EnforceRedirectionTrust() {
    const auto setMitigation =
        SystemFunction<SetMitigationFunction>(L"kernel32", "SetProcessMitigationPolicy");
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    // Older systems refuse a policy they do not know; the checks of the
    // removal do not depend on it.
    if (setMitigation != nullptr) {
        setMitigation(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
    }
}
