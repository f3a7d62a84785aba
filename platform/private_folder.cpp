#include "platform/private_folder.h"

#include <sddl.h>
#include <winternl.h>

#include <cwchar>

#include "platform/system_library.h"
#include "platform/text_format.h"

namespace {

// Full control for Administrators and SYSTEM, passed on to the files inside;
// "P" keeps the parent folder's entries (a user's own) out of it.
constexpr const wchar_t* kPrivateFolderDacl = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                              PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                              ULONG, PVOID, ULONG);
using NtStatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);
using ReOpenFileFunction = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);

// The object manager's name of a Win32 path: "\??\" before a full drive
// path, in place of "\\?\" or "\\.\", and "\??\UNC\" in place of a
// share's "\\".
bool NtPathOf(const wchar_t* path, wchar_t (&out)[kPathChars + 8]) {
    wchar_t full[kPathChars];
    const DWORD length = GetFullPathNameW(path, kPathChars, full, nullptr);
    if (length == 0 || length >= kPathChars) {
        return false;
    }
    if (wcsncmp(full, L"\\\\?\\", 4) == 0 || wcsncmp(full, L"\\\\.\\", 4) == 0) {
        return FormatText(out, L"\\??\\%s", full + 4);
    }
    if (wcsncmp(full, L"\\\\", 2) == 0) {
        return FormatText(out, L"\\??\\UNC\\%s", full + 2);
    }
    return FormatText(out, L"\\??\\%s", full);
}

}  // namespace

ScopedLocalMemory PrivateFolderDescriptor() {
    ScopedLocalMemory descriptor;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(
        kPrivateFolderDacl, SDDL_REVISION_1,
        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()), nullptr);
    return descriptor;
}

ScopedFileHandle CreatePrivateFolder(const wchar_t* path) {
    ScopedFileHandle folder;
    ScopedLocalMemory descriptor = PrivateFolderDescriptor();
    wchar_t ntPath[kPathChars + 8];
    const auto ntCreateFile = SystemFunction<NtCreateFileFunction>(L"ntdll.dll", "NtCreateFile");
    const auto toError =
        SystemFunction<NtStatusToErrorFunction>(L"ntdll.dll", "RtlNtStatusToDosError");
    if (!descriptor || !NtPathOf(path, ntPath) || ntCreateFile == nullptr) {
        return folder;
    }
    UNICODE_STRING name;
    name.Length = static_cast<USHORT>(wcslen(ntPath) * sizeof(wchar_t));
    name.MaximumLength = sizeof(ntPath);
    name.Buffer = ntPath;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, descriptor.get());
    IO_STATUS_BLOCK status;
    HANDLE created = INVALID_HANDLE_VALUE;
    // The folder is made and opened in one step: between a CreateDirectoryW
    // and an open of the name, the folder could be swapped for another. A
    // folder of that name planted before must not be used at all: it would
    // carry its maker's access.
    const NTSTATUS result = ntCreateFile(
        &created, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status,
        nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
        FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(result)) {
        folder.reset(created);
    } else if (toError != nullptr) {
        SetLastError(toError(result));
    }
    return folder;
}

bool MakeFilePrivate(HANDLE file) {
    const auto reopen = SystemFunction<ReOpenFileFunction>(L"kernel32", "ReOpenFile");
    if (reopen == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    const ScopedLocalMemory descriptor = PrivateFolderDescriptor();
    const ScopedFileHandle writable(reopen(file, WRITE_DAC,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           FILE_FLAG_OPEN_REPARSE_POINT));
    // The descriptor is marked protected: nothing of the folder the file came
    // from is inherited any more.
    return descriptor && writable &&
           SetKernelObjectSecurity(writable.get(), DACL_SECURITY_INFORMATION, descriptor.get()) !=
               FALSE;
}
