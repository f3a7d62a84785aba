#include "services/tests/scratch_drive.h"

#include <windows.h>
// These need windows.h first.
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/scoped_handle.h"

namespace {

struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

const DWORD kDefineUnixDrive =
    CTL_CODE(0x6d, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

}  // namespace

ScratchDrive::ScratchDrive(const std::wstring& folder) {
    const DWORD used = GetLogicalDrives();
    for (wchar_t letter = L'P'; letter <= L'Y'; ++letter) {
        if ((used & (1u << (letter - L'A'))) == 0) {
            letter_ = letter;
            break;
        }
    }
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    char* target = unixName != nullptr ? unixName(folder.c_str()) : nullptr;
    if (letter_ != 0 && target != nullptr) {
        mapped_ = Define(target);
    }
    HeapFree(GetProcessHeap(), 0, target);
}

ScratchDrive::~ScratchDrive() {
    if (mapped_) {
        Define(nullptr);
    }
}

bool ScratchDrive::Define(const char* target) {
    const size_t targetBytes = target != nullptr ? strlen(target) + 1 : 0;
    std::vector<char> request(sizeof(UnixDrive) + targetBytes);
    auto* drive = reinterpret_cast<UnixDrive*>(request.data());
    drive->size = static_cast<ULONG>(request.size());
    drive->type = target != nullptr ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
    drive->letter = static_cast<WCHAR>(letter_ - L'A' + L'a');
    if (target != nullptr) {
        drive->mountPointOffset = sizeof(UnixDrive);
        memcpy(request.data() + sizeof(UnixDrive), target, targetBytes);
    }
    ScopedFileHandle manager(CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
    DWORD returned = 0;
    return manager && DeviceIoControl(manager.get(), kDefineUnixDrive, request.data(), drive->size,
                                      nullptr, 0, &returned, nullptr);
}
