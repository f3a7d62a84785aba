#include "testbed/product_state.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/scoped_handle.h"

namespace {

void DeleteKeyTree(HKEY root, const wchar_t* path) {
    RegDeleteTreeW(root, path);
}

}  // namespace

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
    return path;
}

std::wstring DataFolder(int csidl) {
    return SpecialFolder(csidl) + L"\\ORBEK\\Portvane";
}

std::wstring ProgramFilesFolder() {
    return SpecialFolder(CSIDL_PROGRAM_FILES);
}

std::wstring DefaultInstallFolder() {
    return ProgramFilesFolder() + L"\\ORBEK\\Portvane";
}

std::wstring StartMenuShortcutPath() {
    return SpecialFolder(CSIDL_PROGRAMS) + L"\\Portvane.lnk";
}

std::wstring DesktopShortcutPath() {
    return SpecialFolder(CSIDL_DESKTOP) + L"\\Portvane.lnk";
}

void DeleteTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (search) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search.get(), &entry));
    }
    RemoveDirectoryW(folder.c_str());
}

void DeleteServiceIfPresent(const wchar_t* serviceName) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        return;
    }
    ScopedServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service) {
        return;
    }
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 50 && QueryServiceStatus(service.get(), &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i) {
        Sleep(100);
    }
    DeleteService(service.get());
    service.reset();
    for (int i = 0; i < 50; ++i) {
        ScopedServiceHandle still(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS));
        if (!still) {
            break;
        }
        Sleep(100);
    }
}

void ResetProductState() {
    DeleteServiceIfPresent(L"Portvane_PService");
    DeleteServiceIfPresent(L"Portvane_DService");
    DeleteTree(ProgramFilesFolder() + L"\\ORBEK");
    DeleteKeyTree(HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORBEK_Portvane");
    DeleteKeyTree(HKEY_CURRENT_USER, L"Software\\orbek");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, L"Software\\orbek");
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        SetFileAttributesW(link.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(link.c_str());
    }
    DeleteTree(SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\ORBEK");
    DeleteTree(SpecialFolder(CSIDL_LOCAL_APPDATA) + L"\\ORBEK");
}
