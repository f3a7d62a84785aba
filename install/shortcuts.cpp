#include "install/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/scoped_handle.h"

int ShortcutResultOf(HRESULT saveResult) {
    return saveResult == S_OK ? 1 : 0;
}

bool CreateShortcut(const wchar_t* linkPath, const wchar_t* targetPath) {
    // The worker thread has no COM of its own; each shortcut brings its own
    // apartment. A thread already in another apartment keeps it untouched.
    const bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    // Every exit throws its result so that one catch does the clean-up, and COM
    // is left only after both interfaces are released.
    try {
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link.receive())))) {
            throw 0;
        }
        link.get()->SetPath(targetPath);
        if (FAILED(link.get()->QueryInterface(IID_IPersistFile,
                                              reinterpret_cast<void**>(file.receive())))) {
            throw 0;
        }
        throw ShortcutResultOf(file.get()->Save(linkPath, TRUE));
    } catch (int result) {
        file.reset();
        link.reset();
        if (comStarted) {
            CoUninitialize();
        }
        return result == 1;
    }
}
