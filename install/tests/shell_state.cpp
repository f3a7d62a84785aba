#include "install/tests/shell_state.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/scoped_handle.h"

namespace {

const wchar_t kUserShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

}  // namespace

ShortcutTarget ReadShortcut(const std::wstring& linkPath) {
    ShortcutTarget target;
    const bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    {
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> file;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW,
                                       reinterpret_cast<void**>(link.receive()))) &&
            SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile,
                                                 reinterpret_cast<void**>(file.receive()))) &&
            SUCCEEDED(file.get()->Load(linkPath.c_str(), STGM_READ))) {
            wchar_t text[1024] = L"";
            target.loaded = true;
            link.get()->GetPath(text, 1024, nullptr, SLGP_RAWPATH);
            target.path = text;
            text[0] = L'\0';
            link.get()->GetArguments(text, 1024);
            target.arguments = text;
            text[0] = L'\0';
            link.get()->GetWorkingDirectory(text, 1024);
            target.workingFolder = text;
        }
    }
    if (comStarted) {
        CoUninitialize();
    }
    return target;
}

DesktopFolderOverride::DesktopFolderOverride(const std::wstring& folder) : folder_(folder) {
    wchar_t earlier[1024] = L"";
    DWORD size = sizeof(earlier) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &earlierType_, earlier,
                     &size) == ERROR_SUCCESS) {
        earlier_ = earlier;
    }
    CreateDirectoryW(folder_.c_str(), nullptr);
    RegSetKeyValueW(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", REG_EXPAND_SZ,
                    folder_.c_str(), static_cast<DWORD>((folder_.size() + 1) * sizeof(wchar_t)));
}

DesktopFolderOverride::~DesktopFolderOverride() {
    RegSetKeyValueW(HKEY_CURRENT_USER, kUserShellFolders, L"Desktop", earlierType_,
                    earlier_.c_str(), static_cast<DWORD>((earlier_.size() + 1) * sizeof(wchar_t)));
    RemoveDirectoryW(folder_.c_str());
}
