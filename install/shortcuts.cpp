#include "install/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/scoped_handle.h"

namespace {

// A step's result as the system error of the install log's OS message line:
// the Win32 error an HRESULT carries (a held or locked file), else the HRESULT
// itself, whose text the system also has.
DWORD ErrorOfShortcutStep(HRESULT stepResult) {
    if (stepResult == S_OK) {
        return ERROR_SUCCESS;
    }
    if (HRESULT_FACILITY(stepResult) == FACILITY_WIN32) {
        return HRESULT_CODE(stepResult);
    }
    // S_FALSE leaves the file uncertain: as unspecified a failure as E_FAIL.
    return static_cast<DWORD>(SUCCEEDED(stepResult) ? E_FAIL : stepResult);
}

}  // namespace

int ShortcutResultOf(HRESULT saveResult) {
    return saveResult == S_OK ? 1 : 0;
}

bool CreateShortcut(const wchar_t* linkPath, const wchar_t* targetPath) {
    // The worker thread has no COM of its own; each shortcut brings its own
    // apartment. A thread already in another apartment keeps it untouched.
    const bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    HRESULT step = E_FAIL;
    // Every exit throws its result so that one catch does the clean-up, and COM
    // is left only after both interfaces are released.
    try {
        step = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(link.receive()));
        if (FAILED(step)) {
            throw 0;
        }
        // A link saved without its target would open nothing.
        step = link.get()->SetPath(targetPath);
        if (FAILED(step)) {
            throw 0;
        }
        step =
            link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.receive()));
        if (FAILED(step)) {
            throw 0;
        }
        step = file.get()->Save(linkPath, TRUE);
        throw ShortcutResultOf(step);
    } catch (int result) {
        file.reset();
        link.reset();
        if (comStarted) {
            CoUninitialize();
        }
        SetLastError(ErrorOfShortcutStep(step));
        return result == 1;
    }
}
